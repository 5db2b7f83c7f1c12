// The whole sandbox (simulation behind the TDS server) as independent clients see
// it: python-tds, FreeTDS tsql and the FreeTDS ODBC driver log in, read the process
// snapshot, run the statement-text, input-buffer and kill batches a monitor sends,
// and live through a slow probe; the standalone program is driven through its
// control port (hang, down, up).

#include "sandbox/Sandboxcontrol.h"
#include "sandbox/Sandboxserver.h"
#include "support/Monitorbatches.h"
#include "support/Odbcclient.h"
#include "support/Scriptclients.h"
#include "tests/support/Testcertificates.h"

#include <QJsonArray>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace sandbox;

namespace {

QJsonObject Request(quint16 port, const QStringList& batches, const QString& user = QStringLiteral("sa"),
                    const QString& password = QStringLiteral("torvane"),
                    const QString& tds = QStringLiteral("7.4"))
{
    return {{"port", port}, {"user", user},  {"password", password},
            {"tds", tds},   {"timeout", 10}, {"batches", QJsonArray::fromStringList(batches)}};
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

// The first result set of batch index of a python-tds run.
QJsonObject FirstResult(const QJsonObject& answer, int batch)
{
    return answer["batches"][batch]["results"][0].toObject();
}

// The first result set with columns (row counts of assignments may come first).
QJsonObject FirstRowSet(const QJsonObject& answer, int batch)
{
    for (const QJsonValue& result : answer["batches"][batch]["results"].toArray()) {
        if (result.toObject().contains("columns"))
            return result.toObject();
    }
    return {};
}

// Column index by name in a python-tds result.
int ColumnIndex(const QJsonObject& result, const QString& name)
{
    const QJsonArray columns = result["columns"].toArray();
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i][0].toString() == name)
            return i;
    }
    return -1;
}

bool HasProcess(TSandboxSimulation& simulation, int spid)
{
    const auto processes = simulation.Processes();
    return std::any_of(processes.begin(), processes.end(),
                       [&](const ProcessInfo& p) { return p.spid == spid; });
}

int ClientProcessCount(TSandboxSimulation& simulation)
{
    const auto processes = simulation.Processes();
    return int(
        std::count_if(processes.begin(), processes.end(), [](const ProcessInfo& p) { return p.client; }));
}

ProcessSpec Spec(const std::string& login, std::optional<std::string> host, const std::string& database,
                 const std::string& statement = {})
{
    ProcessSpec spec;
    spec.login = login;
    spec.hostName = std::move(host);
    spec.database = database;
    if (!statement.empty()) {
        spec.statement = statement;
        spec.cmd = "SELECT";
        spec.status = "runnable";
    }
    return spec;
}

// A line-based client of the control port.
class TControlClient
{
public:
    bool Connect(quint16 port)
    {
        FSocket.connectToHost(QHostAddress::LocalHost, port);
        return FSocket.waitForConnected(10000);
    }
    // The answer's lines up to "ok..."/"error..." or, for listings, "end".
    QStringList Send(const QString& command)
    {
        FSocket.write((command + '\n').toUtf8());
        QStringList lines;
        for (;;) {
            while (!FSocket.canReadLine()) {
                if (!FSocket.waitForReadyRead(30000))
                    return lines;
            }
            const QString line = QString::fromUtf8(FSocket.readLine()).chopped(1);
            lines << line;
            if (line == "end" || line.startsWith("ok") || line.startsWith("error"))
                return lines;
        }
    }

private:
    QTcpSocket FSocket;
};

} // namespace

class TestSandboxEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void loginThroughEachClient_data();
    void loginThroughEachClient();
    void snapshotColumnsAndTypes_data();
    void snapshotColumnsAndTypes();
    void snapshotsShowAdvancingCounters();

    void killProcess_data();
    void killProcess();
    void killDatabaseProcessesSparesOwnConnection();
    void killUserProcesses_data();
    void killUserProcesses();
    void killedClientLosesConnection();
    void killThroughTsql();

    void inputBufferAndStatementText_data();
    void inputBufferAndStatementText();
    void slowProbeCancelled();
    void controlCommands_data();
    void controlCommands();
    void standaloneProgramHangDownUp();
    void standaloneProgramEncrypts();
    void portConflictsAndStopAreReported();

private:
    std::unique_ptr<TSandboxServer> Server;
};

void TestSandboxEndToEnd::init()
{
    Server = std::make_unique<TSandboxServer>();
    QVERIFY2(Server->Start(), Server->LastError().c_str());
}

void TestSandboxEndToEnd::cleanup()
{
    Server.reset();
}

void TestSandboxEndToEnd::loginThroughEachClient_data()
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("password");
    for (const char* client : {"python-tds", "tsql", "odbc"}) {
        QTest::addRow("%s right password", client) << client << "torvane";
        QTest::addRow("%s wrong password", client) << client << "wrong";
    }
}

void TestSandboxEndToEnd::loginThroughEachClient()
{
    QFETCH(QString, client);
    QFETCH(QString, password);
    const bool right = password == "torvane";
    const QString refusal = QStringLiteral("Login failed for user 'sa'.");
    if (client == "python-tds") {
        const QJsonObject answer = RunPythonClient(Request(Server->Port(), {"SELECT 1"}, "sa", password));
        QCOMPARE(answer["login"].toString(), right ? "ok" : "failed");
        if (right)
            QCOMPARE(FirstResult(answer, 0)["rows"].toArray(), QJsonArray({QJsonArray{1}}));
        else
            QCOMPARE(answer["error"]["text"].toString(), refusal);
    } else if (client == "tsql") {
        const TTsqlRun run = RunTsql(Server->Port(), "sa", password, "7.4", "SELECT 1\ngo\nquit\n");
        QVERIFY2(right ? run.output.contains("(1 row affected)") : run.output.contains(refusal),
                 qPrintable(run.output));
    } else {
        TOdbcClient odbc;
        const TOdbcOutcome login = odbc.Connect(Server->Port(), "sa", password);
        QCOMPARE(login.ok, right);
        if (right) {
            QCOMPARE(ClientProcessCount(Server->Simulation()), 1);
            QVERIFY(odbc.Execute("SELECT 1").ok);
        } else {
            QCOMPARE(login.nativeError, 18456);
            QVERIFY2(login.message.contains(refusal), qPrintable(login.message));
        }
    }
    // Every connection's process leaves the table when it ends.
    QTRY_COMPARE(ClientProcessCount(Server->Simulation()), 0);
}

void TestSandboxEndToEnd::snapshotColumnsAndTypes_data()
{
    QTest::addColumn<QString>("tds");
    QTest::newRow("7.1") << "7.1";
    QTest::newRow("7.4") << "7.4";
}

void TestSandboxEndToEnd::snapshotColumnsAndTypes()
{
    QFETCH(QString, tds);
    struct Expected
    {
        const char* name;
        const char* pythonType;
        int odbcType;
    };
    const Expected expected[] = {
        {"spid", "smallint", SQL_SMALLINT},
        {"ecid", "smallint", SQL_SMALLINT},
        {"databasename", "nvarchar", SQL_WVARCHAR},
        {"loginame", "nvarchar", SQL_WVARCHAR},
        {"hostname", "nvarchar", SQL_WVARCHAR},
        {"nt_domain", "nvarchar", SQL_WVARCHAR},
        {"nt_username", "nvarchar", SQL_WVARCHAR},
        {"net_address", "nvarchar", SQL_WVARCHAR},
        {"net_library", "nvarchar", SQL_WVARCHAR},
        {"cmd", "nvarchar", SQL_WVARCHAR},
        {"program_name", "nvarchar", SQL_WVARCHAR},
        {"blocked", "varchar", SQL_VARCHAR},
        {"login_time", "datetime", SQL_TYPE_TIMESTAMP},
        {"last_batch", "datetime", SQL_TYPE_TIMESTAMP},
        {"cpu_usage", "int", SQL_INTEGER},
        {"memusage", "int", SQL_INTEGER},
        {"physical_io", "bigint", SQL_BIGINT},
        {"open_tran", "smallint", SQL_SMALLINT},
        {"waittime", "bigint", SQL_BIGINT},
        {"lastwaittype", "nvarchar", SQL_WVARCHAR},
        {"waitresource", "nvarchar", SQL_WVARCHAR},
        {"hostprocess", "nvarchar", SQL_WVARCHAR},
        {"cpubusy", "int", SQL_INTEGER},
        {"cpuidle", "int", SQL_INTEGER},
        {"packreceived", "int", SQL_INTEGER},
        {"packsent", "int", SQL_INTEGER},
        {"packerrors", "int", SQL_INTEGER},
        {"totalread", "int", SQL_INTEGER},
        {"totalwrite", "int", SQL_INTEGER},
        {"totalerrors", "int", SQL_INTEGER},
        {"servertime", "datetime", SQL_TYPE_TIMESTAMP},
    };
    const QJsonObject answer =
        RunPythonClient(Request(Server->Port(), {Q(SnapshotQuery())}, "sa", "torvane", tds));
    QVERIFY2(!answer.contains("failure"), qPrintable(answer["failure"].toString()));
    const QJsonObject result = FirstResult(answer, 0);
    const QJsonArray columns = result["columns"].toArray();
    QCOMPARE(columns.size(), 31);
    for (int i = 0; i < 31; ++i) {
        QCOMPARE(columns[i][0].toString(), expected[i].name);
        QCOMPARE(columns[i][1].toString(), expected[i].pythonType);
    }

    // The client's own connection is a row with the names it logged in with, and
    // the system processes show as such.
    const QJsonArray rows = result["rows"].toArray();
    const auto own = std::find_if(rows.begin(), rows.end(), [&](const QJsonValue& row) {
        return row[0].toInt() == answer["spid"].toInt() && row[1].toInt() == 0;
    });
    QVERIFY(own != rows.end());
    QCOMPARE((*own)[ColumnIndex(result, "loginame")].toString(), "sa");
    QCOMPARE((*own)[ColumnIndex(result, "program_name")].toString(), "tdsclient");
    QCOMPARE((*own)[ColumnIndex(result, "databasename")].toString(), "master");
    QVERIFY(std::any_of(rows.begin(), rows.end(), [](const QJsonValue& row) {
        return row[0].toInt() < 10 && row[2].toString() == "<SystemProcess>";
    }));

    TOdbcClient odbc;
    QVERIFY(odbc.Connect(Server->Port(), "sa", "torvane", tds).ok);
    const TOdbcOutcome outcome = odbc.Execute(Q(SnapshotQuery()));
    QVERIFY2(outcome.ok, qPrintable(outcome.message));
    QCOMPARE(outcome.results[0].columns.size(), 31u);
    for (int i = 0; i < 31; ++i) {
        QCOMPARE(outcome.results[0].columns[i].name, expected[i].name);
        QCOMPARE(int(outcome.results[0].columns[i].sqlType), expected[i].odbcType);
    }
}

void TestSandboxEndToEnd::snapshotsShowAdvancingCounters()
{
    const QString snapshot = Q(SnapshotQuery());
    const QJsonObject answer = RunPythonClient(Request(Server->Port(), {snapshot, snapshot}));
    const QJsonObject first = FirstResult(answer, 0);
    const QJsonObject second = FirstResult(answer, 1);
    QVERIFY(!first["rows"].toArray().isEmpty() && !second["rows"].toArray().isEmpty());
    for (const char* counter : {"cpubusy", "cpuidle", "packreceived", "packsent"}) {
        const int column = ColumnIndex(first, counter);
        QVERIFY2(second["rows"][0][column].toDouble() > first["rows"][0][column].toDouble(), counter);
    }
    const int time = ColumnIndex(first, "servertime");
    QVERIFY(second["rows"][0][time].toString() >= first["rows"][0][time].toString());

    // Some thread present in both snapshots has used more CPU in the second.
    const int cpu = ColumnIndex(first, "cpu_usage");
    bool advanced = false;
    for (const QJsonValue& before : first["rows"].toArray()) {
        for (const QJsonValue& after : second["rows"].toArray()) {
            if (after[0] == before[0] && after[1] == before[1] &&
                after[cpu].toDouble() > before[cpu].toDouble())
                advanced = true;
        }
    }
    QVERIFY(advanced);
}

void TestSandboxEndToEnd::killProcess_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("returnCode");
    QTest::newRow("own connection") << "own" << -1;
    QTest::newRow("system process") << "system" << -2;
    QTest::newRow("user process") << "user" << 1;
    QTest::newRow("process no longer there") << "gone" << 1;
}

void TestSandboxEndToEnd::killProcess()
{
    QFETCH(QString, target);
    QFETCH(int, returnCode);
    TSandboxSimulation& simulation = Server->Simulation();
    int spid = 0;
    if (target == "system")
        spid = 2;
    else if (target == "user")
        spid = simulation.AddProcess(Spec("appuser", "WS01", "Sales"));
    else if (target == "gone")
        spid = 32000;
    // The client fills in its own spid where the placeholder number stands.
    const QString batch =
        target == "own" ? Q(KillProcessBatch(31999)).replace("31999", "{spid}") : Q(KillProcessBatch(spid));
    const QJsonObject answer = RunPythonClient(Request(Server->Port(), {batch}));
    const QJsonObject result = FirstResult(answer, 0);
    QCOMPARE(result["columns"][0][0].toString(), "returncode");
    QCOMPARE(result["rows"].toArray(), QJsonArray({QJsonArray{returnCode}}));
    if (target == "system")
        QVERIFY(HasProcess(simulation, spid));
    if (target == "user")
        QVERIFY(!HasProcess(simulation, spid));
    if (target == "own")
        QVERIFY(!answer.contains("connection")); // still connected to the end
}

void TestSandboxEndToEnd::killDatabaseProcessesSparesOwnConnection()
{
    TSandboxSimulation& simulation = Server->Simulation();
    const int first = simulation.AddProcess(Spec("appuser", "WS01", "Inventory"));
    const int second = simulation.AddProcess(Spec("other", std::nullopt, "Inventory"));
    const int elsewhere = simulation.AddProcess(Spec("appuser", "WS01", "Sales"));
    const QJsonObject answer = RunPythonClient(
        Request(Server->Port(), {"USE Inventory", Q(KillDatabaseBatch("Inventory")), "SELECT db_name()"}));
    QCOMPARE(FirstResult(answer, 1)["rows"].toArray(), QJsonArray({QJsonArray{1}}));
    QCOMPARE(FirstResult(answer, 1)["columns"][0][0].toString(), "aaa");
    // The killing connection itself was in that database and is still there.
    QCOMPARE(FirstResult(answer, 2)["rows"].toArray(), QJsonArray({QJsonArray{"Inventory"}}));
    QVERIFY(!HasProcess(simulation, first));
    QVERIFY(!HasProcess(simulation, second));
    QVERIFY(HasProcess(simulation, elsewhere));
    for (const ProcessInfo& p : simulation.Processes())
        QVERIFY(p.database != "Inventory" || p.system || p.client);
}

void TestSandboxEndToEnd::killUserProcesses_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("killed"); // of the added processes: named, empty, null
    QTest::newRow("named host") << "WS01" << QStringList{"named"};
    QTest::newRow("empty host matches empty and NULL") << "" << QStringList{"empty", "null"};
}

void TestSandboxEndToEnd::killUserProcesses()
{
    QFETCH(QString, host);
    QFETCH(QStringList, killed);
    TSandboxSimulation& simulation = Server->Simulation();
    const std::map<QString, int> added = {
        {"named", simulation.AddProcess(Spec("victim", "WS01", "Sales"))},
        {"empty", simulation.AddProcess(Spec("victim", "", "Sales"))},
        {"null", simulation.AddProcess(Spec("victim", std::nullopt, "Sales"))}};
    const int bystander = simulation.AddProcess(Spec("bystander", "WS01", "Sales"));
    const QJsonObject answer =
        RunPythonClient(Request(Server->Port(), {Q(KillUserBatch("victim", "", "", host.toStdString()))}));
    QCOMPARE(FirstResult(answer, 0)["rows"].toArray(), QJsonArray({QJsonArray{1}}));
    for (const auto& [name, spid] : added)
        QVERIFY2(HasProcess(simulation, spid) != killed.contains(name), qPrintable(name));
    QVERIFY(HasProcess(simulation, bystander));
}

void TestSandboxEndToEnd::killedClientLosesConnection()
{
    TOdbcClient victim;
    QVERIFY(victim.Connect(Server->Port(), "sa", "torvane").ok);
    const TOdbcOutcome own = victim.Execute("SELECT @@SPID");
    QVERIFY2(own.ok, qPrintable(own.message));
    const int spid = own.results[0].rows[0][0].toInt();
    TOdbcClient killer;
    QVERIFY(killer.Connect(Server->Port(), "sa", "torvane").ok);
    const TOdbcOutcome kill = killer.Execute(Q(KillProcessBatch(spid)));
    QVERIFY2(kill.ok, qPrintable(kill.message));
    QCOMPARE(kill.results.back().rows[0], QStringList{"1"});
    QVERIFY(!victim.Execute("SELECT 1").ok);
    QVERIFY(!HasProcess(Server->Simulation(), spid));
    QVERIFY(killer.Execute("SELECT 1").ok);
}

void TestSandboxEndToEnd::killThroughTsql()
{
    const int spid = Server->Simulation().AddProcess(Spec("appuser", "WS02", "Sales"));
    // tsql sends the batch's lines joined by line feeds alone.
    const TTsqlRun run = RunTsql(Server->Port(), "sa", "torvane", "7.1",
                                 Q(KillProcessBatch(spid)).replace("\r\n", "\n") + "\ngo\nquit\n");
    QVERIFY2(run.output.contains(QRegularExpression("returncode\\s+1\\b")), qPrintable(run.output));
    QVERIFY(!HasProcess(Server->Simulation(), spid));
}

void TestSandboxEndToEnd::inputBufferAndStatementText_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("batch");   // "inputbuffer" or "statement"
    QTest::addColumn<QString>("process"); // "running", "idle" or "gone"
    QTest::addColumn<QString>("database");
    QTest::addColumn<QJsonArray>("row");
    QTest::addColumn<int>("error"); // the server's error instead of a row

    const QString statement = QStringLiteral("SELECT * FROM Orders WHERE id = 7");
    QTest::newRow("input buffer of a running process")
        << "sa"
        << "inputbuffer"
        << "running"
        << "Sales" << QJsonArray{"Language Event", 0, statement} << 0;
    QTest::newRow("input buffer of a process that is gone") << "sa"
                                                            << "inputbuffer"
                                                            << "gone"
                                                            << "Sales" << QJsonArray{} << 7940;
    QTest::newRow("statement of an idle process")
        << "sa"
        << "statement"
        << "idle"
        << "Sales" << QJsonArray{0, 0, "<NONE>", "N", "<NONE>"} << 0;
    QTest::newRow("statement of a running process")
        << "sa"
        << "statement"
        << "running"
        << "Sales" << QJsonArray{1, 0, "<BATCH>", "N", statement} << 0;
    QTest::newRow("statement in a database the login cannot use")
        << "viewer"
        << "statement"
        << "running"
        << "HR" << QJsonArray{1, 0, "<Insufficient Rights>", "N", statement} << 0;
}

void TestSandboxEndToEnd::inputBufferAndStatementText()
{
    QFETCH(QString, login);
    QFETCH(QString, batch);
    QFETCH(QString, process);
    QFETCH(QString, database);
    QFETCH(QJsonArray, row);
    QFETCH(int, error);
    const std::string statement = "SELECT * FROM Orders WHERE id = 7";
    int spid = 32000;
    if (process != "gone") {
        spid = Server->Simulation().AddProcess(Spec("appuser", "WS01", database.toStdString(),
                                                    process == "running" ? statement : std::string()));
    }
    const std::string sql = batch == "inputbuffer" ? InputBufferBatch(spid) : StatementTextBatch(spid);
    const QJsonObject answer =
        RunPythonClient(Request(Server->Port(), {Q(sql)}, login, login == "sa" ? "torvane" : login));
    QCOMPARE(answer["batches"][0]["error"]["number"].toInt(), error);
    if (error == 0)
        QCOMPARE(FirstRowSet(answer, 0)["rows"].toArray(), QJsonArray({row}));

    // The statement-text batch spans several packets; it arrived as sent.
    const auto log = Server->Simulation().BatchLog();
    QVERIFY(std::any_of(log.begin(), log.end(), [&](const BatchLogEntry& e) { return e.text == sql; }));
}

void TestSandboxEndToEnd::slowProbeCancelled()
{
    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
    Server->Simulation().SetProbeDelayMs(3000);
    const TOdbcOutcome slow = client.Execute("SELECT 1", 1);
    QCOMPARE(slow.sqlState, "HYT00");
    Server->Simulation().SetProbeDelayMs(0);
    const TOdbcOutcome next = client.Execute("SELECT 1");
    QVERIFY2(next.ok, qPrintable(next.message));
    QCOMPARE(next.results[0].rows[0], QStringList{"1"});
}

void TestSandboxEndToEnd::controlCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("answer"); // a regular expression for the whole answer
    QTest::newRow("add a process") << "add login=bob host=WS%2007 database=Sales"
                                   << "^ok \\d+$";
    QTest::newRow("add with a NULL host") << "add login=bob nohost="
                                          << "^ok \\d+$";
    QTest::newRow("add with an unknown field") << "add colour=blue"
                                               << "^error bad field 'colour=blue'$";
    QTest::newRow("add with a bad escape") << "add login=b%zz"
                                           << "^error ";
    QTest::newRow("remove a missing process") << "remove 32000"
                                              << "^error ";
    QTest::newRow("block by a missing process") << "block 51 32000"
                                                << "^error ";
    QTest::newRow("probe delay") << "probe-delay 10"
                                 << "^ok$";
    QTest::newRow("switch needs on or off") << "stmt-start maybe"
                                            << "^error ";
    QTest::newRow("fn_get_sql permission") << "fn-get-sql off"
                                           << "^ok$";
    QTest::newRow("hang needs a number") << "hang soon"
                                         << "^error ";
    QTest::newRow("unknown command") << "reboot"
                                     << "^error ";
    QTest::newRow("empty line") << ""
                                << "^error ";
    QTest::newRow("process listing") << "processes"
                                     << "^1\\t0\\tsa\\t(.|\\n)*\\nend$";
}

void TestSandboxEndToEnd::controlCommands()
{
    QFETCH(QString, command);
    QFETCH(QString, answer);
    TSandboxControl control(*Server);
    const QString got = Q(control.Execute(command.toStdString()));
    QVERIFY2(QRegularExpression(answer).match(got).hasMatch(), qPrintable(got));
    if (command.startsWith("add login=bob host")) {
        const int spid = got.mid(3).toInt();
        const auto processes = Server->Simulation().Processes();
        const auto added = std::find_if(processes.begin(), processes.end(),
                                        [&](const ProcessInfo& p) { return p.spid == spid; });
        QVERIFY(added != processes.end());
        QCOMPARE(added->hostName.value_or("NULL"), "WS 07");
        QCOMPARE(Q(control.Execute("remove " + std::to_string(spid))), "ok");
        QVERIFY(!HasProcess(Server->Simulation(), spid));
    }
}

void TestSandboxEndToEnd::standaloneProgramEncrypts()
{
    const TTestCertificates certificates;
    QVERIFY2(certificates.Made(), qPrintable(certificates.Error()));
    QProcess refused;
    refused.setProcessChannelMode(QProcess::MergedChannels);
    refused.start(QStringLiteral(TORVANE_SANDBOX_PROGRAM),
                  {"--tls-cert", certificates.CaFile(), "--tls-key", certificates.KeyFile()});
    QVERIFY(refused.waitForFinished(30000));
    QCOMPARE(refused.exitCode(), 1);
    QVERIFY2(refused.readAll().contains("cannot use the private key"),
             "a key of another certificate");

    QProcess program;
    program.start(
        QStringLiteral(TORVANE_SANDBOX_PROGRAM),
        {"--port", "0", "--tls-cert", certificates.CertificateFile(), "--tls-key", certificates.KeyFile()});
    QVERIFY(program.waitForStarted());
    QVERIFY(program.canReadLine() || program.waitForReadyRead(30000));
    const QString header = QString::fromUtf8(program.readLine()).trimmed();
    QVERIFY2(header.startsWith("port "), qPrintable(header));
    const quint16 port = quint16(header.mid(5).toUInt());
    const QString folder = QFileInfo(certificates.CaFile()).path();
    for (const auto& [encryption, connects] : {std::pair("require", true), std::pair("off", false)}) {
        QFile conf(folder + "/freetds-" + encryption + ".conf");
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QStringLiteral("[global]\n\tencryption = %1\n\tca file = %2\n")
                       .arg(encryption, certificates.CaFile())
                       .toUtf8());
        conf.close();
        const TTsqlRun run = RunTsql(port, "sa", "torvane", "7.4",
                                     "SELECT COUNT(*) FROM sysprocesses\ngo\nquit\n", conf.fileName());
        QVERIFY2(run.output.contains("(1 row affected)") == connects, qPrintable(run.output));
    }
    program.terminate();
    QVERIFY(program.waitForFinished(30000));
}

void TestSandboxEndToEnd::standaloneProgramHangDownUp()
{
    QProcess program;
    program.start(QStringLiteral(TORVANE_SANDBOX_PROGRAM),
                  {"--port", "0", "--control-port", "0", "--seed", "7"});
    QVERIFY(program.waitForStarted());
    QStringList header;
    while (header.size() < 2 && (program.canReadLine() || program.waitForReadyRead(30000))) {
        while (program.canReadLine() && header.size() < 2)
            header << QString::fromUtf8(program.readLine()).trimmed();
    }
    QCOMPARE(header.size(), 2);
    QVERIFY(header[0].startsWith("port "));
    QVERIFY(header[1].startsWith("control "));
    const quint16 port = quint16(header[0].mid(5).toUInt());
    TControlClient control;
    QVERIFY(control.Connect(quint16(header[1].mid(8).toUInt())));

    TOdbcClient client;
    QVERIFY(client.Connect(port, "sa", "torvane").ok);
    QCOMPARE(control.Send("hang 0"), QStringList{"ok"});
    QCOMPARE(client.Execute("SELECT 1", 1).sqlState, "HYT00");
    QCOMPARE(control.Send("resume"), QStringList{"ok"});
    TOdbcClient afterHang;
    QVERIFY(afterHang.Connect(port, "sa", "torvane").ok);
    QVERIFY(afterHang.Execute("SELECT 1").ok);

    QCOMPARE(control.Send("down"), QStringList{"ok"});
    QVERIFY(!afterHang.Execute("SELECT 1").ok);
    QCOMPARE(RunPythonClient(Request(port, {"SELECT 1"}))["login"].toString(), "failed");
    QCOMPARE(control.Send("up"), QStringList{"ok"});
    const QJsonObject back = RunPythonClient(Request(port, {"SELECT 1"}));
    QCOMPARE(back["login"].toString(), "ok");

    // The log lists every batch with its connection; line ends are escaped.
    const QStringList log = control.Send("log");
    QCOMPARE(log.last(), "end");
    QVERIFY(log.contains(
        QRegularExpression(QStringLiteral("^%1\\t[0-9.]+\\tSELECT 1$").arg(back["spid"].toInt()))));

    program.terminate();
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

void TestSandboxEndToEnd::portConflictsAndStopAreReported()
{
    const quint16 port = Server->Port();
    TSandboxServer second;
    QVERIFY(!second.Start(port));
    QVERIFY(!second.LastError().empty());

    // While down, someone else takes the port: coming back fails with the reason.
    Server->GoDown();
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::LocalHost, port));
    QVERIFY(!Server->ComeBack());
    QVERIFY(!Server->LastError().empty());
    squatter.close();
    QVERIFY2(Server->ComeBack(), Server->LastError().c_str());

    Server->Stop();
    QVERIFY(!Server->ComeBack());
    TOdbcClient client;
    QVERIFY(!client.Connect(port, "sa", "torvane").ok);
}

QTEST_GUILESS_MAIN(TestSandboxEndToEnd)
#include "tst_sandboxendtoend.moc"
