// The simulated server's process table: deterministic for a seed, the variety a real
// server shows, life between snapshots, scale, scenario files, logins and the
// control calls. Batches go straight to ExecuteBatch; the wire is tested elsewhere.

#include "support/Monitorbatches.h"
#include "sandbox/Sandboxsimulation.h"
#include "tests/support/Simulationresults.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <future>
#include <map>
#include <set>
#include <thread>

using namespace sandbox;
using namespace simtest;

namespace {

LoginResult LogIn(TSandboxSimulation& simulation, const std::string& user = "sa",
                  const std::string& password = "torvane", const std::string& database = {})
{
    LoginRequest request;
    request.userName = user;
    request.password = password;
    request.hostName = "TESTHOST";
    request.appName = "VelquinMonitor";
    request.clientAddress = "127.0.0.1";
    request.clientPid = 4242;
    request.database = database;
    return simulation.Login(request);
}

ResultSet Snapshot(TSandboxSimulation& simulation, int spid)
{
    const std::vector<ResultSet> sets = ResultSets(simulation.ExecuteBatch(spid, SnapshotQuery()));
    return sets.empty() ? ResultSet{} : sets.front();
}

// A comparable picture of the table: everything but times.
std::vector<std::string> Picture(const std::vector<ProcessInfo>& processes)
{
    std::vector<std::string> lines;
    for (const ProcessInfo& p : processes)
        lines.push_back(std::to_string(p.spid) + "/" + std::to_string(p.ecid) + " " + p.login + " " +
                        p.hostName.value_or("<null>") + " " + p.database + " " + p.cmd + " b" +
                        std::to_string(p.blocked) + " c" + std::to_string(p.cpu) + " io" +
                        std::to_string(p.physicalIo) + " m" + std::to_string(p.memusage));
    return lines;
}

std::string WriteFile(const QTemporaryDir& directory, const char* name, const std::string& text)
{
    const QString path = directory.filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(text.data(), static_cast<qint64>(text.size()));
    return path.toStdString();
}

} // namespace

class TestSandboxSimulation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sameSeedSameLife_data();
    void sameSeedSameLife();
    void tableHasTheVarietyOfARealServer();
    void snapshotsAdvanceCounters();
    void tableLivesBetweenSnapshots();
    void scaleFillsTheTable_data();
    void scaleFillsTheTable();
    void badScenarioFileIsAClearError_data();
    void badScenarioFileIsAClearError();
    void scenarioFileDefinesTheServer();
    void loginsBecomeProcesses();
    void loginFailures_data();
    void loginFailures();
    void controlCallsChangeTheTable();
    void batchLogKeepsEveryBatch();
    void slowProbeDoesNotHoldOthersUp();
};

void TestSandboxSimulation::sameSeedSameLife_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("scale");
    QTest::newRow("built-in, seed 1") << 1u << 0;
    QTest::newRow("built-in, seed 977") << 977u << 0;
    QTest::newRow("scaled to 500, seed 5") << 5u << 500;
}

void TestSandboxSimulation::sameSeedSameLife()
{
    QFETCH(quint32, seed);
    QFETCH(int, scale);
    ScenarioOptions options;
    options.seed = seed;
    options.scale = scale;
    TSandboxSimulation first(options);
    TSandboxSimulation second(options);
    options.seed = seed + 1;
    TSandboxSimulation other(options);
    for (int i = 0; i < 40; ++i) {
        Snapshot(first, 1);
        Snapshot(second, 1);
        Snapshot(other, 1);
    }
    QCOMPARE(Picture(first.Processes()), Picture(second.Processes()));
    QVERIFY(Picture(first.Processes()) != Picture(other.Processes()));
}

void TestSandboxSimulation::tableHasTheVarietyOfARealServer()
{
    TSandboxSimulation simulation;
    const LoginResult login = LogIn(simulation);
    QVERIFY(login.ok);
    const ResultSet set = Snapshot(simulation, login.spid);
    QVERIFY(!set.rows.empty());

    std::set<int> systemSpids;
    std::map<int, int> blockedBy;
    std::map<std::string, std::set<std::string>> loginCasesByHost;
    bool workers = false, awaiting = false, windowsUser = false, emptyHost = false, nullDatabase = false;
    double serverStart = 1e9;
    for (std::size_t row = 0; row < set.rows.size(); ++row) {
        const auto time = Cell(set, row, "login_time");
        if (time && std::holds_alternative<DateTimeValue>(*time))
            serverStart = std::min(serverStart, std::get<DateTimeValue>(*time).days);
    }
    for (std::size_t row = 0; row < set.rows.size(); ++row) {
        const int spid = static_cast<int>(IntOf(Cell(set, row, "spid")));
        if (spid < 10) {
            QCOMPARE(TextOf(Cell(set, row, "databasename")) == "<SystemProcess>" ||
                         TextOf(Cell(set, row, "databasename")) == "master",
                     true);
            QCOMPARE(std::get<DateTimeValue>(*Cell(set, row, "login_time")).days, serverStart);
            systemSpids.insert(spid);
        }
        workers = workers || IntOf(Cell(set, row, "ecid")) > 0;
        awaiting = awaiting || TextOf(Cell(set, row, "cmd")) == "AWAITING COMMAND";
        windowsUser = windowsUser || !TextOf(Cell(set, row, "nt_domain")).empty();
        emptyHost = emptyHost || (spid > 50 && TextOf(Cell(set, row, "hostname")).empty());
        nullDatabase =
            nullDatabase || std::holds_alternative<std::monostate>(*Cell(set, row, "databasename"));
        const int blocker = std::stoi(TextOf(Cell(set, row, "blocked")));
        if (blocker != 0)
            blockedBy[spid] = blocker;
        std::string lower = TextOf(Cell(set, row, "loginame"));
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        loginCasesByHost[TextOf(Cell(set, row, "hostname")) + "|" + lower].insert(
            TextOf(Cell(set, row, "loginame")));
    }
    QVERIFY(systemSpids.size() >= 6);
    QVERIFY(workers);
    QVERIFY(awaiting);
    QVERIFY(windowsUser);
    QVERIFY(emptyHost);
    QVERIFY(nullDatabase);
    QVERIFY(std::any_of(blockedBy.begin(), blockedBy.end(),
                        [&](const auto& entry) { return blockedBy.count(entry.second) > 0; })); // a chain
    QVERIFY(std::any_of(loginCasesByHost.begin(), loginCasesByHost.end(),
                        [](const auto& entry) { return entry.second.size() >= 2; }));
    // Empty and NULL host names both exist in the table itself.
    const auto processes = simulation.Processes();
    QVERIFY(
        std::any_of(processes.begin(), processes.end(), [](const ProcessInfo& p) { return !p.hostName; }));
    QVERIFY(std::any_of(processes.begin(), processes.end(),
                        [](const ProcessInfo& p) { return p.hostName && p.hostName->empty() && !p.system; }));
}

void TestSandboxSimulation::snapshotsAdvanceCounters()
{
    TSandboxSimulation simulation;
    const ResultSet before = Snapshot(simulation, 1);
    const ResultSet after = Snapshot(simulation, 1);
    for (const char* column : {"cpubusy", "cpuidle", "packreceived", "packsent"})
        QVERIFY2(IntOf(Cell(after, 0, column)) > IntOf(Cell(before, 0, column)), column);
    for (const char* column : {"packerrors", "totalread", "totalwrite", "totalerrors"})
        QVERIFY2(IntOf(Cell(after, 0, column)) >= IntOf(Cell(before, 0, column)), column);
    // The parallel query keeps working: its CPU and I/O grow.
    const auto beforeRows = RowsOfSpid(before, 52);
    const auto afterRows = RowsOfSpid(after, 52);
    QVERIFY(!beforeRows.empty() && !afterRows.empty());
    QVERIFY(IntOf(Cell(after, afterRows[0], "cpu_usage")) > IntOf(Cell(before, beforeRows[0], "cpu_usage")));
    QVERIFY(IntOf(Cell(after, afterRows[0], "physical_io")) >=
            IntOf(Cell(before, beforeRows[0], "physical_io")));
    QVERIFY(std::get<DateTimeValue>(*Cell(after, 0, "servertime")).days >=
            std::get<DateTimeValue>(*Cell(before, 0, "servertime")).days);
}

void TestSandboxSimulation::tableLivesBetweenSnapshots()
{
    TSandboxSimulation simulation;
    std::set<int> present, departed;
    std::map<int, int> blocked, workers;
    bool loggedOn = false, loggedOff = false, reused = false;
    bool blockFormed = false, blockCleared = false, workersChanged = false;
    for (const ProcessInfo& p : simulation.Processes()) {
        present.insert(p.spid);
        workers[p.spid] = std::max(workers[p.spid], p.ecid);
        if (p.ecid == 0)
            blocked[p.spid] = p.blocked;
    }
    for (int i = 0; i < 300; ++i) {
        Snapshot(simulation, 1);
        std::set<int> now;
        std::map<int, int> nowWorkers;
        for (const ProcessInfo& p : simulation.Processes()) {
            now.insert(p.spid);
            nowWorkers[p.spid] = std::max(nowWorkers[p.spid], p.ecid);
            if (p.ecid != 0)
                continue;
            if (blocked.count(p.spid) && present.count(p.spid)) {
                blockFormed = blockFormed || (blocked[p.spid] == 0 && p.blocked != 0);
                blockCleared = blockCleared || (blocked[p.spid] != 0 && p.blocked == 0);
            }
            blocked[p.spid] = p.blocked;
        }
        for (int spid : now) {
            loggedOn = loggedOn || !present.count(spid);
            reused = reused || (!present.count(spid) && departed.count(spid));
            if (present.count(spid) && nowWorkers[spid] != workers[spid])
                workersChanged = true;
        }
        for (int spid : present) {
            if (!now.count(spid)) {
                loggedOff = true;
                departed.insert(spid);
            }
        }
        present = now;
        workers = nowWorkers;
    }
    QVERIFY(loggedOn);
    QVERIFY(loggedOff);
    QVERIFY(reused);
    QVERIFY(blockFormed);
    QVERIFY(blockCleared);
    QVERIFY(workersChanged);
}

void TestSandboxSimulation::scaleFillsTheTable_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("snapshots"); // of life, through which the size must hold
    QTest::newRow("1000") << 1000 << 400;
    QTest::newRow("the most a server has: 32767") << 32767 << 10;
}

void TestSandboxSimulation::scaleFillsTheTable()
{
    QFETCH(int, scale);
    ScenarioOptions options;
    options.scale = scale;
    TSandboxSimulation simulation(options);
    std::set<int> spids;
    for (const ProcessInfo& p : simulation.Processes())
        spids.insert(p.spid);
    QCOMPARE(static_cast<int>(spids.size()), scale);
    QVERIFY(*spids.rbegin() <= 32767);
    // A client still gets in, and sees itself in the snapshot.
    const LoginResult login = LogIn(simulation);
    QVERIFY(login.ok);
    const ResultSet set = Snapshot(simulation, login.spid);
    QVERIFY(static_cast<int>(set.rows.size()) >= scale);
    QCOMPARE(RowsOfSpid(set, login.spid).size(), std::size_t{1});
    // Processes come and go and queries go parallel, but the size holds: a benchmark
    // measures the size it asked for.
    QFETCH(int, snapshots);
    for (int i = 0; i < snapshots; ++i) {
        const ResultSet later = Snapshot(simulation, login.spid);
        std::set<int> present;
        for (const Row& row : later.rows)
            present.insert(static_cast<int>(std::get<std::int64_t>(row.front())));
        QVERIFY2(std::abs(static_cast<int>(present.size()) - scale) <= scale / 50 + 1,
                 QByteArray::number(static_cast<int>(present.size())).constData());
        QVERIFY2(static_cast<int>(later.rows.size()) <= scale + scale / 25 + 1,
                 QByteArray::number(static_cast<int>(later.rows.size())).constData());
    }
}

void TestSandboxSimulation::badScenarioFileIsAClearError_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("not JSON") << "{\"processes\": ["
                              << "not valid JSON";
    QTest::newRow("top level is an array") << "[]"
                                           << "top level";
    QTest::newRow("spid is text") << R"({"processes": [{"spid": "x"}]})"
                                  << "\"spid\"";
    QTest::newRow("spid out of range") << R"({"processes": [{"spid": 40000}]})"
                                       << "\"spid\"";
    QTest::newRow("spid twice") << R"({"processes": [{"spid": 51}, {"spid": 51}]})"
                                << "used twice";
    QTest::newRow("unknown database") << R"({"processes": [{"spid": 51, "database": "Nowhere"}]})"
                                      << "Nowhere";
    QTest::newRow("account without login") << R"({"accounts": [{"password": "x"}]})"
                                           << "login";
    QTest::newRow("rates not an object") << R"({"rates": 3})"
                                         << "rates";
    QTest::newRow("host is a number") << R"({"processes": [{"spid": 51, "host": 7}]})"
                                      << "host";
}

void TestSandboxSimulation::badScenarioFileIsAClearError()
{
    QFETCH(QString, json);
    QFETCH(QString, complaint);
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    ScenarioOptions options;
    options.scenarioFile = WriteFile(directory, "scenario.json", json.toStdString());
    try {
        TSandboxSimulation simulation(options);
        QFAIL("a malformed scenario was accepted");
    } catch (const std::runtime_error& error) {
        const QString message = QString::fromUtf8(error.what());
        QVERIFY2(message.contains(QString::fromStdString(options.scenarioFile)), qPrintable(message));
        QVERIFY2(message.contains(complaint), qPrintable(message));
    }
}

void TestSandboxSimulation::scenarioFileDefinesTheServer()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    ScenarioOptions options;
    options.scenarioFile = WriteFile(directory, "scenario.json", R"({
      "serverName": "FILESERVER",
      "accounts": [{"login": "ops", "password": "s3cret", "defaultDatabase": "Shop", "databases": ["master", "Shop"]}],
      "databases": [{"id": 1, "name": "master"}, {"id": 9, "name": "Shop"}],
      "rates": {"logon": 0, "logoff": 0, "block": 0, "unblock": 0, "workers": 0},
      "processes": [{"spid": 1, "system": true, "cmd": "LAZY WRITER"}, {"spid": 70, "login": null, "database": "Shop"}]
    })");
    TSandboxSimulation simulation(options);
    QVERIFY(!LogIn(simulation).ok); // the built-in sa is not in this file
    const LoginResult login = LogIn(simulation, "ops", "s3cret");
    QVERIFY(login.ok);
    QCOMPARE(login.database, std::string("Shop"));
    const ResultSet set = Snapshot(simulation, login.spid);
    QCOMPARE(set.rows.size(), std::size_t{3});
    QCOMPARE(TextOf(Cell(set, RowsOfSpid(set, 70)[0], "loginame")), std::string("<NULL>"));
    const auto name = ResultSets(simulation.ExecuteBatch(login.spid, "select @@servername as name"));
    QCOMPARE(TextOf(Cell(name.at(0), 0, "name")), std::string("FILESERVER"));
    options.scenarioFile = directory.filePath(QStringLiteral("missing.json")).toStdString();
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, TSandboxSimulation{options});
}

void TestSandboxSimulation::loginsBecomeProcesses()
{
    TSandboxSimulation simulation;
    LoginRequest request;
    request.userName = "SA"; // logins compare without regard to case
    request.password = "torvane";
    request.hostName = "DBA-LAPTOP";
    request.appName = "VelquinMonitor (second window)";
    request.clientAddress = "10.1.2.3";
    request.clientPid = 777;
    request.database = "Sales";
    const LoginResult login = simulation.Login(request);
    QVERIFY(login.ok);
    QCOMPARE(login.database, std::string("Sales"));
    const auto processes = simulation.Processes();
    const auto it = std::find_if(processes.begin(), processes.end(),
                                 [&](const ProcessInfo& p) { return p.spid == login.spid; });
    QVERIFY(it != processes.end());
    QVERIFY(it->client);
    QCOMPARE(it->login, std::string("SA"));
    QCOMPARE(it->hostName.value_or(""), std::string("DBA-LAPTOP"));
    QCOMPARE(it->programName, std::string("VelquinMonitor (second window)"));
    QCOMPARE(it->database, std::string("Sales"));
    QCOMPARE(it->netAddress, std::string("00000A010203"));
    const ResultSet set = Snapshot(simulation, login.spid);
    const auto own = RowsOfSpid(set, login.spid);
    QCOMPARE(own.size(), std::size_t{1});
    QCOMPARE(TextOf(Cell(set, own[0], "program_name")), std::string("VelquinMonitor"));
    QCOMPARE(TextOf(Cell(set, own[0], "hostprocess")), std::string("777"));
    simulation.Logout(login.spid);
    const auto after = simulation.Processes();
    QVERIFY(
        std::none_of(after.begin(), after.end(), [&](const ProcessInfo& p) { return p.spid == login.spid; }));
}

void TestSandboxSimulation::loginFailures_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("database");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("wrong password") << "sa"
                                    << "wrong"
                                    << "" << 18456 << "Login failed for user 'sa'.";
    QTest::newRow("password differs in case") << "sa"
                                              << "TORVANE"
                                              << "" << 18456 << "Login failed for user 'sa'.";
    QTest::newRow("unknown login") << "nobody"
                                   << "torvane"
                                   << "" << 18456 << "Login failed for user 'nobody'.";
    QTest::newRow("database the login may not use")
        << "viewer"
        << "viewer"
        << "HR" << 4060 << "Cannot open database \"HR\" requested by the login. The login failed.";
    QTest::newRow("database that does not exist")
        << "sa"
        << "torvane"
        << "Nowhere" << 4060 << "Cannot open database \"Nowhere\" requested by the login. The login failed.";
}

void TestSandboxSimulation::loginFailures()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, database);
    QFETCH(int, number);
    QFETCH(QString, text);
    TSandboxSimulation simulation;
    const std::size_t before = simulation.Processes().size();
    const LoginResult login =
        LogIn(simulation, user.toStdString(), password.toStdString(), database.toStdString());
    QVERIFY(!login.ok);
    QCOMPARE(login.error.number, number);
    QCOMPARE(QString::fromStdString(login.error.text), text);
    QVERIFY(login.error.isError());
    QCOMPARE(simulation.Processes().size(), before);
}

void TestSandboxSimulation::controlCallsChangeTheTable()
{
    TSandboxSimulation simulation;
    ProcessSpec spec;
    spec.login = "tester";
    spec.hostName.reset();
    spec.database = "Inventory";
    spec.workers = 3;
    const int spid = simulation.AddProcess(spec);
    QVERIFY(spid > 50);
    const auto find = [&](int wanted) {
        std::vector<ProcessInfo> rows;
        for (const ProcessInfo& p : simulation.Processes())
            if (p.spid == wanted)
                rows.push_back(p);
        return rows;
    };
    QCOMPARE(find(spid).size(), std::size_t{4});
    QCOMPARE(find(spid)[0].database, std::string("Inventory"));
    QVERIFY(!find(spid)[0].hostName);
    QVERIFY(simulation.BlockProcess(spid, 51));
    QCOMPARE(find(spid)[0].blocked, 51);
    const ResultSet set = Snapshot(simulation, 1);
    QCOMPARE(TextOf(Cell(set, RowsOfSpid(set, spid)[0], "blocked")), std::string("51"));
    QVERIFY(simulation.BlockProcess(spid, 0));
    QCOMPARE(find(spid)[0].blocked, 0);
    QVERIFY(!simulation.BlockProcess(spid, spid));
    QVERIFY(!simulation.BlockProcess(spid, 30000));
    QVERIFY(!simulation.BlockProcess(30000, 51));
    // Removing a blocker lets its waiters go on.
    QVERIFY(simulation.BlockProcess(51, spid));
    QVERIFY(simulation.RemoveProcess(spid));
    QVERIFY(find(spid).empty());
    QCOMPARE(find(51)[0].blocked, 0);
    QVERIFY(!simulation.RemoveProcess(spid));
}

void TestSandboxSimulation::batchLogKeepsEveryBatch()
{
    TSandboxSimulation simulation;
    const LoginResult login = LogIn(simulation);
    const std::string odd = "select 'a''b'\r\n  -- trailing comment  ";
    simulation.ExecuteBatch(login.spid, "SELECT 1");
    simulation.ExecuteBatch(login.spid, odd);
    simulation.ExecuteBatch(login.spid, "this is not SQL");
    const auto log = simulation.BatchLog();
    QCOMPARE(log.size(), std::size_t{3});
    QCOMPARE(log[1].text, odd);
    QCOMPARE(log[2].text, std::string("this is not SQL"));
    for (const BatchLogEntry& entry : log)
        QCOMPARE(entry.spid, login.spid);
    QVERIFY(log[0].time > 40000 && log[0].time <= log[2].time);
}

void TestSandboxSimulation::slowProbeDoesNotHoldOthersUp()
{
    TSandboxSimulation simulation;
    const LoginResult login = LogIn(simulation);
    simulation.SetProbeDelayMs(60000);
    auto probe =
        std::async(std::launch::async, [&] { return simulation.ExecuteBatch(login.spid, "SELECT 1"); });
    // Wait until the probe has been received (logged), then use the server meanwhile.
    while (simulation.BatchLog().empty())
        std::this_thread::yield();
    const ResultSet set = Snapshot(simulation, login.spid);
    QVERIFY(!set.rows.empty());
    QVERIFY(probe.wait_for(std::chrono::seconds(0)) == std::future_status::timeout);
    // Taking the delay away releases the waiting probe, which then answers.
    simulation.SetProbeDelayMs(0);
    const auto sets = ResultSets(probe.get());
    QCOMPARE(sets.size(), std::size_t{1});
    QCOMPARE(IntOf(sets[0].rows.at(0).at(0)), std::int64_t{1});
}

QTEST_GUILESS_MAIN(TestSandboxSimulation)
#include "tst_sandboxsimulation.moc"
