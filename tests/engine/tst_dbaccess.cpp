// The access layer through the real FreeTDS ODBC driver against the sandbox server.

#include "engine/Dbaccess.h"
#include "engine/Processcommands.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Testscenario.h"
#include "engine/Torvanethread.h"

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
    void closeAndReopen();
    void readsColumnsByName();
    void batchSkipsRowCountsBeforeItsData();
    void serverErrorCarriesMessageAndSource();
    void queryOnClosedConnectionFails();
    void droppedConnectionFailsTheNextQuery();

private:
    std::unique_ptr<TDbConnection> Connect(const std::string& login, const std::string& password);
    std::unique_ptr<TSandboxFixture> Sandbox;
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
