// The monitor thread and its refresh cycle, through the FreeTDS ODBC driver against
// the sandbox server.

#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"
#include "settings/Registry.h"
#include "settings/Torvanesettings.h"
#include "tests/support/Monitorfixture.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Testscenario.h"

#include <QtTest>

#include <stdexcept>

namespace {

const std::string Probe = "SELECT 1";
const std::string PermissionQuery =
    "select permissions(id)&0x20 as permission from sysobjects where name = 'fn_get_sql'";

} // namespace

class TestTorvaneThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void capabilityChecks_data();
    void capabilityChecks();
    void failedLogonShowsTheServersMessage_data();
    void failedLogonShowsTheServersMessage();
    void firstRefreshComesAtOnce();
    void tickInsideRefreshIsAbsorbed();
    void timerTicksRefresh();
    void stopEndsTheThread_data();
    void stopEndsTheThread();
    void stopInsideTheHandOverLeavesTheModels();
    void lostServerTakesTheDisconnectPathOnce_data();
    void lostServerTakesTheDisconnectPathOnce();
    void errorOfAViewLeavesTheServerConnected();
    void databaseErrorInsideTheHandOverDisconnects();
    void probeIsTimedFromItsSending();
    void failureWhileReadingChangesNothing();
    void runningTimeText();

private:
    QTemporaryDir Settings;
};

void TestTorvaneThread::initTestCase()
{
    // Short time-outs keep the lost-server cases quick; the settings store is a file of
    // this test's own.
    qputenv("TORVANE_QUERY_TIMEOUT", "4");
    qputenv("TORVANE_LOGIN_TIMEOUT", "2");
    qputenv("TORVANE_HKLM_FILE", Settings.filePath(QStringLiteral("machine.reg")).toLocal8Bit());
    qputenv("TORVANE_HKCU_FILE", Settings.filePath(QStringLiteral("user.reg")).toLocal8Bit());
    qunsetenv("TORVANE_ODBC_DRIVER");
}

void TestTorvaneThread::capabilityChecks_data()
{
    QTest::addColumn<bool>("statementOffsetColumn");
    QTest::addColumn<bool>("permission");
    QTest::addColumn<bool>("available");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("permissionQueries");

    QTest::newRow("both") << true << true << true << "" << 1;
    QTest::newRow("no statement offset column")
        << false << true << false << "This feature requires SQL Server 2000 SP 3 or greater" << 0;
    QTest::newRow("no permission")
        << true << false << false << "You do not have permission to run the fn_get_sql function" << 1;
}

void TestTorvaneThread::capabilityChecks()
{
    QFETCH(bool, statementOffsetColumn);
    QFETCH(bool, permission);
    QFETCH(bool, available);
    QFETCH(QString, message);
    QFETCH(int, permissionQueries);

    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    sandbox.Simulation().SetStatementOffsetColumn(statementOffsetColumn);
    sandbox.Simulation().SetFnGetSqlPermission(permission);
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100000, false));
    QCOMPARE(monitor.Thread()->SqlTextAvailable, available);
    QCOMPARE(QString::fromStdString(monitor.Thread()->SqlTextUnavailableMessage), message);
    QCOMPARE(sandbox.BatchCount(PermissionQuery), permissionQueries);
    // The uptime of the scenario: the start time is the earliest login_time.
    const double uptimeSeconds = (CurrentDateTime() - monitor.Thread()->ServerStartTime) * 86400;
    QVERIFY2(uptimeSeconds >= 90000 && uptimeSeconds < 90200, QByteArray::number(uptimeSeconds).constData());
    QVERIFY(monitor.Thread()->RefreshTimerActive());
    QCOMPARE(sandbox.BatchCount(Probe), 0);
}

void TestTorvaneThread::failedLogonShowsTheServersMessage_data()
{
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("driverVariable"); // TORVANE_ODBC_DRIVER
    QTest::addColumn<QString>("driverSetting");  // "OdbcDriver" in the settings store
    QTest::addColumn<QString>("text");           // after the server's name; empty: any clear text
    QTest::addColumn<QString>("caption");

    QTest::newRow("wrong password") << false << "wrong" << "" << "" << "Login failed for user 'sa'."
                                    << "FreeTDS SQL Server";
    // The sandbox cannot check a Windows logon; the driver must give up with a message.
    QTest::newRow("windows authentication") << true << "" << "" << "" << "" << "";
    QTest::newRow("driver named in the environment") << false << "torvane" << "NoSuchDriver" << ""
        << "Can't open lib 'NoSuchDriver' : file not found" << "unixODBC Driver Manager";
    QTest::newRow("driver named in the settings") << false << "torvane" << "" << "NoSettingsDriver"
        << "Can't open lib 'NoSettingsDriver' : file not found" << "unixODBC Driver Manager";
    QTest::newRow("the environment overrides the settings") << false << "torvane" << "NoSuchDriver"
        << "NoSettingsDriver" << "Can't open lib 'NoSuchDriver' : file not found" << "unixODBC Driver Manager";
}

void TestTorvaneThread::failedLogonShowsTheServersMessage()
{
    QFETCH(bool, windows);
    QFETCH(QString, password);
    QFETCH(QString, driverVariable);
    QFETCH(QString, driverSetting);
    QFETCH(QString, text);
    QFETCH(QString, caption);

    if (!driverVariable.isEmpty())
        qputenv("TORVANE_ODBC_DRIVER", driverVariable.toLocal8Bit());
    if (!driverSetting.isEmpty()) {
        TRegistry registry(TRegistryRoot::LocalMachine);
        QVERIFY(registry.OpenKey(QString::fromLatin1(TorvaneSettings::RootKey), true));
        QVERIFY(registry.WriteString(QStringLiteral("OdbcDriver"), driverSetting));
    }
    const auto restore = qScopeGuard([this] {
        qunsetenv("TORVANE_ODBC_DRIVER");
        QFile::remove(Settings.filePath(QStringLiteral("machine.reg")));
    });
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    QVERIFY(!monitor.Connect(sandbox.ServerName(), windows, "sa", password.toStdString()));
    QCOMPARE(monitor.Owner.Calls, std::vector<std::string>{"ShowMessageBox"});
    const auto& box = monitor.Owner.MessageBoxes.front();
    if (text.isEmpty()) {
        QVERIFY(box.Text.size() > 10);
        QVERIFY2(box.Text.front() != '[', box.Text.c_str());
    } else {
        // Headed by the server as typed.
        QCOMPARE(QString::fromStdString(box.Text),
                 "Could not connect to " + QString::fromStdString(sandbox.ServerName()) + ": " + text);
        QCOMPARE(QString::fromStdString(box.Caption), caption);
    }
    QVERIFY(monitor.WaitUntilFinished(10000));
}

void TestTorvaneThread::firstRefreshComesAtOnce()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    // An interval far longer than the test: only the request can bring the refresh.
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100000));
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Refreshes(), 1, 20000);
    QCOMPARE(monitor.Owner.Slots.back(), TMonitorFixture::Slot);
    QVERIFY(monitor.Users->SessionCount() > 0);
    QVERIFY(!monitor.Thread()->Disconnected);
}

void TestTorvaneThread::tickInsideRefreshIsAbsorbed()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100000, false));
    sandbox.Simulation().SetProbeDelayMs(800);
    monitor.Thread()->RequestRefresh();
    QTRY_COMPARE_WITH_TIMEOUT(sandbox.BatchCount(Probe), 1, 20000);
    monitor.Thread()->RefreshTimerTick();
    monitor.Thread()->RefreshTimerTick();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Refreshes(), 1, 20000);
    sandbox.Simulation().SetProbeDelayMs(0);
    // Had a tick been kept, its refresh would come before this one.
    monitor.Thread()->RequestRefresh();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Refreshes(), 2, 20000);
    QCOMPARE(sandbox.BatchCount(Probe), 2);
    QCOMPARE(monitor.Owner.Count("SendDisconnectAlert"), 0);
}

void TestTorvaneThread::timerTicksRefresh()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 50, false));
    QTRY_VERIFY_WITH_TIMEOUT(monitor.Refreshes() >= 3, 20000);
    // The second sample onwards has rates: the statistics saw every refresh.
    QVERIFY(monitor.ServerPerformance->SampleValid()[TTorvaneServerPerformance::HistoryLength - 3]);
}

void TestTorvaneThread::stopEndsTheThread_data()
{
    QTest::addColumn<int>("probeDelayMs"); // 0: stop while asleep
    QTest::newRow("asleep") << 0;
    QTest::newRow("inside a slow probe") << 800;
}

void TestTorvaneThread::stopEndsTheThread()
{
    QFETCH(int, probeDelayMs);
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100000, false));
    if (probeDelayMs > 0) {
        sandbox.Simulation().SetProbeDelayMs(probeDelayMs);
        monitor.Thread()->RequestRefresh();
        QTRY_COMPARE_WITH_TIMEOUT(sandbox.BatchCount(Probe), 1, 20000);
    }
    // The main window destroys the models right after Stop and Wake.
    monitor.StopAndDestroyModels();
    QVERIFY(monitor.WaitUntilFinished(20000));
    QCoreApplication::processEvents();
    QCOMPARE(monitor.Refreshes(), 0);
    QCOMPARE(monitor.Owner.Count("SendDisconnectAlert"), 0);
    QCOMPARE(sandbox.BatchCount(Probe), probeDelayMs > 0 ? 1 : 0);
}

void TestTorvaneThread::stopInsideTheHandOverLeavesTheModels()
{
    // Both alerts switched on and due at once: the first one stops the thread and the
    // models go, as when the window closes while an alert mail is being sent.
    {
        TRegistry registry(TRegistryRoot::LocalMachine);
        QVERIFY(registry.OpenKey(QString::fromLatin1(TorvaneSettings::RootKey), true));
        QVERIFY(registry.WriteInteger(QString::fromLatin1(TorvaneSettings::EmailAlerts), 1));
        QVERIFY(registry.OpenKey(QString::fromLatin1(TorvaneSettings::AlertsKey), true));
        for (const char* name : {TorvaneSettings::CPUUsage, TorvaneSettings::ServerResponse})
            QVERIFY(registry.WriteInteger(QString::fromLatin1(name), 1));
        for (const char* name : {TorvaneSettings::CPUUsageRefresh, TorvaneSettings::CPUUsageValue,
                                 TorvaneSettings::ServerResponseRefresh, TorvaneSettings::ServerResponseValue})
            QVERIFY(registry.WriteInteger(QString::fromLatin1(name), 0));
    }
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    monitor.Owner.OnCall = [&monitor](const std::string& call) {
        if (call == "SendCpuAlert")
            monitor.StopAndDestroyModels();
    };
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane"));
    // The hand-over needs the main thread's events to run.
    QTRY_VERIFY_WITH_TIMEOUT(monitor.WaitUntilFinished(0), 20000);
    QFile::remove(Settings.filePath(QStringLiteral("machine.reg")));
    QCOMPARE(monitor.Owner.Calls, std::vector<std::string>{"SendCpuAlert"});
}

void TestTorvaneThread::lostServerTakesTheDisconnectPathOnce_data()
{
    QTest::addColumn<bool>("hang"); // else the server goes down
    QTest::newRow("hung server") << true;
    QTest::newRow("downed server") << false;
}

void TestTorvaneThread::lostServerTakesTheDisconnectPathOnce()
{
    QFETCH(bool, hang);
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    // Ticks keep coming while the probe waits for its time-out.
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100));
    QTRY_VERIFY_WITH_TIMEOUT(monitor.Refreshes() >= 1, 20000);
    if (hang)
        sandbox.Server().Hang(0);
    else
        sandbox.Server().GoDown();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Owner.Count("SendDisconnectAlert"), 1, 30000);
    TTorvaneThread& thread = *monitor.Thread();
    QVERIFY(thread.Disconnected);
    QVERIFY(!thread.RefreshTimerActive());
    QVERIFY(!thread.Connection->IsOpen());
    QVERIFY(monitor.ServerPerformance->Disconnected);
    const int refreshesBefore = monitor.Refreshes();
    // The disconnect path redraws once and alerts once, and nothing follows it.
    QCOMPARE(monitor.Owner.Calls.back(), std::string("SendDisconnectAlert"));
    QCOMPARE(monitor.Owner.Calls.end()[-2], std::string("RefreshSlotView"));

    QVERIFY(!thread.Reconnect());
    QVERIFY(thread.Disconnected);
    QVERIFY(!thread.RefreshTimerActive());

    if (hang)
        sandbox.Server().Resume();
    else
        QVERIFY(sandbox.Server().ComeBack());
    QVERIFY(thread.Reconnect());
    QVERIFY(!thread.Disconnected);
    QVERIFY(thread.RefreshTimerActive());
    QTRY_VERIFY_WITH_TIMEOUT(monitor.Refreshes() > refreshesBefore, 20000);
    QVERIFY(!monitor.ServerPerformance->Disconnected);
    QCOMPARE(monitor.Owner.Count("SendDisconnectAlert"), 1);
}

void TestTorvaneThread::probeIsTimedFromItsSending()
{
    // A main-thread command holds the connection (a slow kill): the probe waits for it
    // before it is sent, and the wait is not the server's response time.
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100000, false));
    {
        const std::lock_guard command(monitor.Thread()->Connection->RequestLock());
        monitor.Thread()->RequestRefresh();
        QTest::qWait(1500);
        QCOMPARE(sandbox.BatchCount(Probe), 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Refreshes(), 1, 20000);
    QVERIFY2(monitor.Thread()->ResponseTimeMs < 1000,
             QByteArray::number(monitor.Thread()->ResponseTimeMs.load()).constData());
}

void TestTorvaneThread::failureWhileReadingChangesNothing()
{
    // The server fails the snapshot after a few rows: the refresh is lost, but the model
    // and the statistics keep the last complete refresh, only marked disconnected.
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100000));
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Refreshes(), 1, 20000);
    const std::string processes = monitor.UserProcesses->GetProcessTable();
    const int users = monitor.Users->UserCount();
    const auto history = monitor.ServerPerformance->History();
    const auto sampleValid = monitor.ServerPerformance->SampleValid();

    sandbox.Simulation().SetResultFailureAfterRows(3);
    monitor.Thread()->RequestRefresh();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Owner.Count("SendDisconnectAlert"), 1, 20000);
    QVERIFY(monitor.ServerPerformance->Disconnected);
    QCOMPARE(monitor.UserProcesses->GetProcessTable(), processes);
    QCOMPARE(monitor.Users->UserCount(), users);
    QVERIFY(monitor.ServerPerformance->History() == history);
    QVERIFY(monitor.ServerPerformance->SampleValid() == sampleValid);
}

void TestTorvaneThread::errorOfAViewLeavesTheServerConnected()
{
    // A fault of the program inside the hand-over (here a view that cannot be drawn) is
    // reported as the program's error: the server stays connected, no disconnect alert
    // is sent and the refreshes go on.
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    bool failed = false;
    monitor.Owner.OnCall = [&failed](const std::string& call) {
        if (call == "RefreshSlotView" && !failed) {
            failed = true;
            throw std::runtime_error("a view could not be drawn");
        }
    };
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100));
    QTRY_VERIFY_WITH_TIMEOUT(monitor.Refreshes() >= 3, 20000);
    QVERIFY(failed);
    QVERIFY(!monitor.Thread()->Disconnected);
    QVERIFY(!monitor.ServerPerformance->Disconnected);
    QVERIFY(monitor.Thread()->RefreshTimerActive());
    QCOMPARE(monitor.Owner.Count("SendDisconnectAlert"), 0);
}

void TestTorvaneThread::databaseErrorInsideTheHandOverDisconnects()
{
    // A database error inside the hand-over is the server's failure: the disconnect path
    // runs once, and after a reconnect the refreshes go on.
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    bool failed = false;
    monitor.Owner.OnCall = [&failed](const std::string& call) {
        if (call == "RefreshSlotView" && !failed) {
            failed = true;
            throw EDbError("Communication link failure", "FreeTDS SQL Server");
        }
    };
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100000));
    TTorvaneThread& thread = *monitor.Thread();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Owner.Count("SendDisconnectAlert"), 1, 20000);
    QVERIFY(thread.Disconnected);
    QVERIFY(!thread.RefreshTimerActive());
    QVERIFY(thread.Reconnect());
    const int refreshesBefore = monitor.Refreshes();
    thread.RequestRefresh();
    QTRY_VERIFY_WITH_TIMEOUT(monitor.Refreshes() > refreshesBefore, 20000);
    QCOMPARE(monitor.Owner.Count("SendDisconnectAlert"), 1);
}

void TestTorvaneThread::runningTimeText()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane"));
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Refreshes(), 1, 20000);
    // The scenario's server has been up 90061 seconds (1 day, 1 hour, 1 minute, 1 s).
    QVERIFY2(QString::fromStdString(monitor.Thread()->GetRunningTimeText())
                 .startsWith(QStringLiteral("Running for 1 days, 1 hours, 1 minutes and ")),
             monitor.Thread()->GetRunningTimeText().c_str());
}

QTEST_GUILESS_MAIN(TestTorvaneThread)
#include "tst_torvanethread.moc"
