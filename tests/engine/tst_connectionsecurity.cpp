// Connection security: the settings with their environment overrides, what each driver
// is told, and encrypted connections through the real FreeTDS driver to the sandbox
// speaking TLS inside TDS, with certificates made for the test.

#include "engine/Connectionsecurity.h"
#include "engine/Dbaccess.h"
#include "engine/Dbconnectionstring.h"
#include "engine/Freetdsconfig.h"
#include "engine/Tlsprobe.h"
#include "engine/Torvanethread.h"
#include "tests/support/Monitorfixture.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Settingsfixture.h"
#include "tests/support/Testcertificates.h"
#include "tests/support/Testscenario.h"

#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(TConnectionSecurity)

namespace {

TConnectionSecurity Security(std::optional<EEncrypt> encrypt, std::optional<bool> trust,
                             const QString& caFile = {})
{
    return {encrypt, trust, caFile};
}

// The connection string's attributes after the ones every connection has.
QString SecurityAttributes(const TConnectionSecurity& settings, const std::string& driver)
{
    const std::string plain = TranslateConnectionString("Data Source=db1,1433", driver);
    const TDriverSecurity security = DriverSecurity(settings, driver);
    return QString::fromStdString(
        TranslateConnectionString("Data Source=db1,1433", driver, security).substr(plain.size()));
}

} // namespace

class TestConnectionSecurity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void driverAttributes_data();
    void driverAttributes();
    void environmentOverHive_data();
    void environmentOverHive();
    void freeTdsSectionsKeepEachOther();

    void encryptedConnection_data();
    void encryptedConnection();
    void monitorRefreshesOverTls();
    void serverWithoutCertificate();
    void explanationForMicrosoftDrivers_data();
    void explanationForMicrosoftDrivers();

private:
    std::unique_ptr<TDbConnection> Open(TSandboxFixture& sandbox, const TConnectionSecurity& security);

    // Made before any thread starts: it sets FREETDSCONF.
    std::unique_ptr<TFreeTdsConfig> FreeTdsConfig;
    std::unique_ptr<TTestCertificates> Certificates;
    std::unique_ptr<TSettingsFixture> Settings;
};

void TestConnectionSecurity::initTestCase()
{
    FreeTdsConfig = std::make_unique<TFreeTdsConfig>();
    QVERIFY(FreeTdsConfig->IsValid());
    Certificates = std::make_unique<TTestCertificates>();
    QVERIFY2(Certificates->Made(), qPrintable(Certificates->Error()));
}

void TestConnectionSecurity::init()
{
    Settings = std::make_unique<TSettingsFixture>();
}

void TestConnectionSecurity::cleanup()
{
    Settings.reset();
    for (const char* name : {"TORVANE_ENCRYPT", "TORVANE_TRUST_SERVER_CERTIFICATE", "TORVANE_CA_FILE"})
        qunsetenv(name);
}

void TestConnectionSecurity::driverAttributes_data()
{
    QTest::addColumn<TConnectionSecurity>("settings");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<QString>("freeTdsCaFile");

    const QString freeTds = QStringLiteral("FreeTDS");
    const QString driver18 = QStringLiteral("ODBC Driver 18 for SQL Server");
    QTest::newRow("FreeTDS default: when offered, no check")
        << Security({}, {}) << freeTds << ";Encryption=request"
        << "";
    QTest::newRow("FreeTDS required, validated by the system's store")
        << Security(EEncrypt::Required, false) << freeTds << ";Encryption=require"
        << "system";
    QTest::newRow("FreeTDS: a CA file asks for a check")
        << Security({}, {}, "/x/ca.pem") << freeTds << ";Encryption=request"
        << "/x/ca.pem";
    QTest::newRow("FreeTDS: trusted, CA file unused")
        << Security(EEncrypt::Required, true, "/x/ca.pem") << freeTds << ";Encryption=require"
        << "";
    QTest::newRow("FreeTDS off checks nothing")
        << Security(EEncrypt::Off, false, "/x/ca.pem") << freeTds << ";Encryption=off"
        << "";
    QTest::newRow("Driver 18 default: its own") << Security({}, {}, "/x/ca.pem") << driver18 << ""
                                                << "";
    QTest::newRow("Driver 18 trusting")
        << Security(EEncrypt::Required, true) << driver18 << ";Encrypt=yes;TrustServerCertificate=yes"
        << "";
    QTest::newRow("Driver 18 off, validated")
        << Security(EEncrypt::Off, false) << driver18 << ";Encrypt=no;TrustServerCertificate=no"
        << "";
    QTest::newRow("Driver 18 when offered")
        << Security(EEncrypt::WhenOffered, {}) << driver18 << ";Encrypt=optional"
        << "";
}

void TestConnectionSecurity::driverAttributes()
{
    QFETCH(TConnectionSecurity, settings);
    QFETCH(QString, driver);
    QFETCH(QString, attributes);
    QFETCH(QString, freeTdsCaFile);
    QCOMPARE(SecurityAttributes(settings, driver.toStdString()), attributes);
    QCOMPARE(QString::fromStdString(DriverSecurity(settings, driver.toStdString()).FreeTdsCaFile),
             freeTdsCaFile);
}

void TestConnectionSecurity::environmentOverHive_data()
{
    QTest::addColumn<QByteArray>("encrypt");
    QTest::addColumn<QByteArray>("trust");
    QTest::addColumn<QByteArray>("caFile");
    QTest::addColumn<TConnectionSecurity>("expected");
    QTest::addColumn<bool>("refused");

    const TConnectionSecurity saved = Security(EEncrypt::Off, true, "/saved/ca.pem");
    QTest::newRow("hive alone") << QByteArray() << QByteArray() << QByteArray() << saved << false;
    QTest::newRow("environment over every value")
        << QByteArray("Required") << QByteArray("no") << QByteArray("/env/ca.pem")
        << Security(EEncrypt::Required, false, "/env/ca.pem") << false;
    QTest::newRow("offered") << QByteArray("offered") << QByteArray() << QByteArray()
                             << Security(EEncrypt::WhenOffered, true, "/saved/ca.pem") << false;
    QTest::newRow("mistyped encrypt keeps the hive's")
        << QByteArray("always") << QByteArray() << QByteArray() << saved << true;
    QTest::newRow("mistyped trust keeps the hive's")
        << QByteArray() << QByteArray("maybe") << QByteArray() << saved << true;
}

void TestConnectionSecurity::environmentOverHive()
{
    QFETCH(QByteArray, encrypt);
    QFETCH(QByteArray, trust);
    QFETCH(QByteArray, caFile);
    QFETCH(TConnectionSecurity, expected);
    QFETCH(bool, refused);

    TAllSettings all;
    all.Security = Security(EEncrypt::Off, true, "/saved/ca.pem");
    QVERIFY(SaveAllSettings(all));
    QCOMPARE(ReadConnectionSecurity(), all.Security);
    qputenv("TORVANE_ENCRYPT", encrypt);
    qputenv("TORVANE_TRUST_SERVER_CERTIFICATE", trust);
    qputenv("TORVANE_CA_FILE", caFile);
    if (refused)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(" is refused: it takes .* The saved setting is used\\.$"));
    QCOMPARE(ChosenConnectionSecurity(), expected);

    // What is left to the driver is taken out of the store again.
    all.Security = {};
    QVERIFY(SaveAllSettings(all));
    QCOMPARE(ReadConnectionSecurity(), TConnectionSecurity{});
}

void TestConnectionSecurity::freeTdsSectionsKeepEachOther()
{
    const std::string first = FreeTdsSectionName("db1", "", "1433");
    const std::string second = FreeTdsSectionName("db2", "SALES", "");
    QVERIFY(first != second);
    WriteFreeTdsSection(first, {{"host", "db1"}, {"ca file", "/a.pem"}});
    WriteFreeTdsSection(second, {{"host", "db2"}, {"ca file", "/b.pem"}});
    WriteFreeTdsSection(first, {{"host", "db1"}, {"ca file", "/c.pem"}});
    QFile file(QFile::decodeName(qgetenv("FREETDSCONF")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(text.count(QByteArray("[" + QByteArray::fromStdString(first) + "]")), 1);
    QVERIFY(text.contains("ca file = /b.pem"));
    QVERIFY(text.contains("ca file = /c.pem"));
    QVERIFY(!text.contains("/a.pem"));
    QVERIFY_THROWS_EXCEPTION(EDbError, WriteFreeTdsSection(first, {{"ca file", "/a.pem\n[global]"}}));
}

std::unique_ptr<TDbConnection> TestConnectionSecurity::Open(TSandboxFixture& sandbox,
                                                            const TConnectionSecurity& security)
{
    auto connection = std::make_unique<TDbConnection>();
    connection->SetConnectionString(TTorvaneThread::BuildConnectionString(
        sandbox.ServerName(), false, TSandboxFixture::Login, TSandboxFixture::Password));
    connection->SetSecurity(security);
    connection->Open();
    return connection;
}

void TestConnectionSecurity::encryptedConnection_data()
{
    QTest::addColumn<int>("encrypt"); // -1: the driver's default
    QTest::addColumn<int>("trust");   // -1: the driver's default, else 0 or 1
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("failure"); // empty: connects and runs a query

    QTest::newRow("required, the test CA") << 2 << 0 << "ca"
                                           << "";
    QTest::newRow("when offered, the test CA") << 1 << -1 << "ca"
                                               << "";
    QTest::newRow("required, trusting without a CA") << 2 << 1 << ""
                                                     << "";
    QTest::newRow("FreeTDS's default") << -1 << -1 << ""
                                       << "";
    QTest::newRow("a CA that did not sign it") << 2 << 0 << "other"
                                               << "The server's certificate is not trusted (";
    QTest::newRow("the system's store does not know the test CA")
        << 2 << 0 << ""
        << "The server's certificate is not trusted (";
    QTest::newRow("encryption off") << 0 << -1 << "" << TlsServerRequiresEncryption;
}

void TestConnectionSecurity::encryptedConnection()
{
    QFETCH(int, encrypt);
    QFETCH(int, trust);
    QFETCH(QString, caFile);
    QFETCH(QString, failure);

    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    QVERIFY(sandbox.Server().SetEncryption(true, Certificates->CertificateFile().toStdString(),
                                           Certificates->KeyFile().toStdString()));
    TConnectionSecurity security;
    if (encrypt >= 0)
        security.Encrypt = static_cast<EEncrypt>(encrypt);
    if (trust >= 0)
        security.TrustServerCertificate = trust == 1;
    security.CAFile = caFile == QLatin1String("ca")      ? Certificates->CaFile()
                      : caFile == QLatin1String("other") ? Certificates->OtherCaFile()
                                                         : QString();
    try {
        const auto connection = Open(sandbox, security);
        QVERIFY2(failure.isEmpty(), "the connection should have failed");
        TDbQuery query(*connection);
        query.SetCommandText("SELECT @@SPID AS spid, MIN(login_time) AS serverstarttime FROM sysprocesses");
        query.Open();
        QVERIFY(query.AsInteger("spid") > 0);
    } catch (const EDbError& error) {
        const QString message = QString::fromStdString(error.Message);
        QVERIFY2(!failure.isEmpty(), qPrintable(message));
        // The driver's own text comes first, the explanation after it.
        QVERIFY2(message.indexOf(QStringLiteral("\n\n") + failure) > 0, qPrintable(message));
    }
}

void TestConnectionSecurity::monitorRefreshesOverTls()
{
    TSandboxFixture sandbox;
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    QVERIFY(sandbox.Server().SetEncryption(true, Certificates->CertificateFile().toStdString(),
                                           Certificates->KeyFile().toStdString()));
    qputenv("TORVANE_ENCRYPT", "required");
    qputenv("TORVANE_CA_FILE", QFile::encodeName(Certificates->CaFile()));
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, TSandboxFixture::Login, TSandboxFixture::Password));
    QTRY_VERIFY_WITH_TIMEOUT(monitor.Refreshes() >= 1, 30000);
    QVERIFY(!monitor.Thread()->Disconnected);
}

void TestConnectionSecurity::serverWithoutCertificate()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    try {
        Open(sandbox, Security(EEncrypt::Required, true));
        QFAIL("the connection should have failed");
    } catch (const EDbError& error) {
        QVERIFY2(
            QString::fromStdString(error.Message).endsWith(QStringLiteral("\n\n") + TlsServerCannotEncrypt),
            error.Message.c_str());
    }
    // Nothing is added where encryption is not the reason.
    try {
        auto connection = std::make_unique<TDbConnection>();
        connection->SetConnectionString(
            TTorvaneThread::BuildConnectionString(sandbox.ServerName(), false, "sa", "wrong"));
        connection->Open();
        QFAIL("the logon should have failed");
    } catch (const EDbError& error) {
        QCOMPARE(QString::fromStdString(error.Message), QStringLiteral("Login failed for user 'sa'."));
    }
}

void TestConnectionSecurity::explanationForMicrosoftDrivers_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<TConnectionSecurity>("settings");
    QTest::addColumn<bool>("encrypting");
    QTest::addColumn<QString>("explanation"); // its start; empty: none
    // Microsoft's drivers are not installed here; what Torvane adds to their failures is
    // checked alone.
    const QString driver18 = QStringLiteral("ODBC Driver 18 for SQL Server");
    const QString driver17 = QStringLiteral("ODBC Driver 17 for SQL Server");
    const QString untrusted =
        QStringLiteral("The server's certificate is not trusted (unable to get local issuer "
                       "certificate). Add the certificate of the authority");
    QTest::newRow("18: its default validates against the system's store")
        << driver18 << Security({}, {}) << true << untrusted;
    QTest::newRow("18 switched off, the server insists")
        << driver18 << Security(EEncrypt::Off, {}) << true << untrusted;
    QTest::newRow("18 trusting") << driver18 << Security({}, true) << true << "";
    QTest::newRow("18 required of a server without a certificate")
        << driver18 << Security({}, true) << false << TlsServerCannotEncrypt;
    QTest::newRow("18 off, server without a certificate")
        << driver18 << Security(EEncrypt::Off, {}) << false << "";
    QTest::newRow("17: its default checks nothing") << driver17 << Security({}, {}) << true << "";
    QTest::newRow("17: its default asks for no encryption") << driver17 << Security({}, {}) << false << "";
    QTest::newRow("17 told to validate")
        << driver17 << Security(EEncrypt::Required, false) << true << untrusted;
}

void TestConnectionSecurity::explanationForMicrosoftDrivers()
{
    QFETCH(QString, driver);
    QFETCH(TConnectionSecurity, settings);
    QFETCH(bool, encrypting);
    QFETCH(QString, explanation);
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    if (encrypting)
        QVERIFY(sandbox.Server().SetEncryption(true, Certificates->CertificateFile().toStdString(),
                                               Certificates->KeyFile().toStdString()));
    const QString found = QString::fromStdString(ExplainTlsFailure(
        ParseServerName(sandbox.ServerName()), DriverSecurity(settings, driver.toStdString()), false, 5));
    QVERIFY2(explanation.isEmpty() ? found.isEmpty() : found.startsWith(explanation), qPrintable(found));
}

QTEST_GUILESS_MAIN(TestConnectionSecurity)
#include "tst_connectionsecurity.moc"
