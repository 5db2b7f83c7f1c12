// The statements a monitor and an ODBC driver send, answered by the simulation as a
// server would: result shapes and types, the statement text and input buffer paths,
// the kill batches and their effect, quoting, the case-sensitive server, and errors.

#include "support/Monitorbatches.h"
#include "sandbox/Sandboxsimulation.h"
#include "tests/support/Simulationresults.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

using namespace sandbox;
using namespace simtest;

Q_DECLARE_METATYPE(sandbox::SqlType)

namespace {

// A server whose table changes only when a test changes it.
class TQuietServer
{
public:
    TQuietServer()
    {
        ScenarioOptions options;
        options.scenarioFile = QuietScenarioPath();
        Simulation = std::make_unique<TSandboxSimulation>(options);
        Spid = LogIn("sa", "torvane");
    }

    int LogIn(const std::string& user, const std::string& password)
    {
        LoginRequest request;
        request.userName = user;
        request.password = password;
        request.hostName = "TESTHOST";
        request.appName = "VelquinMonitor";
        request.clientAddress = "127.0.0.1";
        const LoginResult login = Simulation->Login(request);
        return login.ok ? login.spid : 0;
    }

    BatchResult Run(const std::string& sql) { return Simulation->ExecuteBatch(Spid, sql); }

    ResultSet Single(const std::string& sql)
    {
        const auto sets = ResultSets(Run(sql));
        return sets.size() == 1 ? sets[0] : ResultSet{};
    }

    bool Exists(int spid) const
    {
        const auto processes = Simulation->Processes();
        return std::any_of(processes.begin(), processes.end(),
                           [&](const ProcessInfo& p) { return p.spid == spid; });
    }

    int Add(const std::string& login, std::optional<std::string> host, const std::string& database,
            const std::string& ntDomain = {}, const std::string& ntUser = {})
    {
        ProcessSpec spec;
        spec.login = login;
        spec.hostName = std::move(host);
        spec.database = database;
        spec.ntDomain = ntDomain;
        spec.ntUserName = ntUser;
        return Simulation->AddProcess(spec);
    }

    std::unique_ptr<TSandboxSimulation> Simulation;
    int Spid = 0;

private:
    // The built-in table without its own life: same processes, no chance events.
    static std::string QuietScenarioPath()
    {
        static QTemporaryDir directory;
        const QString path = directory.filePath(QStringLiteral("quiet.json"));
        if (!QFile::exists(path)) {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly)) {
                file.write(R"({
  "accounts": [
    {"login": "sa", "password": "torvane", "databases": "*", "sysadmin": true},
    {"login": "viewer", "password": "viewer", "databases": ["master", "Sales", "Inventory"]}
  ],
  "databases": [{"id": 1, "name": "master"}, {"id": 5, "name": "Sales"}, {"id": 6, "name": "Inventory"}, {"id": 7, "name": "HR"},
                {"id": 8, "name": "Order Entry"}, {"id": 9, "name": "Joe\u0027s [Shop]"}, {"id": 10, "name": "Sales kill 52 --"}],
  "rates": {"logon": 0, "logoff": 0, "block": 0, "unblock": 0, "workers": 0},
  "processes": [
    {"spid": 1, "system": true, "login": "sa", "host": "", "program": "", "cmd": "LAZY WRITER", "status": "background"},
    {"spid": 2, "system": true, "login": "sa", "host": "", "program": "", "cmd": "LOG WRITER", "status": "background"},
    {"spid": 51, "login": "sa", "host": "DBA-WS01", "database": "master", "statement": "select * from sysdatabases", "login_time": 3600},
    {"spid": 52, "login": "appuser", "host": "APPSRV01", "database": "Sales", "cmd": "SELECT", "status": "runnable", "workers": 2, "running": true,
     "statement": "SET NOCOUNT ON\r\nSELECT * FROM dbo.Orders WHERE Total > 10", "current": "SELECT * FROM dbo.Orders WHERE Total > 10"},
    {"spid": 53, "login": "AppUser", "host": "APPSRV01", "database": "Sales", "statement": "exec dbo.usp_GetOrder 10248"},
    {"spid": 54, "login": "APPUSER", "host": "APPSRV01", "database": "Inventory", "cmd": "UPDATE", "running": true, "object": "usp_UpdateStock",
     "statement": "CREATE PROCEDURE dbo.usp_UpdateStock AS\r\nUPDATE dbo.Stock SET Qty = Qty - 1\r\nRETURN", "current": "UPDATE dbo.Stock SET Qty = Qty - 1"},
    {"spid": 55, "login": "appuser", "host": "APPSRV02", "database": "Inventory", "blocked": 54},
    {"spid": 56, "login": "CORP\\mlee", "host": "", "nt_domain": "CORP", "nt_username": "mlee", "database": "HR", "cmd": "EXECUTE", "running": true,
     "object": "usp_PayrollRun", "encrypted": true, "statement": ""},
    {"spid": 57, "login": "hr", "host": "HR01", "database": "HR", "cmd": "SELECT", "running": true, "statement": "SELECT * FROM dbo.Salaries"}
  ]
})");
            }
        }
        return path.toStdString();
    }
};

std::string StatementTextMended(int spid, bool outer, bool inner)
{
    std::string batch = StatementTextBatch(spid);
    const auto replace = [&](const std::string& from, const std::string& to) {
        for (auto at = batch.find(from); at != std::string::npos; at = batch.find(from, at + to.size()))
            batch.replace(at, from.size(), to);
    };
    // Outside the built statement @databasename is declared; inside it @DatabaseName is.
    if (outer) {
        replace("has_dbaccess(@DatabaseName)", "has_dbaccess(@databasename)");
        replace("quotename(@DatabaseName)", "quotename(@databasename)");
    }
    if (inner)
        replace("@SQL_Handle", "@sql_handle");
    return batch;
}

} // namespace

class TestSandboxSimulationStatements : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scalarAnswers_data();
    void scalarAnswers();
    void capabilityChecksFollowTheSwitches();
    void startTimeIsTheEarliestLogin();
    void snapshotHasTheServersColumnsAndTypes();
    void snapshotValues();
    void selectListIsAnsweredAsWritten();
    void statementText_data();
    void statementText();
    void statementOffsetsAreTheServers();
    void databaseNamesInTheBuiltStatement_data();
    void databaseNamesInTheBuiltStatement();
    void plainLiteralsAreInTheCodePage_data();
    void plainLiteralsAreInTheCodePage();
    void killFiltersOutsideTheCodePage();
    void statementTextSendsCountsAndContextChanges();
    void statementTextWithoutTheFeature_data();
    void statementTextWithoutTheFeature();
    void inputBuffer_data();
    void inputBuffer();
    void killProcess_data();
    void killProcess();
    void killDatabaseProcesses();
    void killUserProcesses_data();
    void killUserProcesses();
    void killedClientIsReported();
    void caseSensitiveServerChecksVariableSpelling_data();
    void caseSensitiveServerChecksVariableSpelling();
    void caseSensitiveServerRunsTheOtherBatches();
    void sessionSetUpStatements_data();
    void sessionSetUpStatements();
    void wrongSqlGetsTheServersError_data();
    void wrongSqlGetsTheServersError();
};

void TestSandboxSimulationStatements::scalarAnswers_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("column");
    QTest::addColumn<sandbox::SqlType>("type");
    QTest::addColumn<QString>("value");
    QTest::newRow("probe") << "SELECT 1"
                           << "" << SqlType::Int << "1";
    QTest::newRow("probe, other spacing") << "  select\r\n1 "
                                          << "" << SqlType::Int << "1";
    QTest::newRow("capability: statement offsets")
        << "select count(*) as counter \r\n from syscolumns \r\n where name = 'stmt_start' \r\n and "
           "object_name(id) = 'sysprocesses'"
        << "counter" << SqlType::Int << "1";
    QTest::newRow("capability: fn_get_sql permission")
        << "select permissions(id)&0x20 as permission from sysobjects where name = 'fn_get_sql'"
        << "permission" << SqlType::Int << "32";
    QTest::newRow("server name") << "SELECT SERVERPROPERTY('ServerName')"
                                 << "" << SqlType::NVarChar << "SANDBOX";
    QTest::newRow("@@SERVERNAME") << "select @@SERVERNAME as name"
                                  << "name" << SqlType::NVarChar << "SANDBOX";
    QTest::newRow("@@trancount") << "select @@trancount"
                                 << "" << SqlType::Int << "0";
    QTest::newRow("db_name") << "SELECT DB_NAME() AS db"
                             << "db" << SqlType::NVarChar << "master";
    QTest::newRow("string literal alias") << "select 'x' 'y'"
                                          << "y" << SqlType::VarChar << "x";
}

void TestSandboxSimulationStatements::scalarAnswers()
{
    QFETCH(QString, sql);
    QFETCH(QString, column);
    QFETCH(sandbox::SqlType, type);
    QFETCH(QString, value);
    TQuietServer server;
    const BatchResult result = server.Run(sql.toStdString());
    QVERIFY(Errors(result).empty());
    const auto sets = ResultSets(result);
    QCOMPARE(sets.size(), std::size_t{1});
    QCOMPARE(sets[0].columns.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(sets[0].columns[0].name), column);
    QCOMPARE(sets[0].columns[0].type, type);
    QCOMPARE(sets[0].rows.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(TextOf(sets[0].rows[0][0])), value);
}

void TestSandboxSimulationStatements::capabilityChecksFollowTheSwitches()
{
    TQuietServer server;
    const std::string offsets = "select count(*) as counter from syscolumns where name = 'stmt_start' and "
                                "object_name(id) = 'sysprocesses'";
    const std::string permission =
        "select permissions(id)&0x20 as permission from sysobjects where name = 'fn_get_sql'";
    server.Simulation->SetFnGetSqlPermission(false);
    QCOMPARE(IntOf(Cell(server.Single(permission), 0, "permission")), std::int64_t{0});
    server.Simulation->SetStatementOffsetColumn(false);
    QCOMPARE(IntOf(Cell(server.Single(offsets), 0, "counter")), std::int64_t{0});
    // Without the column there is no fn_get_sql either: no row at all.
    QCOMPARE(server.Single(permission).rows.size(), std::size_t{0});
    server.Simulation->SetStatementOffsetColumn(true);
    server.Simulation->SetFnGetSqlPermission(true);
    QCOMPARE(IntOf(Cell(server.Single(offsets), 0, "counter")), std::int64_t{1});
    QCOMPARE(IntOf(Cell(server.Single(permission), 0, "permission")), std::int64_t{32});
}

void TestSandboxSimulationStatements::startTimeIsTheEarliestLogin()
{
    TQuietServer server;
    const ResultSet start =
        server.Single("SELECT @@SPID AS spid, MIN(login_time) AS serverstarttime FROM sysprocesses");
    QCOMPARE(start.columns.size(), std::size_t{2});
    QCOMPARE(start.columns[0].type, SqlType::SmallInt);
    QCOMPARE(start.columns[1].type, SqlType::DateTime);
    QCOMPARE(IntOf(Cell(start, 0, "spid")), std::int64_t{server.Spid});
    const ResultSet system = server.Single("select login_time from sysprocesses where spid < 10");
    QCOMPARE(system.rows.size(), std::size_t{2});
    const double started = std::get<DateTimeValue>(*Cell(start, 0, "serverstarttime")).days;
    for (const Row& row : system.rows)
        QCOMPARE(std::get<DateTimeValue>(row[0]).days, started);
    const ResultSet users =
        server.Single("select min(login_time) as first from sysprocesses where spid > 50");
    QVERIFY(std::get<DateTimeValue>(*Cell(users, 0, "first")).days > started);
}

void TestSandboxSimulationStatements::snapshotHasTheServersColumnsAndTypes()
{
    TQuietServer server;
    const ResultSet set = server.Single(SnapshotQuery());
    struct TExpected
    {
        const char* name;
        SqlType type;
        bool nullable;
    };
    const TExpected expected[] = {
        {"spid", SqlType::SmallInt, false},         {"ecid", SqlType::SmallInt, false},
        {"databasename", SqlType::NVarChar, true},  {"loginame", SqlType::NVarChar, true},
        {"hostname", SqlType::NVarChar, false},     {"nt_domain", SqlType::NVarChar, false},
        {"nt_username", SqlType::NVarChar, false},  {"net_address", SqlType::NVarChar, false},
        {"net_library", SqlType::NVarChar, false},  {"cmd", SqlType::NVarChar, false},
        {"program_name", SqlType::NVarChar, false}, {"blocked", SqlType::VarChar, false},
        {"login_time", SqlType::DateTime, true},    {"last_batch", SqlType::DateTime, true},
        {"cpu_usage", SqlType::Int, false},         {"memusage", SqlType::Int, false},
        {"physical_io", SqlType::BigInt, false},    {"open_tran", SqlType::SmallInt, false},
        {"waittime", SqlType::BigInt, false},       {"lastwaittype", SqlType::NVarChar, false},
        {"waitresource", SqlType::NVarChar, false}, {"hostprocess", SqlType::NVarChar, false},
        {"cpubusy", SqlType::Int, false},           {"cpuidle", SqlType::Int, false},
        {"packreceived", SqlType::Int, false},      {"packsent", SqlType::Int, false},
        {"packerrors", SqlType::Int, false},        {"totalread", SqlType::Int, false},
        {"totalwrite", SqlType::Int, false},        {"totalerrors", SqlType::Int, false},
        {"servertime", SqlType::DateTime, false},
    };
    QCOMPARE(set.columns.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        QCOMPARE(set.columns[i].name, std::string(expected[i].name));
        QCOMPARE(set.columns[i].type, expected[i].type);
        QCOMPARE(set.columns[i].nullable, expected[i].nullable);
    }
    for (const Row& row : set.rows)
        QCOMPARE(row.size(), std::size(expected));
}

void TestSandboxSimulationStatements::snapshotValues()
{
    TQuietServer server;
    const int hidden = server.Add("ghost", std::nullopt, "master");
    ProcessSpec other;
    other.programName = "VelquinMonitor v2";
    const int monitor = server.Simulation->AddProcess(other);
    const ResultSet set = server.Single(SnapshotQuery());
    QCOMPARE(TextOf(Cell(set, RowsOfSpid(set, 1)[0], "databasename")), std::string("<SystemProcess>"));
    QCOMPARE(TextOf(Cell(set, RowsOfSpid(set, monitor)[0], "program_name")), std::string("VelquinMonitor"));
    QCOMPARE(TextOf(Cell(set, RowsOfSpid(set, hidden)[0], "hostname")), std::string(""));
    QCOMPARE(TextOf(Cell(set, RowsOfSpid(set, 55)[0], "blocked")), std::string("54"));
    QCOMPARE(TextOf(Cell(set, RowsOfSpid(set, 54)[0], "blocked")), std::string("0"));
    QCOMPARE(RowsOfSpid(set, 52).size(), std::size_t{3});
    QCOMPARE(RowsOfSpid(set, server.Spid).size(), std::size_t{1});
    // Every row carries the same server-wide counters.
    for (std::size_t row = 1; row < set.rows.size(); ++row)
        QCOMPARE(IntOf(Cell(set, row, "cpubusy")), IntOf(Cell(set, 0, "cpubusy")));
}

void TestSandboxSimulationStatements::selectListIsAnsweredAsWritten()
{
    TQuietServer server;
    const ResultSet set = server.Single("SELECT rtrim(cmd) AS what, spid FROM master.dbo.sysprocesses sp "
                                        "WHERE sp.spid = 52 ORDER BY ecid DESC");
    QCOMPARE(set.columns.size(), std::size_t{2});
    QCOMPARE(set.columns[0].name, std::string("what"));
    QCOMPARE(set.columns[0].type, SqlType::NVarChar);
    QCOMPARE(set.columns[1].name, std::string("spid"));
    QCOMPARE(set.columns[1].type, SqlType::SmallInt);
    QCOMPARE(set.rows.size(), std::size_t{3});
    QCOMPARE(TextOf(set.rows[0][0]), std::string("SELECT"));
    const auto unknown = Errors(server.Run("SELECT spid, nosuchcolumn FROM sysprocesses"));
    QCOMPARE(unknown.size(), std::size_t{1});
    QCOMPARE(unknown[0].number, 207);
    QCOMPARE(unknown[0].text, std::string("Invalid column name 'nosuchcolumn'."));
}

void TestSandboxSimulationStatements::statementText_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<int>("spid");
    QTest::addColumn<QString>("objectname");
    QTest::addColumn<QString>("encrypted");
    QTest::addColumn<QString>("sqltext");
    // The end is the offset of the statement's last character, so the batch cuts
    // end - start + 2 characters from the start: the whole statement.
    QTest::newRow("ad hoc batch, current statement to the end")
        << "sa" << 52 << "<BATCH>"
        << "N"
        << "SELECT * FROM dbo.Orders WHERE Total > 10";
    QTest::newRow("procedure, statement inside") << "sa" << 54 << "usp_UpdateStock"
                                                 << "N"
                                                 << "UPDATE dbo.Stock SET Qty = Qty - 1";
    QTest::newRow("encrypted procedure") << "sa" << 56 << "usp_PayrollRun"
                                         << "Y"
                                         << "<NONE>";
    QTest::newRow("idle process") << "sa" << 53 << "<NONE>"
                                  << "N"
                                  << "<NONE>";
    QTest::newRow("vanished process") << "sa" << 999 << "<NONE>"
                                      << "N"
                                      << "<NONE>";
    QTest::newRow("database the login cannot use") << "viewer" << 57 << "<Insufficient Rights>"
                                                   << "N"
                                                   << "SELECT * FROM dbo.Salaries";
}

void TestSandboxSimulationStatements::statementText()
{
    QFETCH(QString, login);
    QFETCH(int, spid);
    QFETCH(QString, objectname);
    QFETCH(QString, encrypted);
    QFETCH(QString, sqltext);
    TQuietServer server;
    const int session =
        server.LogIn(login.toStdString(), login == QLatin1String("sa") ? "torvane" : "viewer");
    QVERIFY(session != 0);
    const BatchResult result = server.Simulation->ExecuteBatch(session, StatementTextBatch(spid));
    QVERIFY(Errors(result).empty());
    const auto sets = ResultSets(result);
    QCOMPARE(sets.size(), std::size_t{1});
    const ResultSet& set = sets[0];
    QCOMPARE(set.rows.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(TextOf(Cell(set, 0, "objectname"))), objectname);
    QCOMPARE(QString::fromStdString(TextOf(Cell(set, 0, "encrypted"))), encrypted);
    QCOMPARE(QString::fromStdString(TextOf(Cell(set, 0, "sqltext"))), sqltext);
    QVERIFY(Cell(set, 0, "stmt_start") && Cell(set, 0, "stmt_end"));
    if (sqltext == QLatin1String("<NONE>") && encrypted == QLatin1String("N")) {
        QCOMPARE(IntOf(Cell(set, 0, "stmt_start")), std::int64_t{0});
        QCOMPARE(IntOf(Cell(set, 0, "stmt_end")), std::int64_t{0});
    }
}

void TestSandboxSimulationStatements::statementOffsetsAreTheServers()
{
    // Byte offsets into the UTF-16 text: the start of the statement and the start of
    // its last character, or -1 when it runs to the end; 0 and 0 when idle.
    TQuietServer server;
    const ResultSet set = server.Single("select spid, stmt_start, stmt_end from sysprocesses where ecid = 0 "
                                        "and spid in (52, 53, 54) order by spid");
    QCOMPARE(set.rows.size(), std::size_t{3});
    const std::string procedure =
        "CREATE PROCEDURE dbo.usp_UpdateStock AS\r\nUPDATE dbo.Stock SET Qty = Qty - 1\r\nRETURN";
    const std::string statement = "UPDATE dbo.Stock SET Qty = Qty - 1";
    const auto start = static_cast<std::int64_t>(procedure.find(statement));
    QCOMPARE(IntOf(Cell(set, 0, "stmt_start")), std::int64_t{2 * 16});
    QCOMPARE(IntOf(Cell(set, 0, "stmt_end")), std::int64_t{-1});
    QCOMPARE(IntOf(Cell(set, 1, "stmt_start")), std::int64_t{0});
    QCOMPARE(IntOf(Cell(set, 1, "stmt_end")), std::int64_t{0});
    QCOMPARE(IntOf(Cell(set, 2, "stmt_start")), 2 * start);
    QCOMPARE(IntOf(Cell(set, 2, "stmt_end")), 2 * (start + static_cast<std::int64_t>(statement.size()) - 1));
}

void TestSandboxSimulationStatements::databaseNamesInTheBuiltStatement_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<int>("bareError"); // the name pasted into the built statement as it is
    QTest::addColumn<bool>("bareKills52");
    QTest::newRow("blank") << "Order Entry" << 102 << false;
    QTest::newRow("quote and brackets") << "Joe's [Shop]" << 105 << false;
    QTest::newRow("reads as SQL") << "Sales kill 52 --" << 0 << true;
}

void TestSandboxSimulationStatements::databaseNamesInTheBuiltStatement()
{
    QFETCH(QString, database);
    QFETCH(int, bareError);
    QFETCH(bool, bareKills52);
    TQuietServer server;
    ProcessSpec spec;
    spec.login = "clerk";
    spec.database = database.toStdString();
    spec.cmd = "SELECT";
    spec.statement = "SELECT * FROM dbo.Orders WHERE OrderID = @Order";
    const int spid = server.Simulation->AddProcess(spec);
    QVERIFY(spid > 0);

    // quotename makes the name one identifier of the USE that the batch builds.
    const BatchResult result = server.Run(StatementTextBatch(spid));
    QVERIFY(Errors(result).empty());
    const ResultSet set = ResultSets(result).at(0);
    QCOMPARE(TextOf(Cell(set, 0, "objectname")), std::string("<BATCH>"));
    QCOMPARE(TextOf(Cell(set, 0, "sqltext")), spec.statement);
    QVERIFY(server.Exists(52));

    std::string bare = StatementTextBatch(spid);
    const std::string quoted = "quotename(@DatabaseName)";
    bare.replace(bare.find(quoted), quoted.size(), "@DatabaseName");
    const auto errors = Errors(server.Run(bare));
    QCOMPARE(errors.empty() ? 0 : errors[0].number, bareError);
    QCOMPARE(server.Exists(52), !bareKills52);
}

void TestSandboxSimulationStatements::plainLiteralsAreInTheCodePage_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("value");
    QTest::newRow("plain literal") << "select 'Иван'"
                                   << "????";
    QTest::newRow("Unicode literal") << "select N'Иван'"
                                     << "Иван";
    QTest::newRow("within the code page") << "select 'Müller €'"
                                          << "Müller €";
    QTest::newRow("Unicode to varchar") << "select cast(N'Иван' as varchar(10))"
                                        << "????";
    QTest::newRow("compared") << "select case when N'Иван' = 'Иван' then 'same' else 'different' end"
                              << "different";
    QTest::newRow("quotename") << "select quotename(N'a]b''c')"
                               << "[a]]b'c]";
}

void TestSandboxSimulationStatements::plainLiteralsAreInTheCodePage()
{
    QFETCH(QString, sql);
    QFETCH(QString, value);
    TQuietServer server;
    const ResultSet set = server.Single(sql.toStdString());
    QCOMPARE(set.rows.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(TextOf(set.rows[0][0])), value);
}

void TestSandboxSimulationStatements::killFiltersOutsideTheCodePage()
{
    TQuietServer server;
    const int ivan = server.Add("КОРП\\иван", "ПК-07", "Sales", "КОРП", "иван");
    const std::string batch = KillUserBatch("КОРП\\иван", "КОРП", "иван", "ПК-07");
    std::string plain = batch;
    for (auto at = plain.find("N'"); at != std::string::npos; at = plain.find("N'", at))
        plain.erase(at, 1);
    QVERIFY(Errors(server.Run(plain)).empty());
    QVERIFY(server.Exists(ivan));
    QVERIFY(Errors(server.Run(batch)).empty());
    QVERIFY(!server.Exists(ivan));
}

void TestSandboxSimulationStatements::statementTextSendsCountsAndContextChanges()
{
    TQuietServer server;
    const BatchResult result = server.Run(StatementTextBatch(52));
    std::vector<std::string> kinds;
    for (const ResultItem& item : result.items) {
        if (const auto* count = std::get_if<sandbox::RowCount>(&item))
            kinds.push_back("count " + std::to_string(count->count));
        else if (const auto* change = std::get_if<DatabaseChange>(&item))
            kinds.push_back("use " + change->newName);
        else if (const auto* message = std::get_if<Message>(&item))
            kinds.push_back("info " + std::to_string(message->number));
        else if (std::holds_alternative<ResultSet>(item))
            kinds.push_back("rows");
    }
    const std::vector<std::string> expected = {"count 1", "use Sales", "info 5701",  "count 1",
                                               "count 1", "rows",      "use master", "info 5701"};
    QCOMPARE(kinds, expected);
    // With NOCOUNT on the counts go, the rest stays.
    server.Run("SET NOCOUNT ON");
    const BatchResult quiet = server.Run(StatementTextBatch(52));
    QVERIFY(std::none_of(quiet.items.begin(), quiet.items.end(), [](const ResultItem& item) {
        return std::holds_alternative<sandbox::RowCount>(item);
    }));
    QCOMPARE(ResultSets(quiet).size(), std::size_t{1});
}

void TestSandboxSimulationStatements::statementTextWithoutTheFeature_data()
{
    QTest::addColumn<bool>("offsets");
    QTest::addColumn<bool>("permission");
    QTest::addColumn<int>("error");
    QTest::newRow("no statement-offset column") << false << true << 207;
    QTest::newRow("no permission on fn_get_sql") << true << false << 229;
}

void TestSandboxSimulationStatements::statementTextWithoutTheFeature()
{
    QFETCH(bool, offsets);
    QFETCH(bool, permission);
    QFETCH(int, error);
    TQuietServer server;
    server.Simulation->SetStatementOffsetColumn(offsets);
    server.Simulation->SetFnGetSqlPermission(permission);
    const auto errors = Errors(server.Run(StatementTextBatch(52)));
    QCOMPARE(errors.size(), std::size_t{1});
    QCOMPARE(errors[0].number, error);
}

void TestSandboxSimulationStatements::inputBuffer_data()
{
    QTest::addColumn<int>("spid");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("eventType");
    QTest::addColumn<QString>("eventInfo");
    QTest::newRow("user process") << 53 << 0 << "Language Event"
                                  << "exec dbo.usp_GetOrder 10248";
    QTest::newRow("procedure caller") << 54 << 0 << "Language Event"
                                      << "EXEC dbo.usp_UpdateStock";
    QTest::newRow("system process") << 1 << 0 << "No Event"
                                    << "";
    QTest::newRow("no such process") << 999 << 7940 << "NONE"
                                     << "<No SQL Found>";
}

void TestSandboxSimulationStatements::inputBuffer()
{
    QFETCH(int, spid);
    QFETCH(int, error);
    QFETCH(QString, eventType);
    QFETCH(QString, eventInfo);
    TQuietServer server;
    const BatchResult result = server.Run(InputBufferBatch(spid));
    const auto errors = Errors(result);
    QCOMPARE(errors.empty() ? 0 : errors[0].number, error);
    const auto sets = ResultSets(result);
    QCOMPARE(sets.size(), std::size_t{1});
    QCOMPARE(sets[0].columns.size(), std::size_t{3});
    QCOMPARE(QString::fromStdString(TextOf(Cell(sets[0], 0, "EventType"))), eventType);
    QCOMPARE(QString::fromStdString(TextOf(Cell(sets[0], 0, "EventInfo"))), eventInfo);
    QCOMPARE(IntOf(Cell(sets[0], 0, "Parameters")), std::int64_t{0});
    if (error == 0)
        QCOMPARE(sets[0].columns[2].type, SqlType::NVarChar);
}

void TestSandboxSimulationStatements::killProcess_data()
{
    QTest::addColumn<int>("target"); // 0 = the session itself
    QTest::addColumn<int>("returncode");
    QTest::addColumn<bool>("stillThere");
    QTest::newRow("own connection") << 0 << -1 << true;
    QTest::newRow("system process") << 2 << -2 << true;
    QTest::newRow("user process") << 53 << 1 << false;
    QTest::newRow("no such process") << 999 << 1 << false;
}

void TestSandboxSimulationStatements::killProcess()
{
    QFETCH(int, target);
    QFETCH(int, returncode);
    QFETCH(bool, stillThere);
    TQuietServer server;
    const int spid = target == 0 ? server.Spid : target;
    const BatchResult result = server.Run(KillProcessBatch(spid));
    QVERIFY(Errors(result).empty());
    const auto sets = ResultSets(result);
    QCOMPARE(sets.size(), std::size_t{1});
    QCOMPARE(IntOf(Cell(sets[0], 0, "returncode")), std::int64_t{returncode});
    QCOMPARE(server.Exists(spid), stillThere);
    QVERIFY(server.Exists(52));
}

void TestSandboxSimulationStatements::killDatabaseProcesses()
{
    TQuietServer server;
    server.Run("use Inventory"); // the monitor's own connection is spared even there
    const int extra = server.Add("tester", "WS9", "Inventory");
    const ResultSet done = server.Single(KillDatabaseBatch("Inventory"));
    QCOMPARE(done.columns.at(0).name, std::string("aaa"));
    QCOMPARE(IntOf(Cell(done, 0, "aaa")), std::int64_t{1});
    QVERIFY(!server.Exists(54));
    QVERIFY(!server.Exists(55));
    QVERIFY(!server.Exists(extra));
    QVERIFY(server.Exists(server.Spid));
    QVERIFY(server.Exists(52));
    QVERIFY(server.Exists(1));
}

void TestSandboxSimulationStatements::killUserProcesses_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QList<int>>("killed");
    QTest::addColumn<QList<int>>("spared");
    // Fixture processes added by the test: 100 "O'Brien" on WS9, 101 "hostless" with an
    // empty host, 102 "hostless" with NULL host, 103 "hostless" on WS9.
    QTest::newRow("login in any case, on one host")
        << "appuser"
        << ""
        << ""
        << "APPSRV01" << QList<int>{52, 53, 54} << QList<int>{55, 51};
    QTest::newRow("empty host means empty or NULL") << "hostless"
                                                    << ""
                                                    << ""
                                                    << "" << QList<int>{101, 102} << QList<int>{103};
    QTest::newRow("Windows user") << "CORP\\mlee"
                                  << "CORP"
                                  << "mlee"
                                  << "" << QList<int>{56} << QList<int>{57};
    QTest::newRow("quote doubled in the literal") << "O''Brien"
                                                  << ""
                                                  << ""
                                                  << "WS9" << QList<int>{100} << QList<int>{103};
}

void TestSandboxSimulationStatements::killUserProcesses()
{
    QFETCH(QString, login);
    QFETCH(QString, domain);
    QFETCH(QString, user);
    QFETCH(QString, host);
    QFETCH(QList<int>, killed);
    QFETCH(QList<int>, spared);
    TQuietServer server;
    std::map<int, int> added;
    added[100] = server.Add("O'Brien", "WS9", "Sales");
    added[101] = server.Add("hostless", "", "Sales");
    added[102] = server.Add("hostless", std::nullopt, "Sales");
    added[103] = server.Add("hostless", "WS9", "Sales");
    const auto actual = [&](int spid) { return added.count(spid) ? added[spid] : spid; };
    const BatchResult result = server.Run(
        KillUserBatch(login.toStdString(), domain.toStdString(), user.toStdString(), host.toStdString()));
    QVERIFY(Errors(result).empty());
    QCOMPARE(IntOf(Cell(ResultSets(result).at(0), 0, "aaa")), std::int64_t{1});
    for (int spid : killed)
        QVERIFY2(!server.Exists(actual(spid)), qPrintable(QString::number(spid)));
    for (int spid : spared)
        QVERIFY2(server.Exists(actual(spid)), qPrintable(QString::number(spid)));
    QVERIFY(server.Exists(server.Spid));
}

void TestSandboxSimulationStatements::killedClientIsReported()
{
    TQuietServer server;
    std::vector<int> closed;
    server.Simulation->SetKilledHandler([&](int spid) { closed.push_back(spid); });
    const int other = server.LogIn("sa", "torvane");
    QCOMPARE(IntOf(Cell(server.Single(KillProcessBatch(other)), 0, "returncode")), std::int64_t{1});
    QCOMPARE(closed, std::vector<int>{other});
    // A quote left undoubled breaks the literal: the batch fails and nothing is killed.
    const int victim = server.Add("O'Brien", "WS9", "Sales");
    const auto errors = Errors(server.Run(KillUserBatch("O'Brien", "", "", "WS9")));
    QCOMPARE(errors.size(), std::size_t{1});
    QCOMPARE(errors[0].number, 105);
    QVERIFY(server.Exists(victim));
}

void TestSandboxSimulationStatements::caseSensitiveServerChecksVariableSpelling_data()
{
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("mendOuter");
    QTest::addColumn<bool>("mendInner");
    QTest::addColumn<QString>("undeclared"); // empty: the batch works
    QTest::newRow("as written, case-insensitive server") << false << false << false << "";
    QTest::newRow("as written, case-sensitive server") << true << false << false << "@DatabaseName";
    QTest::newRow("outer mended, built statement not") << true << true << false << "@SQL_Handle";
    QTest::newRow("one spelling throughout") << true << true << true << "";
}

void TestSandboxSimulationStatements::caseSensitiveServerChecksVariableSpelling()
{
    QFETCH(bool, caseSensitive);
    QFETCH(bool, mendOuter);
    QFETCH(bool, mendInner);
    QFETCH(QString, undeclared);
    TQuietServer server;
    server.Simulation->SetCaseSensitive(caseSensitive);
    const BatchResult result = server.Run(StatementTextMended(52, mendOuter, mendInner));
    const auto errors = Errors(result);
    if (undeclared.isEmpty()) {
        QVERIFY(errors.empty());
        QCOMPARE(TextOf(Cell(ResultSets(result).at(0), 0, "objectname")), std::string("<BATCH>"));
    } else {
        QCOMPARE(errors.size(), std::size_t{1});
        QCOMPARE(errors[0].number, 137);
        QCOMPARE(QString::fromStdString(errors[0].text),
                 QStringLiteral("Must declare the scalar variable \"%1\".").arg(undeclared));
        QVERIFY(ResultSets(result).empty());
    }
}

void TestSandboxSimulationStatements::caseSensitiveServerRunsTheOtherBatches()
{
    // Their variables are spelt one way throughout, and @@ names are not variables.
    ScenarioOptions options;
    options.caseSensitive = true;
    TSandboxSimulation simulation(options);
    LoginRequest request;
    request.userName = "sa";
    request.password = "torvane";
    const int spid = simulation.Login(request).spid;
    QVERIFY(spid != 0);
    for (const std::string& batch : {SnapshotQuery(), InputBufferBatch(53), KillProcessBatch(53),
                                     KillDatabaseBatch("Inventory"), KillUserBatch("etl", "", "", "ETL01")}) {
        const BatchResult result = simulation.ExecuteBatch(spid, batch);
        QVERIFY2(Errors(result).empty(), batch.c_str());
        QCOMPARE(ResultSets(result).size(), std::size_t{1});
    }
}

void TestSandboxSimulationStatements::sessionSetUpStatements_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("resultSets");
    QTest::newRow("ODBC connection options")
        << "SET TEXTSIZE 2147483647\r\nSET ANSI_NULLS ON SET ANSI_WARNINGS ON SET ANSI_PADDING ON "
           "SET QUOTED_IDENTIFIER ON SET CONCAT_NULL_YIELDS_NULL ON set implicit_transactions off"
        << 0;
    QTest::newRow("transaction isolation") << "SET TRANSACTION ISOLATION LEVEL READ COMMITTED" << 0;
    QTest::newRow("use and spid") << "use master; select @@spid" << 1;
    QTest::newRow("version") << "SELECT @@VERSION" << 1;
    QTest::newRow("commit only when open") << "IF @@TRANCOUNT > 0 COMMIT TRAN" << 0;
    QTest::newRow("rollback only when open") << "if @@trancount > 0 rollback transaction" << 0;
    QTest::newRow("begin and commit") << "BEGIN TRAN select @@trancount COMMIT" << 1;
    QTest::newRow("language") << "SET LANGUAGE us_english" << 0;
}

void TestSandboxSimulationStatements::sessionSetUpStatements()
{
    QFETCH(QString, sql);
    QFETCH(int, resultSets);
    TQuietServer server;
    const BatchResult result = server.Run(sql.toStdString());
    QVERIFY2(Errors(result).empty(), Errors(result).empty() ? "" : Errors(result)[0].text.c_str());
    QCOMPARE(static_cast<int>(ResultSets(result).size()), resultSets);
}

void TestSandboxSimulationStatements::wrongSqlGetsTheServersError_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("syntax") << "select 1 +" << 102 << "Incorrect syntax near '+'.";
    QTest::newRow("syntax in the middle")
        << "select spid from from sysprocesses" << 102 << "Incorrect syntax near 'from'.";
    QTest::newRow("unknown table") << "select * from nosuchtable" << 208
                                   << "Invalid object name 'nosuchtable'.";
    QTest::newRow("unknown column") << "select nosuch from sysprocesses" << 207
                                    << "Invalid column name 'nosuch'.";
    QTest::newRow("qualifier that is not the alias")
        << "select sysprocesses.spid from dbo.sysprocesses p" << 4104
        << "The multi-part identifier \"sysprocesses.spid\" could not be bound.";
    QTest::newRow("unclosed quote") << "select 'abc" << 105
                                    << "Unclosed quotation mark after the character string 'abc'.";
    QTest::newRow("unknown procedure")
        << "exec sp_who2" << 2812 << "Could not find stored procedure 'sp_who2'.";
    QTest::newRow("unknown SET option") << "SET FOO ON" << 195 << "'foo' is not a recognized SET option.";
    QTest::newRow("unknown function")
        << "select nofunc(1)" << 195 << "'nofunc' is not a recognized built-in function name.";
    QTest::newRow("commit without a transaction")
        << "COMMIT" << 3902 << "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.";
    QTest::newRow("unknown database")
        << "use nowhere" << 911
        << "Database 'nowhere' does not exist. Make sure that the name is entered correctly.";
    QTest::newRow("undeclared variable") << "select @x" << 137 << "Must declare the scalar variable \"@x\".";
    QTest::newRow("divide by zero") << "select 1/0" << 8134 << "Divide by zero error encountered.";
    QTest::newRow("nested too deeply")
        << "select " + QString(300, QLatin1Char('(')) + "1" + QString(300, QLatin1Char(')')) << 191
        << "Some part of your SQL statement is nested too deeply. Rewrite the query or "
           "break it up into smaller queries.";
    QTest::newRow("dynamic SQL calling itself")
        << "declare @s nvarchar(200)\r\nset @s = N'exec sp_executesql @s, N''@s nvarchar(200)'', @s'\r\n"
           "exec sp_executesql @s, N'@s nvarchar(200)', @s"
        << 217 << "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit 32).";
}

void TestSandboxSimulationStatements::wrongSqlGetsTheServersError()
{
    QFETCH(QString, sql);
    QFETCH(int, number);
    QFETCH(QString, text);
    TQuietServer server;
    const BatchResult result = server.Run(sql.toStdString());
    const auto errors = Errors(result);
    QCOMPARE(errors.size(), std::size_t{1});
    QCOMPARE(errors[0].number, number);
    QCOMPARE(QString::fromStdString(errors[0].text), text);
    QVERIFY(ResultSets(result).empty());
}

QTEST_GUILESS_MAIN(TestSandboxSimulationStatements)
#include "tst_sandboxsimulationstatements.moc"
