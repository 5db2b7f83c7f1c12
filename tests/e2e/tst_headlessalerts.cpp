// The alert mails of torvane --headless, end to end: a sandbox server in this process
// that stops answering or keeps its CPU busy, the program run as a script runs it, and
// a real mail server on loopback receiving what it sends.

#include "settings/Registry.h"
#include "settings/Torvanesettings.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Smtpserverfixture.h"
#include "tests/support/Testscenario.h"

#include <QtTest>

using namespace TorvaneSettings;

class TestHeadlessAlerts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void hungServerSendsOneDisconnectMail();
    void sustainedCpuSendsOneMail();
    void failedMailIsReportedOnce();

private:
    // The alert settings as the properties dialog saves them, mailing to smtpHost.
    void SaveSettings(const QString& smtpHost, bool disconnectAlert, bool cpuAlert) const;
    void StartMonitor();
    void ReadOutput();
    // Waits for this many more tables on standard output.
    bool WaitForRefreshes(int count);

    std::unique_ptr<TSandboxFixture> Sandbox;
    std::unique_ptr<QTemporaryDir> Settings;
    QProcess Monitor;
    QString Out;
    QString Err;
};

void TestHeadlessAlerts::initTestCase()
{
    Sandbox = std::make_unique<TSandboxFixture>(QuietScenarioJson);
    QVERIFY2(Sandbox->Started(), Sandbox->Error().c_str());
}

void TestHeadlessAlerts::init()
{
    Settings = std::make_unique<QTemporaryDir>();
    Out.clear();
    Err.clear();
}

void TestHeadlessAlerts::cleanup()
{
    Sandbox->Server().Resume();
    Monitor.terminate();
    QVERIFY(Monitor.waitForFinished(30000));
}

void TestHeadlessAlerts::SaveSettings(const QString& smtpHost, bool disconnectAlert, bool cpuAlert) const
{
    const TRegistryPaths paths{Settings->filePath("machine.reg"), Settings->filePath("user/machine.reg"),
                               Settings->filePath("user/user.reg")};
    TAllSettings all;
    all.EmailAlerts = true;
    all.ServerDisconnect = disconnectAlert;
    all.CPUUsage = cpuAlert;
    all.CPUUsageRefresh = 3;
    all.CPUUsageValue = 1; // the sandbox's CPU is always busier than that
    all.SMTPHost = smtpHost;
    all.SMTPUser = "torvane-tester";
    all.SMTPSender = "torvane@example.com";
    all.AlertEmails = "dba@example.com";
    QVERIFY(SaveAllSettings(all, paths));
}

void TestHeadlessAlerts::StartMonitor()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TORVANE_PASSWORD", "torvane");
    environment.insert("TORVANE_HKLM_FILE", Settings->filePath("machine.reg"));
    environment.insert("TORVANE_HKCU_FILE", Settings->filePath("user/user.reg"));
    environment.insert("TORVANE_QUERY_TIMEOUT", "3");
    environment.insert("TORVANE_LOGIN_TIMEOUT", "3");
    environment.remove("TORVANE_ODBC_DRIVER");
    Monitor.setProcessEnvironment(environment);
    Monitor.start(TORVANE_EXECUTABLE,
                  {"--headless", "--server", QString::fromStdString(Sandbox->ServerName()), "--user", "sa",
                   "--show", "stats", "--interval", "1"});
}

void TestHeadlessAlerts::ReadOutput()
{
    Out += QString::fromUtf8(Monitor.readAllStandardOutput());
    Err += QString::fromUtf8(Monitor.readAllStandardError());
}

bool TestHeadlessAlerts::WaitForRefreshes(int count)
{
    ReadOutput();
    const qsizetype target = Out.count("Timestamp") + count;
    return QTest::qWaitFor([&] { return ReadOutput(), Out.count("Timestamp") >= target; }, 30000);
}

void TestHeadlessAlerts::hungServerSendsOneDisconnectMail()
{
    TSmtpServerFixture mail;
    QVERIFY2(mail.Started(), qPrintable(mail.Error()));
    SaveSettings(mail.Host(), true, false);
    StartMonitor();
    QVERIFY(WaitForRefreshes(1));

    Sandbox->Server().Hang(0);
    QTRY_VERIFY_WITH_TIMEOUT((ReadOutput(), Err.contains("Disconnected ")), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(mail.Mails().size(), 1, 30000);
    QTest::qWait(4000); // reconnects fail meanwhile, once a second
    Sandbox->Server().Resume();
    QTRY_VERIFY_WITH_TIMEOUT((ReadOutput(), Err.contains("Reconnected ")), 30000);
    QVERIFY(WaitForRefreshes(1));

    QCOMPARE(mail.Mails().size(), 1);
    const TReceivedMail& disconnect = mail.Mails().first();
    const QString server = QString::fromStdString(Sandbox->ServerName());
    QCOMPARE(disconnect.Subject, "Torvane has disconnected from the database server " + server);
    QVERIFY(disconnect.Body.startsWith("\r\nTorvane has disconnected from the database server " + server +
                                       ".\r\n\r\nDisconnect occurred: "));
    QVERIFY(disconnect.Body.contains("\r\n\r\n\r\nSPID\tStatus\tLogin\tDatabase\tCMD\t"));
    QVERIFY(disconnect.Body.contains("\r\n52\tActive\tappuser\tSales\tSELECT\t"));
    QVERIFY2(!Err.contains("not sent"), qPrintable(Err));
    QCOMPARE(Err.count("Disconnect alert for " + server + " sent to dba@example.com\n"), 1);
}

void TestHeadlessAlerts::sustainedCpuSendsOneMail()
{
    TSmtpServerFixture mail;
    QVERIFY2(mail.Started(), qPrintable(mail.Error()));
    SaveSettings(mail.Host(), false, true);
    StartMonitor();

    QTRY_COMPARE_WITH_TIMEOUT(mail.Mails().size(), 1, 30000);
    QVERIFY(WaitForRefreshes(5)); // the condition holds on; the hour's re-arm holds the next mail back

    QCOMPARE(mail.Mails().size(), 1);
    // The alert once, and its mail's line once.
    QCOMPARE(Err.count("High CPU alert ") - Err.count("High CPU alert for "), 1);
    QCOMPARE(Err.count("High CPU alert for " + QString::fromStdString(Sandbox->ServerName()) +
                       " sent to dba@example.com\n"),
             1);
    const TReceivedMail& cpu = mail.Mails().first();
    QCOMPARE(cpu.Subject,
             "Torvane has detected high CPU usage on " + QString::fromStdString(Sandbox->ServerName()));
    const QString history = cpu.Body.section("Time\tCPU %\r\n", 1).section("\r\n\r\n\r\n", 0, 0);
    // Every sample so far, newest first: the three that raised it and the first, which
    // has no percentage yet.
    const QStringList samples = history.split("\r\n");
    QCOMPARE(samples.size(), 4);
    QVERIFY(samples.last().endsWith("\t0"));
    QVERIFY(samples.first() > samples.last());
}

void TestHeadlessAlerts::failedMailIsReportedOnce()
{
    SaveSettings(ClosedPortHost(), false, true);
    StartMonitor();

    const QString line = "High CPU alert for " + QString::fromStdString(Sandbox->ServerName()) +
                         " not sent: Connection Failed\n";
    QTRY_VERIFY_WITH_TIMEOUT((ReadOutput(), Err.contains(line)), 30000);
    QVERIFY(WaitForRefreshes(3));
    QCOMPARE(Err.count(line), 1);
}

QTEST_GUILESS_MAIN(TestHeadlessAlerts)
#include "tst_headlessalerts.moc"
