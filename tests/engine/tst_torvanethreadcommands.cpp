// Statement texts, input buffers and kills of TTorvaneThread against the sandbox server,
// through the real ODBC driver.

#include "tests/support/Monitorfixture.h"
#include "engine/Processcommands.h"
#include "tests/support/Recordingowner.h"
#include "tests/support/Sandboxfixture.h"
#include "engine/Torvanethread.h"

#include <QTest>

#include <chrono>
#include <future>
#include <optional>
#include <set>

namespace {

// A still server: nothing logs on or off by itself, so every change to the process
// table is the test's. "viewer" may not use HR. Spid 4 is a system process attached
// to Sales; spid 53 runs the UPDATE inside its procedure; 54 runs an encrypted one.
// Spids 56 to 58 work in databases whose names are no plain identifiers, the last one
// named so that, pasted into SQL, it would kill spid 52.
// Quotes are written \u0027: moc reads a lone quote in a raw string as a character literal.
const char* const Scenario = R"json({
  "accounts": [
    {"login": "sa", "password": "torvane", "databases": "*", "sysadmin": true},
    {"login": "viewer", "password": "viewer", "databases": ["master", "tempdb", "Sales"]}
  ],
  "databases": [
    {"id": 1, "name": "master"}, {"id": 2, "name": "tempdb"}, {"id": 5, "name": "Sales"},
    {"id": 7, "name": "HR"}, {"id": 8, "name": "O\u0027Brien"}, {"id": 9, "name": "Order Entry"},
    {"id": 10, "name": "Joe\u0027s [Shop]"}, {"id": 11, "name": "Sales kill 52 --"}, {"id": 12, "name": "Склад"}
  ],
  "rates": {"logon": 0, "logoff": 0, "block": 0, "unblock": 0, "workers": 0},
  "processes": [
    {"spid": 1, "system": true, "login": "sa", "host": "", "cmd": "LAZY WRITER", "status": "background"},
    {"spid": 2, "system": true, "login": "sa", "host": "", "cmd": "LOG WRITER", "status": "background"},
    {"spid": 3, "system": true, "login": "sa", "host": "", "cmd": "SIGNAL HANDLER", "database": "master"},
    {"spid": 4, "system": true, "login": "sa", "host": "", "cmd": "TASK MANAGER", "database": "Sales"},
    {"spid": 51, "login": "sa", "host": "WS01", "database": "master", "statement": "select * from sysdatabases"},
    {"spid": 52, "login": "appuser", "host": "APP01", "database": "Sales", "cmd": "SELECT", "running": true,
     "statement": "SELECT COUNT(*) FROM dbo.Orders"},
    {"spid": 53, "login": "appuser", "host": "APP01", "database": "Sales", "cmd": "UPDATE", "running": true,
     "object": "usp_ClearStock",
     "statement": "CREATE PROCEDURE dbo.usp_ClearStock AS\r\nBEGIN TRAN\r\nUPDATE dbo.Stock SET Qty = 0\r\nCOMMIT",
     "current": "UPDATE dbo.Stock SET Qty = 0"},
    {"spid": 54, "login": "payroll", "host": "HR01", "database": "HR", "cmd": "EXECUTE", "running": true,
     "object": "usp_PayrollRun", "encrypted": true, "statement": ""},
    {"spid": 55, "login": "payroll", "host": "HR01", "database": "HR", "cmd": "SELECT", "running": true,
     "statement": "SELECT Name, Salary FROM dbo.Salaries"},
    {"spid": 56, "login": "orders", "host": "APP02", "database": "Order Entry", "cmd": "SELECT", "running": true,
     "statement": "SELECT * FROM dbo.Orders WHERE OrderID = @Order"},
    {"spid": 57, "login": "shop", "host": "APP03", "database": "Joe\u0027s [Shop]", "cmd": "SELECT", "running": true,
     "statement": "SELECT Name FROM dbo.Items"},
    {"spid": 58, "login": "mallory", "host": "APP04", "database": "Sales kill 52 --", "cmd": "SELECT",
     "running": true, "statement": "SELECT 1"}
  ]
})json";

// A monitor thread connected to the sandbox. No event loop runs in these tests, and
// the refresh timer is set far out, so no refresh shares the connection with them.
class TConnectedThread
{
public:
    TConnectedThread(const TSandboxFixture& sandbox, const std::string& login, const std::string& password)
        : Thread(new TTorvaneThread), Finished(Thread->Finished())
    {
        Connected = Thread->ConnectToServer(&Owner, 0, sandbox.ServerName(), false, login, password);
        Thread->SetRefreshInterval(3600 * 1000);
    }
    ~TConnectedThread()
    {
        Thread->Stop();
        Thread->Wake();
        Finished.wait_for(std::chrono::seconds(60));
    }
    TConnectedThread(const TConnectedThread&) = delete;
    TConnectedThread& operator=(const TConnectedThread&) = delete;

    TTorvaneThread* operator->() const { return Thread; }

    // The session the monitor's own requests run in.
    int OwnSpid() const
    {
        TDbQuery query(*Thread->Connection);
        query.SetCommandText("SELECT @@SPID AS spid");
        query.Open();
        return query.AsInteger("spid");
    }

    void Run(const std::string& sql) const
    {
        TDbQuery query(*Thread->Connection);
        query.SetCommandText(sql);
        query.Open();
    }

    TRecordingOwner Owner;
    bool Connected = false;

private:
    TTorvaneThread* const Thread; // deletes itself after Stop and Wake
    const std::shared_future<void> Finished;
};

std::set<int> Spids(const sandbox::TSandboxSimulation& simulation)
{
    std::set<int> spids;
    for (const sandbox::ProcessInfo& process : simulation.Processes())
        spids.insert(process.spid);
    return spids;
}

// The spids of the server's own processes, without the client connections that come
// and go with the tests' logons.
std::set<int> SimulatedSpids(const sandbox::TSandboxSimulation& simulation)
{
    std::set<int> spids;
    for (const sandbox::ProcessInfo& process : simulation.Processes())
        if (!process.client)
            spids.insert(process.spid);
    return spids;
}

sandbox::ProcessSpec Process(const std::string& login, const std::string& database,
                             std::optional<std::string> hostName = std::string("WS07"))
{
    sandbox::ProcessSpec spec;
    spec.login = login;
    spec.database = database;
    spec.hostName = std::move(hostName);
    return spec;
}

using TSpidSet = std::set<int>;

} // namespace

Q_DECLARE_METATYPE(TSpidSet)

class TestTorvaneThreadCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statementText_data();
    void statementText();
    void statementTextWithoutFnGetSql_data();
    void statementTextWithoutFnGetSql();
    void inputBuffer_data();
    void inputBuffer();
    void commandsWithoutConnection_data();
    void commandsWithoutConnection();
    void killProcess_data();
    void killProcess();
    void killShownProcess_data();
    void killShownProcess();
    void killDatabaseProcessesSparesOwnAndSystem();
    void killUserProcesses_data();
    void killUserProcesses();
    void namesInKillFilters_data();
    void namesInKillFilters();
    void caseSensitiveServer();
    void commandsWaitForARefreshUnderWay();
};

void TestTorvaneThreadCommands::statementText_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<int>("spid");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("encrypted");
    QTest::addColumn<int>("stmtStart");
    QTest::addColumn<int>("stmtEnd");

    // A whole batch has byte offsets 0 and -1: positions 1 and ceiling(-1/2) = 0,
    // which cut nothing off.
    QTest::newRow("ad hoc batch") << "sa" << 52 << "SELECT COUNT(*) FROM dbo.Orders" << "<BATCH>" << "N" << 1 << 0;
    // The UPDATE fills characters 52 to 79 (from 0) of the procedure: stmt_start is
    // byte 104 and stmt_end byte 158, where its last character starts. Positions 53
    // and 79, and the batch cuts 79 - 53 + 2 characters from 53: the whole statement.
    QTest::newRow("statement in a procedure")
        << "sa" << 53 << "UPDATE dbo.Stock SET Qty = 0" << "usp_ClearStock" << "N" << 53 << 79;
    QTest::newRow("idle process") << "sa" << 51 << "<NONE>" << "<NONE>" << "N" << 0 << 0;
    QTest::newRow("encrypted procedure") << "sa" << 54 << "<NONE>" << "usp_PayrollRun" << "Y" << 1 << 0;
    QTest::newRow("database the login cannot use")
        << "viewer" << 55 << "SELECT Name, Salary FROM dbo.Salaries" << "<Insufficient Rights>" << "N" << 1 << 0;
    QTest::newRow("database the login can use")
        << "viewer" << 52 << "SELECT COUNT(*) FROM dbo.Orders" << "<BATCH>" << "N" << 1 << 0;
    QTest::newRow("database name with a blank")
        << "sa" << 56 << "SELECT * FROM dbo.Orders WHERE OrderID = @Order" << "<BATCH>" << "N" << 1 << 0;
    QTest::newRow("database name with a quote and brackets")
        << "sa" << 57 << "SELECT Name FROM dbo.Items" << "<BATCH>" << "N" << 1 << 0;
    QTest::newRow("database name that reads as SQL") << "sa" << 58 << "SELECT 1" << "<BATCH>" << "N" << 1 << 0;
}

void TestTorvaneThreadCommands::statementText()
{
    QFETCH(QString, login);
    QFETCH(int, spid);
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    const TConnectedThread thread(sandbox, login.toStdString(), login == QLatin1String("sa") ? "torvane" : "viewer");
    QVERIFY(thread.Connected);
    QVERIFY(thread->SqlTextAvailable);

    const std::set<int> before = Spids(sandbox.Simulation());

    std::string objectName;
    std::string encrypted;
    std::int32_t stmtStart = 0;
    std::int32_t stmtEnd = 0;
    const std::string text = thread->GetStatementText(spid, objectName, encrypted, stmtStart, stmtEnd);
    QCOMPARE(Spids(sandbox.Simulation()), before);
    QTEST(QString::fromStdString(text), "text");
    QTEST(QString::fromStdString(objectName), "objectName");
    QTEST(QString::fromStdString(encrypted), "encrypted");
    QTEST(int(stmtStart), "stmtStart");
    QTEST(int(stmtEnd), "stmtEnd");
}

void TestTorvaneThreadCommands::statementTextWithoutFnGetSql_data()
{
    QTest::addColumn<bool>("offsetColumn");
    QTest::addColumn<bool>("permission");
    QTest::addColumn<QString>("message");
    QTest::newRow("before SP 3") << false << true << "This feature requires SQL Server 2000 SP 3 or greater";
    QTest::newRow("no permission") << true << false << "You do not have permission to run the fn_get_sql function";
}

void TestTorvaneThreadCommands::statementTextWithoutFnGetSql()
{
    QFETCH(bool, offsetColumn);
    QFETCH(bool, permission);
    QFETCH(QString, message);
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    sandbox.Simulation().SetStatementOffsetColumn(offsetColumn);
    sandbox.Simulation().SetFnGetSqlPermission(permission);
    const TConnectedThread thread(sandbox, "sa", "torvane");
    QVERIFY(thread.Connected);
    QVERIFY(!thread->SqlTextAvailable);

    std::string objectName = "unchanged";
    std::string encrypted = "unchanged";
    std::int32_t stmtStart = 7;
    std::int32_t stmtEnd = 9;
    const std::size_t batchesBefore = sandbox.Simulation().BatchLog().size();
    const std::string text = thread->GetStatementText(53, objectName, encrypted, stmtStart, stmtEnd);
    QCOMPARE(sandbox.Simulation().BatchLog().size(), batchesBefore);
    QCOMPARE(QString::fromStdString(text), message);
    QCOMPARE(objectName, std::string("?"));
    QCOMPARE(encrypted, std::string("?"));
    QCOMPARE(stmtStart, 0);
    QCOMPARE(stmtEnd, 0);
}

void TestTorvaneThreadCommands::inputBuffer_data()
{
    QTest::addColumn<int>("spid");
    QTest::addColumn<bool>("remove");
    QTest::addColumn<QString>("eventType");
    QTest::addColumn<QString>("text");
    QTest::newRow("idle process") << 51 << false << "Language Event" << "select * from sysdatabases";
    QTest::newRow("running process") << 52 << false << "Language Event" << "SELECT COUNT(*) FROM dbo.Orders";
    QTest::newRow("process gone") << 52 << true << "NONE" << "<No SQL Found>";
    QTest::newRow("never existed") << 999 << false << "NONE" << "<No SQL Found>";
}

void TestTorvaneThreadCommands::inputBuffer()
{
    QFETCH(int, spid);
    QFETCH(bool, remove);
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    const TConnectedThread thread(sandbox, "sa", "torvane");
    QVERIFY(thread.Connected);
    if (remove)
        QVERIFY(sandbox.Simulation().RemoveProcess(spid));

    std::string eventType;
    const std::string text = thread->GetInputBuffer(spid, eventType);
    QTEST(QString::fromStdString(eventType), "eventType");
    QTEST(QString::fromStdString(text), "text");
}

void TestTorvaneThreadCommands::commandsWithoutConnection_data()
{
    // The server went down and the probe took the disconnect path, or the connection
    // was found closed. The server answers again before the commands, so any request
    // they sent would reach it.
    QTest::addColumn<bool>("serverWentDown");
    QTest::addColumn<QString>("inputBufferText");
    QTest::addColumn<QString>("eventType");
    QTest::newRow("disconnected") << true << "" << "unchanged";
    QTest::newRow("connection closed") << false << "<No SQL Found>" << "NONE";
}

void TestTorvaneThreadCommands::commandsWithoutConnection()
{
    QFETCH(bool, serverWentDown);
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane", 100000, serverWentDown));
    TTorvaneThread* const thread = monitor.Thread();
    if (serverWentDown) {
        QTRY_COMPARE(monitor.Refreshes(), 1);
        sandbox.Server().GoDown();
        thread->RequestRefresh();
        QTRY_COMPARE(monitor.Owner.Count("SendDisconnectAlert"), 1);
        QVERIFY(thread->Disconnected);
        QVERIFY(sandbox.Server().ComeBack());
    } else {
        thread->Connection->Close();
    }
    const std::size_t batchesBefore = sandbox.Simulation().BatchLog().size();
    const std::set<int> before = SimulatedSpids(sandbox.Simulation());

    std::string objectName = "unchanged";
    std::string encrypted = "unchanged";
    std::int32_t stmtStart = 7;
    std::int32_t stmtEnd = 9;
    QCOMPARE(thread->GetStatementText(53, objectName, encrypted, stmtStart, stmtEnd), std::string());
    QCOMPARE(objectName, std::string("unchanged"));
    QCOMPARE(encrypted, std::string("unchanged"));
    QCOMPARE(stmtStart, 7);
    QCOMPARE(stmtEnd, 9);
    std::string eventType = "unchanged";
    QTEST(QString::fromStdString(thread->GetInputBuffer(53, eventType)), "inputBufferText");
    QTEST(QString::fromStdString(eventType), "eventType");

    const std::string notConnected = "Not connected to " + sandbox.ServerName() + ".";
    try {
        thread->KillProcess(53);
        QFAIL("a kill without a connection was reported as done");
    } catch (const EDbError& error) {
        QCOMPARE(error.Message, notConnected);
    }
    QVERIFY_THROWS_EXCEPTION(EDbError, thread->KillDatabaseProcesses("Sales"));
    QVERIFY_THROWS_EXCEPTION(EDbError, thread->KillUserProcesses("appuser", "", "", "APP01"));

    QCOMPARE(sandbox.Simulation().BatchLog().size(), batchesBefore);
    QCOMPARE(SimulatedSpids(sandbox.Simulation()), before);
}

void TestTorvaneThreadCommands::killProcess_data()
{
    QTest::addColumn<QString>("target"); // "own", or a spid
    QTest::addColumn<int>("returnCode");
    QTest::addColumn<bool>("killed");
    QTest::newRow("own connection") << "own" << -1 << false;
    QTest::newRow("system process") << "2" << -2 << false;
    QTest::newRow("system process in a database") << "4" << -2 << false;
    QTest::newRow("user process") << "52" << 1 << true;
    QTest::newRow("no such process") << "777" << 1 << false;
}

void TestTorvaneThreadCommands::killProcess()
{
    QFETCH(QString, target);
    QFETCH(bool, killed);
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    const TConnectedThread thread(sandbox, "sa", "torvane");
    QVERIFY(thread.Connected);
    const int spid = target == QLatin1String("own") ? thread.OwnSpid() : target.toInt();
    std::set<int> expected = Spids(sandbox.Simulation());
    if (killed)
        expected.erase(spid);

    QTEST(int(thread->KillProcess(spid)), "returnCode");
    QCOMPARE(Spids(sandbox.Simulation()), expected);
}

void TestTorvaneThreadCommands::killShownProcess_data()
{
    QTest::addColumn<QString>("change"); // between the view and the kill
    QTest::addColumn<int>("returnCode");
    QTest::addColumn<bool>("killed");
    QTest::newRow("still the process shown") << "none" << 1 << true;
    QTest::newRow("spid reused by a new logon") << "reused" << -3 << false;
    QTest::newRow("another login under the spid") << "other login" << -3 << false;
    QTest::newRow("process gone") << "gone" << 1 << false;
}

// The view showed spid 52 with its login time and login; the kill checks that the spid
// still belongs to that process, on the server, in the same batch as the kill.
void TestTorvaneThreadCommands::killShownProcess()
{
    QFETCH(QString, change);
    QFETCH(int, returnCode);
    QFETCH(bool, killed);
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    const TConnectedThread thread(sandbox, "sa", "torvane");
    QVERIFY(thread.Connected);
    const auto loginTimeOf52 = [&] {
        TDbQuery query(*thread->Connection);
        query.SetCommandText("select login_time from sysprocesses where spid = 52 and ecid = 0");
        query.Open();
        return query.AsDateTime("login_time");
    };
    TShownProcess shown{loginTimeOf52(), "appuser"};
    if (change == "reused" || change == "gone")
        QVERIFY(sandbox.Simulation().RemoveProcess(52));
    if (change == "reused") { // a new logon gets the lowest free spid
        sandbox::ProcessSpec spec = Process("appuser", "Sales");
        spec.loginAgeSeconds = 0;
        QCOMPARE(sandbox.Simulation().AddProcess(spec), 52);
    }
    if (change == "other login")
        shown.LoginName = "someone else";
    std::set<int> expected = Spids(sandbox.Simulation());
    if (killed)
        expected.erase(52);

    TDateTime loggedOnAt = 0;
    QCOMPARE(int(KillShownProcess(*thread.operator->(), 52, shown, &loggedOnAt)), returnCode);
    QCOMPARE(Spids(sandbox.Simulation()), expected);
    if (returnCode == -3) {
        QCOMPARE(SecondsOf(loggedOnAt), SecondsOf(loginTimeOf52()));
        QCOMPARE(QString::fromStdString(ReusedSpidMessage(52, loggedOnAt)),
                 QStringLiteral("Process 52 is no longer the one shown (it logged on again at %1); nothing was killed.")
                     .arg(QString::fromStdString(DateTimeToText(loggedOnAt))));
    }
    QCOMPARE(int(thread->KillProcess(52)), 1); // by spid alone, as before
}

void TestTorvaneThreadCommands::killDatabaseProcessesSparesOwnAndSystem()
{
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    const TConnectedThread thread(sandbox, "sa", "torvane");
    QVERIFY(thread.Connected);
    const int own = thread.OwnSpid();
    thread.Run("use Sales");
    const int added = sandbox.Simulation().AddProcess(Process("clerk", "Sales"));
    QVERIFY(added > 0);
    std::set<int> expected = Spids(sandbox.Simulation());
    for (const int spid : {52, 53, added})
        expected.erase(spid);

    thread->KillDatabaseProcesses("Sales");
    const std::set<int> left = Spids(sandbox.Simulation());
    QCOMPARE(left, expected);
    QVERIFY(left.count(own) == 1);
    QVERIFY(left.count(4) == 1);
}

void TestTorvaneThreadCommands::killUserProcesses_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("host");
    QTest::addColumn<TSpidSet>("killedOfAdded"); // indexes into the processes added below

    // Added: 0 clerk on WS07, 1 clerk with an empty host, 2 clerk with a NULL host,
    // 3 clerk on WS08, 4 CORP\ann on WS07 (domain CORP, user ann), 5 ann (a server
    // login of the same name) on WS07, 6 КОРП\иван on ПК-07 (all four values outside
    // the server's code page).
    QTest::newRow("empty host spares named hosts") << "clerk" << "" << "" << "" << TSpidSet{1, 2};
    QTest::newRow("one named host") << "clerk" << "" << "" << "WS07" << TSpidSet{0};
    QTest::newRow("windows user") << "CORP\\ann" << "CORP" << "ann" << "WS07" << TSpidSet{4};
    QTest::newRow("server login has empty domain and user") << "ann" << "" << "" << "WS07" << TSpidSet{5};
    QTest::newRow("wrong domain") << "CORP\\ann" << "OTHER" << "ann" << "WS07" << TSpidSet{};
    QTest::newRow("windows user outside the code page")
        << "КОРП\\иван" << "КОРП" << "иван" << "ПК-07" << TSpidSet{6};
}

void TestTorvaneThreadCommands::killUserProcesses()
{
    QFETCH(QString, login);
    QFETCH(QString, domain);
    QFETCH(QString, user);
    QFETCH(QString, host);
    QFETCH(TSpidSet, killedOfAdded);
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    const TConnectedThread thread(sandbox, "sa", "torvane");
    QVERIFY(thread.Connected);
    sandbox::ProcessSpec windowsUser = Process("CORP\\ann", "Sales");
    windowsUser.ntDomain = "CORP";
    windowsUser.ntUserName = "ann";
    sandbox::ProcessSpec foreignUser = Process("КОРП\\иван", "Sales", std::string("ПК-07"));
    foreignUser.ntDomain = "КОРП";
    foreignUser.ntUserName = "иван";
    const std::vector<sandbox::ProcessSpec> specs = {
        Process("clerk", "Sales"), Process("clerk", "Sales", std::string()),
        Process("clerk", "Sales", std::nullopt), Process("clerk", "Sales", std::string("WS08")),
        windowsUser, Process("ann", "Sales"), foreignUser,
    };
    std::vector<int> added;
    for (const auto& spec : specs) {
        added.push_back(sandbox.Simulation().AddProcess(spec));
        QVERIFY(added.back() > 0);
    }
    std::set<int> expected = Spids(sandbox.Simulation());
    for (const int index : killedOfAdded)
        expected.erase(added.at(index));

    thread->KillUserProcesses(login.toStdString(), domain.toStdString(), user.toStdString(), host.toStdString());
    QCOMPARE(Spids(sandbox.Simulation()), expected);
}

void TestTorvaneThreadCommands::namesInKillFilters_data()
{
    QTest::addColumn<QString>("added"); // login and database of a process added to the table
    QTest::addColumn<bool>("byDatabase");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("killsTheAddedOne");
    QTest::newRow("database O'Brien") << "O'Brien" << true << "O'Brien" << true;
    QTest::newRow("login O'Brien") << "O'Brien" << false << "O'Brien" << true;
    // Names that would end the literal and widen the filter if pasted in unquoted.
    QTest::newRow("database filter widened") << "O'Brien" << true << "Sales') or (1=1" << false;
    QTest::newRow("login filter widened") << "O'Brien" << false << "x' or 1=1 or loginame = '" << false;
    // Outside the server's code page a plain literal turns into question marks.
    QTest::newRow("database outside the code page") << "Склад" << true << "Склад" << true;
    QTest::newRow("login outside the code page") << "Склад" << false << "Склад" << true;
}

void TestTorvaneThreadCommands::namesInKillFilters()
{
    QFETCH(QString, added);
    QFETCH(bool, byDatabase);
    QFETCH(QString, name);
    QFETCH(bool, killsTheAddedOne);
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    const TConnectedThread thread(sandbox, "sa", "torvane");
    QVERIFY(thread.Connected);
    const int process =
        sandbox.Simulation().AddProcess(Process(added.toStdString(), added.toStdString(), std::string()));
    QVERIFY(process > 0);
    std::set<int> expected = Spids(sandbox.Simulation());
    if (killsTheAddedOne)
        expected.erase(process);
    const std::size_t batchesBefore = sandbox.Simulation().BatchLog().size();

    if (byDatabase)
        thread->KillDatabaseProcesses(name.toStdString());
    else
        thread->KillUserProcesses(name.toStdString(), "", "", "");
    QCOMPARE(Spids(sandbox.Simulation()), expected);
    QCOMPARE(sandbox.Simulation().BatchLog().size(), batchesBefore + 1);
}

void TestTorvaneThreadCommands::caseSensitiveServer()
{
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    sandbox.Simulation().SetCaseSensitive(true);
    const TConnectedThread thread(sandbox, "sa", "torvane");
    QVERIFY(thread.Connected);
    QVERIFY(thread->SqlTextAvailable);

    std::string objectName;
    std::string encrypted;
    std::int32_t stmtStart = 0;
    std::int32_t stmtEnd = 0;
    QCOMPARE(thread->GetStatementText(53, objectName, encrypted, stmtStart, stmtEnd),
             std::string("UPDATE dbo.Stock SET Qty = 0"));
    QCOMPARE(objectName, std::string("usp_ClearStock"));

    // The batch as first written, with @DatabaseName and @SQL_Handle beside their
    // declared spellings, does not compile on such a server.
    std::string mixed = StatementTextBatch(53);
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"has_dbaccess(@databasename)", "has_dbaccess(@DatabaseName)"},
                                   {"'fn_get_sql(@sql_handle)'", "'fn_get_sql(@SQL_Handle)'"}}) {
        const auto at = mixed.find(from);
        QVERIFY(at != std::string::npos);
        mixed.replace(at, from.size(), to);
    }
    QVERIFY_THROWS_EXCEPTION(EDbError, thread.Run(mixed));

    QCOMPARE(thread->KillProcess(52), 1);
    QVERIFY(Spids(sandbox.Simulation()).count(52) == 0);
}

void TestTorvaneThreadCommands::commandsWaitForARefreshUnderWay()
{
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    sandbox.Simulation().SetProbeDelayMs(500);
    TMonitorFixture monitor;
    QVERIFY(monitor.Connect(sandbox.ServerName(), false, "sa", "torvane"));
    // The first probe has reached the server and holds the connection for its delay;
    // the commands wait for it instead of meeting a busy connection.
    QTRY_COMPARE(sandbox.BatchCount("SELECT 1"), 1);
    std::string eventType;
    QCOMPARE(monitor.Thread()->GetInputBuffer(51, eventType), std::string("select * from sysdatabases"));
    QCOMPARE(monitor.Thread()->KillProcess(52), 1);

    QTRY_COMPARE(monitor.Refreshes(), 1);
    QCOMPARE(monitor.Owner.Count("SendDisconnectAlert"), 0);
    QVERIFY(Spids(sandbox.Simulation()).count(52) == 0);
}

QTEST_GUILESS_MAIN(TestTorvaneThreadCommands)
#include "tst_torvanethreadcommands.moc"
