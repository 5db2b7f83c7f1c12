// The access layer through the real FreeTDS ODBC driver against the sandbox server.

#include "engine/Dbaccess.h"
#include "engine/Packetsize.h"
#include "engine/Processcommands.h"
#include "engine/Torvanethread.h"
#include "settings/Registry.h"
#include "settings/Torvanesettings.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Testscenario.h"

#include <QtTest>

#include <memory>

class TestDbAccess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void logon_data();
    void logon();
    void timeoutsFromEnvironment_data();
    void timeoutsFromEnvironment();
    void packetSizeFromSettings_data();
    void packetSizeFromSettings();
    void closeAndReopen();
    void readsColumnsByName();
    void batchSkipsRowCountsBeforeItsData();
    void serverErrorCarriesMessageAndSource();
    void queryOnClosedConnectionFails();
    void droppedConnectionFailsTheNextQuery();

private:
    std::unique_ptr<TDbConnection> Connect(const std::string& login, const std::string& password);
    std::unique_ptr<TSandboxFixture> Sandbox;
    QTemporaryDir Settings;
};

void TestDbAccess::initTestCase()
{
    Sandbox = std::make_unique<TSandboxFixture>(QuietScenarioJson);
    QVERIFY2(Sandbox->Started(), Sandbox->Error().c_str());
}

std::unique_ptr<TDbConnection> TestDbAccess::Connect(const std::string& login, const std::string& password)
{
    auto connection = std::make_unique<TDbConnection>();
    connection->SetConnectionString(
        TTorvaneThread::BuildConnectionString(Sandbox->ServerName(), false, login, password));
    connection->Open();
    return connection;
}

void TestDbAccess::logon_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message"); // empty: the logon succeeds
    QTest::addColumn<QString>("source");

    QTest::newRow("server login") << "sa" << "torvane" << "" << "";
    QTest::newRow("password with ; = ' { } \" and a blank") << OddPasswordLogin << OddPassword << "" << "";
    QTest::newRow("wrong password") << "sa" << "wrong" << "Login failed for user 'sa'." << "FreeTDS SQL Server";
    QTest::newRow("password cut at its semicolon is wrong") << OddPasswordLogin << "p" << "Login failed for user 'odd'."
                                                            << "FreeTDS SQL Server";
    // A long wrong password that begins with the right one: passed whole, or refused whole
    // where the connection string would outgrow the ODBC call's 16-bit length (a 65,472
    // character password once wrapped round it and was cut back to the right one).
    QTest::newRow("long password, passed whole")
        << "sa"
        << "torvane" + QString(30000, 'x') << "Login failed for user 'sa'."
        << "FreeTDS SQL Server";
    QTest::newRow("password past the call's limit")
        << "sa"
        << "torvane" + QString(32760, 'x') << ConnectionStringTooLong << "Torvane";
    QTest::newRow("password past 65,535")
        << "sa"
        << "torvane" + QString(65465, 'x') << ConnectionStringTooLong << "Torvane";
    QTest::newRow("unknown login") << "nobody" << "x" << "Login failed for user 'nobody'." << "FreeTDS SQL Server";
}

void TestDbAccess::logon()
{
    QFETCH(QString, login);
    QFETCH(QString, password);
    QFETCH(QString, message);
    QFETCH(QString, source);
    try {
        const auto connection = Connect(login.toStdString(), password.toStdString());
        QVERIFY2(message.isEmpty(), "the logon should have failed");
        QVERIFY(connection->IsOpen());
        TDbQuery query(*connection);
        query.SetCommandText("SELECT @@SPID AS spid, MIN(login_time) AS serverstarttime FROM sysprocesses");
        query.Open();
        QVERIFY(query.AsInteger("spid") > 0);
    } catch (const EDbError& error) {
        QCOMPARE(QString::fromStdString(error.Message), message);
        QCOMPARE(QString::fromStdString(error.Source), source);
    }
}

void TestDbAccess::timeoutsFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("loginSeconds");
    QTest::addColumn<int>("querySeconds");
    QTest::addColumn<bool>("refused");

    QTest::newRow("login time-out") << QByteArray("TORVANE_LOGIN_TIMEOUT") << QByteArray("60") << 60 << 30
                                    << false;
    QTest::newRow("longest query time-out")
        << QByteArray("TORVANE_QUERY_TIMEOUT") << QByteArray("3600") << 15 << 3600 << false;
    QTest::newRow("set but empty") << QByteArray("TORVANE_QUERY_TIMEOUT") << QByteArray("") << 15 << 30
                                   << false;
    QTest::newRow("an hour and a second")
        << QByteArray("TORVANE_QUERY_TIMEOUT") << QByteArray("3601") << 15 << 30 << true;
    QTest::newRow("largest int") << QByteArray("TORVANE_QUERY_TIMEOUT") << QByteArray("2147483647") << 15
                                 << 30 << true;
    QTest::newRow("beyond int") << QByteArray("TORVANE_LOGIN_TIMEOUT") << QByteArray("99999999999") << 15
                                << 30 << true;
    QTest::newRow("zero") << QByteArray("TORVANE_LOGIN_TIMEOUT") << QByteArray("0") << 15 << 30 << true;
    QTest::newRow("negative") << QByteArray("TORVANE_QUERY_TIMEOUT") << QByteArray("-5") << 15 << 30 << true;
    QTest::newRow("with a unit") << QByteArray("TORVANE_LOGIN_TIMEOUT") << QByteArray("15s") << 15 << 30
                                 << true;
}

void TestDbAccess::timeoutsFromEnvironment()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, value);
    QFETCH(int, loginSeconds);
    QFETCH(int, querySeconds);
    QFETCH(bool, refused);

    const auto restore = qScopeGuard([&] { qunsetenv(variable.constData()); });
    qputenv(variable.constData(), value);
    if (refused) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^" +
                                                QRegularExpression::escape(QString::fromLatin1(variable) +
                                                                           '=' + QString::fromLatin1(value)) +
                                                " is refused: it takes a whole number of seconds "
                                                "from 1 to 3600\\. \\d+ seconds are used\\.$"));
    } else {
        QTest::failOnWarning(QRegularExpression(".*"));
    }
    const TDbTimeouts timeouts = TDbTimeouts::FromEnvironment();
    QCOMPARE(timeouts.LoginSeconds, loginSeconds);
    QCOMPARE(timeouts.QuerySeconds, querySeconds);
}

void TestDbAccess::packetSizeFromSettings_data()
{
    QTest::addColumn<QByteArray>("environment"); // null: not set
    QTest::addColumn<QVariant>("saved");         // invalid: no value; a string: not an integer
    QTest::addColumn<int>("granted");            // as the driver reports the server's answer
    QTest::addColumn<bool>("refused");

    QTest::newRow("the default: the largest packets") << QByteArray() << QVariant() << 32767 << false;
    QTest::newRow("saved in the machine hive") << QByteArray() << QVariant(8192) << 8192 << false;
    QTest::newRow("the environment wins") << QByteArray("16384") << QVariant(8192) << 16384 << false;
    QTest::newRow("0 leaves it to the driver") << QByteArray("0") << QVariant(8192) << 4096 << false;
    QTest::newRow("0 saved") << QByteArray() << QVariant(0) << 4096 << false;
    QTest::newRow("set but empty") << QByteArray("") << QVariant(8192) << 8192 << false;
    QTest::newRow("environment too large, the hive's stands")
        << QByteArray("32768") << QVariant(8192) << 8192 << true;
    QTest::newRow("environment too small") << QByteArray("511") << QVariant() << 32767 << true;
    QTest::newRow("environment with a unit") << QByteArray("8k") << QVariant() << 32767 << true;
    QTest::newRow("environment negative") << QByteArray("-4096") << QVariant() << 32767 << true;
    QTest::newRow("saved out of range") << QByteArray() << QVariant(100000) << 32767 << true;
    QTest::newRow("saved as a string") << QByteArray() << QVariant(QStringLiteral("8192")) << 32767 << true;
}

void TestDbAccess::packetSizeFromSettings()
{
    QFETCH(QByteArray, environment);
    QFETCH(QVariant, saved);
    QFETCH(int, granted);
    QFETCH(bool, refused);
    const QString hive = Settings.filePath(QStringLiteral("machine.reg"));
    QFile::remove(hive);
    qputenv("TORVANE_HKLM_FILE", hive.toLocal8Bit());
    if (saved.isValid()) {
        TRegistry registry(TRegistryRoot::LocalMachine);
        QVERIFY(registry.OpenKey(QString::fromLatin1(TorvaneSettings::RootKey), true));
        const QString name = QString::fromLatin1(TorvaneSettings::PacketSize);
        QVERIFY(saved.typeId() == QMetaType::QString ? registry.WriteString(name, saved.toString())
                                                     : registry.WriteInteger(name, saved.toInt()));
    }
    if (environment.isNull())
        qunsetenv("TORVANE_PACKET_SIZE");
    else
        qputenv("TORVANE_PACKET_SIZE", environment);
    if (refused)
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("is refused: it takes 0 .* from 512 to 32767")));

    TDbConnection connection;
    connection.SetConnectionString(
        TTorvaneThread::BuildConnectionString(Sandbox->ServerName(), false, "sa", "torvane"));
    connection.SetPacketSize(ChosenPacketSize());
    qunsetenv("TORVANE_PACKET_SIZE");
    connection.Open();
    QCOMPARE(connection.PacketSize(), granted);
    // The connection works in packets of that size: a batch and its result go through.
    TDbQuery query(connection);
    query.SetCommandText("SELECT @@SPID AS spid, MIN(login_time) AS serverstarttime FROM sysprocesses");
    query.Open();
    QVERIFY(query.AsInteger("spid") > 0);
}

void TestDbAccess::closeAndReopen()
{
    const auto connection = Connect("sa", "torvane");
    connection->Close();
    QVERIFY(!connection->IsOpen());
    connection->Open();
    QVERIFY(connection->IsOpen());
    TDbQuery probe(*connection);
    probe.SetCommandText("SELECT 1");
    probe.Open();
    QCOMPARE(probe.RecordCount(), 1);
}

void TestDbAccess::readsColumnsByName()
{
    const auto connection = Connect("sa", "torvane");
    TDbQuery query(*connection);
    query.SetCommandText("SELECT @@SPID AS spid, MIN(login_time) AS serverstarttime FROM sysprocesses");
    query.Open();
    QVERIFY(!query.Eof());
    // Column names are found whatever their case; the start time is the scenario's
    // uptime (25 hours and a bit) before now.
    QCOMPARE(query.AsInteger("SPID"), query.AsInteger("spid"));
    QVERIFY(!query.IsNull("serverstarttime"));
    const double ageDays = CurrentDateTime() - query.AsDateTime("serverstarttime");
    QVERIFY2(ageDays > 90000.0 / 86400 && ageDays < 90200.0 / 86400, QByteArray::number(ageDays * 86400).constData());
    QVERIFY_THROWS_EXCEPTION(EDbError, query.AsInteger("nosuchcolumn"));
    query.Next();
    QVERIFY(query.Eof());
    QVERIFY_THROWS_EXCEPTION(EDbError, query.AsInteger("spid"));
}

void TestDbAccess::batchSkipsRowCountsBeforeItsData()
{
    // The statement text batch assigns variables and runs use before its one row.
    const auto connection = Connect("sa", "torvane");
    TDbQuery query(*connection);
    query.SetCommandText(StatementTextBatch(52));
    query.Open();
    QCOMPARE(query.RecordCount(), 1);
    QVERIFY(QString::fromStdString(query.AsString("sqltext")).contains(QStringLiteral("dbo.Orders")));
    // The connection is free for the next request afterwards.
    TDbQuery probe(*connection);
    probe.SetCommandText("SELECT 1");
    probe.Open();
    QCOMPARE(probe.RecordCount(), 1);
}

void TestDbAccess::serverErrorCarriesMessageAndSource()
{
    const auto connection = Connect("sa", "torvane");
    TDbQuery query(*connection);
    query.SetCommandText("select * from nosuchtable");
    try {
        query.Open();
        QFAIL("the query should have failed");
    } catch (const EDbError& error) {
        QVERIFY(!error.Message.empty());
        QVERIFY2(error.Message.front() != '[', error.Message.c_str());
        QCOMPARE(QString::fromStdString(error.Source), QStringLiteral("FreeTDS SQL Server"));
    }
    QVERIFY(!query.IsOpen());
}

void TestDbAccess::queryOnClosedConnectionFails()
{
    TDbConnection connection;
    TDbQuery query(connection);
    query.SetCommandText("SELECT 1");
    QVERIFY_THROWS_EXCEPTION(EDbError, query.Open());
}

void TestDbAccess::droppedConnectionFailsTheNextQuery()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TDbConnection connection;
    connection.SetConnectionString(TTorvaneThread::BuildConnectionString(sandbox.ServerName(), false, "sa", "torvane"));
    connection.Open();
    sandbox.Server().GoDown();
    QTRY_COMPARE(sandbox.Server().ConnectionCount(), 0);
    TDbQuery probe(connection);
    probe.SetCommandText("SELECT 1");
    QVERIFY_THROWS_EXCEPTION(EDbError, probe.Open());
    QVERIFY_THROWS_EXCEPTION(EDbError, connection.Open());
    QVERIFY(!connection.IsOpen());
    QVERIFY(sandbox.Server().ComeBack());
    connection.Open();
    probe.Open();
    QCOMPARE(probe.RecordCount(), 1);
}

QTEST_GUILESS_MAIN(TestDbAccess)
#include "tst_dbaccess.moc"
