#include "sandbox/Sandboxscenario.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <set>
#include <stdexcept>

namespace sandbox {

namespace {

// The built-in server: system processes, a parallel query, a blocking chain
// (54 <- 55 <- 56), one login in three letter cases from one host, Windows users,
// empty and NULL host names, a database whose name differs only in case from another,
// a process in a dropped database, an encrypted procedure, and a database that the
// limited login "viewer" cannot use (HR).
const char* const BuiltInJson = R"json({
  "serverName": "SANDBOX",
  "uptimeSeconds": 184620,
  "accounts": [
    {"login": "sa", "password": "torvane", "defaultDatabase": "master", "databases": "*", "sysadmin": true},
    {"login": "viewer", "password": "viewer", "defaultDatabase": "master",
     "databases": ["master", "tempdb", "model", "msdb", "Sales", "Inventory", "Reporting", "reporting"]}
  ],
  "databases": [
    {"id": 1, "name": "master"}, {"id": 2, "name": "tempdb"}, {"id": 3, "name": "model"},
    {"id": 4, "name": "msdb"}, {"id": 5, "name": "Sales"}, {"id": 6, "name": "Inventory"},
    {"id": 7, "name": "HR"}, {"id": 8, "name": "Reporting"}, {"id": 9, "name": "reporting"}
  ],
  "rates": {"logon": 0.3, "logoff": 0.25, "block": 0.15, "unblock": 0.3, "workers": 0.3},
  "processes": [
    {"spid": 1, "system": true, "login": "sa", "host": "", "program": "", "cmd": "RESOURCE MONITOR", "status": "background", "lastwaittype": "RESOURCE_QUEUE", "net_address": "", "net_library": "", "hostprocess": "", "cpu": 1850, "memusage": 0},
    {"spid": 2, "system": true, "login": "sa", "host": "", "program": "", "cmd": "LAZY WRITER", "status": "background", "lastwaittype": "LAZYWRITER_SLEEP", "net_address": "", "net_library": "", "hostprocess": "", "cpu": 9120},
    {"spid": 3, "system": true, "login": "sa", "host": "", "program": "", "cmd": "LOG WRITER", "status": "background", "lastwaittype": "LOGMGR_QUEUE", "net_address": "", "net_library": "", "hostprocess": "", "cpu": 410, "physical_io": 2200},
    {"spid": 4, "system": true, "login": "sa", "host": "", "program": "", "cmd": "LOCK MONITOR", "status": "background", "lastwaittype": "REQUEST_FOR_DEADLOCK_SEARCH", "net_address": "", "net_library": "", "hostprocess": ""},
    {"spid": 5, "system": true, "login": "sa", "host": "", "program": "", "cmd": "SIGNAL HANDLER", "status": "background", "lastwaittype": "KSOURCE_WAKEUP", "database": "master", "net_address": "", "net_library": "", "hostprocess": ""},
    {"spid": 6, "system": true, "login": "sa", "host": "", "program": "", "cmd": "TASK MANAGER", "status": "sleeping", "lastwaittype": "SLEEP_TASK", "database": "master", "net_address": "", "net_library": "", "hostprocess": ""},
    {"spid": 7, "system": true, "login": "sa", "host": "", "program": "", "cmd": "CHECKPOINT SLEEP", "status": "background", "lastwaittype": "CHECKPOINT_QUEUE", "net_address": "", "net_library": "", "hostprocess": "", "physical_io": 5120},
    {"spid": 8, "system": true, "login": "sa", "host": "", "program": "", "cmd": "TASK MANAGER", "status": "sleeping", "lastwaittype": "ONDEMAND_TASK_QUEUE", "database": "master", "net_address": "", "net_library": "", "hostprocess": ""},
    {"spid": 51, "login": "sa", "host": "DBA-WS01", "program": "SQL Query Analyzer", "database": "master", "net_address": "000C29A1B2C3", "hostprocess": "2216", "statement": "select * from sysdatabases", "login_time": 7200},
    {"spid": 52, "login": "appuser", "host": "APPSRV01", "program": ".Net SqlClient Data Provider", "database": "Sales", "cmd": "SELECT", "status": "runnable", "lastwaittype": "CXPACKET", "net_address": "00155D010203", "hostprocess": "4120", "workers": 4, "cpu": 48210, "physical_io": 91233, "memusage": 42, "running": true,
     "statement": "SET NOCOUNT ON\r\nSELECT c.CustomerID, SUM(o.Total) AS Total\r\nFROM dbo.Orders o JOIN dbo.Customers c ON c.CustomerID = o.CustomerID\r\nGROUP BY c.CustomerID\r\nORDER BY Total DESC", "stmt_start": 16, "stmt_end": -1, "login_time": 5400},
    {"spid": 53, "login": "AppUser", "host": "APPSRV01", "program": ".Net SqlClient Data Provider", "database": "Sales", "net_address": "00155D010203", "hostprocess": "4120", "statement": "exec dbo.usp_GetOrder @OrderID = 10248", "login_time": 5000},
    {"spid": 54, "login": "APPUSER", "host": "APPSRV01", "program": "StockService", "database": "Inventory", "cmd": "UPDATE", "status": "sleeping", "lastwaittype": "WRITELOG", "open_tran": 1, "net_address": "00155D010203", "hostprocess": "4188", "running": true, "object": "usp_UpdateStock",
     "statement": "CREATE PROCEDURE dbo.usp_UpdateStock @ItemID int, @Qty int AS\r\nBEGIN TRAN\r\nUPDATE dbo.Stock SET Qty = Qty - @Qty WHERE ItemID = @ItemID\r\nWAITFOR DELAY '00:10:00'\r\nCOMMIT", "current": "UPDATE dbo.Stock SET Qty = Qty - @Qty WHERE ItemID = @ItemID", "cpu": 310, "physical_io": 25, "login_time": 3600},
    {"spid": 55, "login": "appuser", "host": "APPSRV01", "program": "StockService", "database": "Inventory", "cmd": "UPDATE", "status": "sleeping", "blocked": 54, "lastwaittype": "LCK_M_X", "waitresource": "KEY: 6:72057594038321152 (8194443284a0)", "waittime": 42000, "open_tran": 2, "net_address": "00155D010203", "hostprocess": "4188", "running": true,
     "statement": "UPDATE dbo.Stock SET Qty = 0 WHERE ItemID = 17", "login_time": 3000},
    {"spid": 56, "login": "CORP\\jsmith", "host": "JSMITH-PC", "nt_domain": "CORP", "nt_username": "jsmith", "program": "Microsoft Office 2003", "database": "Reporting", "cmd": "SELECT", "status": "sleeping", "blocked": 55, "lastwaittype": "LCK_M_S", "waitresource": "PAG: 6:1:4410", "waittime": 15500, "net_address": "0019B9F1E2D3", "net_library": "Named Pipes", "hostprocess": "3308", "running": true,
     "statement": "SELECT ItemID, Qty FROM Inventory.dbo.Stock WHERE Qty < 10", "login_time": 2400},
    {"spid": 57, "login": "CORP\\mlee", "host": "", "nt_domain": "CORP", "nt_username": "mlee", "program": "Microsoft SQL Server Management Studio", "database": "HR", "cmd": "EXECUTE", "status": "runnable", "lastwaittype": "PAGEIOLATCH_SH", "waitresource": "6:1:88120", "net_address": "0019B9F1AA10", "hostprocess": "5120", "running": true, "object": "usp_PayrollRun", "encrypted": true, "statement": "", "cpu": 1200, "physical_io": 800, "login_time": 1800},
    {"spid": 58, "login": "reportuser", "host": null, "program": "Crystal Reports", "database": "reporting", "net_address": "0050569A0B0C", "hostprocess": "", "statement": "SELECT * FROM dbo.MonthlySales", "login_time": 1500},
    {"spid": 59, "login": "CORP\\jsmith", "host": "JSMITH-PC", "nt_domain": "CORP", "nt_username": "jsmith", "program": "SQLAgent - TSQL JobStep (Job 0x8F2A3C4D5E6F7A8B Step 1)", "database": "msdb", "cmd": "WAITFOR", "status": "sleeping", "lastwaittype": "WAITFOR", "waittime": 30000, "net_address": "0019B9F1E2D3", "hostprocess": "1780", "running": true, "statement": "WAITFOR DELAY '00:05:00'", "login_time": 900},
    {"spid": 60, "login": "webuser", "host": "WEB01", "program": "Velquin WebShop", "dbid": 12, "net_address": "00155D0A0B0C", "hostprocess": "6604", "statement": "SELECT 1", "login_time": 600},
    {"spid": 61, "login": "CORP\\jmüller", "host": "MÜLLER-NB", "nt_domain": "CORP", "nt_username": "jmüller", "program": "Microsoft Office 2003", "database": "Sales", "net_address": "0019B9F1CC01", "hostprocess": "2040", "statement": "SELECT * FROM dbo.Customers WHERE Name LIKE 'Mü%'", "login_time": 420},
    {"spid": 62, "login": "etl", "host": "ETL01", "program": "DTS Designer", "database": "Inventory", "cmd": "BULK INSERT", "status": "suspended", "lastwaittype": "PREEMPTIVE_OS_GETPROCADDRESS", "waitresource": "OBJECT: 6:1977058079:0 [COMPILE] WAITING FOR THE EXCLUSIVE COMPILE LOCK ON A VERY LONG NAMED OBJECT OF THE STAGING AREA THAT KEEPS GOING SO THAT THE COLUMN IS USED TO ITS FULL WIDTH OF TWO HUNDRED AND FIFTY SIX CHARACTERS AND NOT ONE CHARACTER LESS THAN THAT, WHICH THIS TEXT NOW REACHES.....", "waittime": 800, "net_address": "00155D0C0D0E", "hostprocess": "7712", "running": true, "statement": "BULK INSERT dbo.StockStaging FROM '\\\\etl01\\drop\\stock.csv'", "login_time": 300},
    {"spid": 63, "login": "monitor", "host": "OPS-WS07", "program": "VelquinMonitor - Ops", "database": "master", "net_address": "000C29F0E1D2", "hostprocess": "900", "statement": "SELECT 1", "login_time": 200}
  ]
})json";

[[noreturn]] void Bad(const std::string& origin, const std::string& what)
{
    throw std::runtime_error("scenario " + origin + ": " + what);
}

std::string Text(const QJsonObject& object, const char* key, const std::string& fallback,
                 const std::string& where)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return fallback;
    if (!value.isString())
        Bad(where, std::string("\"") + key + "\" must be a text");
    return value.toString().toStdString();
}

std::optional<std::string> NullableText(const QJsonObject& object, const char* key,
                                        const std::optional<std::string>& fallback, const std::string& where)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isNull())
        return std::nullopt;
    if (value.isUndefined())
        return fallback;
    if (!value.isString())
        Bad(where, std::string("\"") + key + "\" must be a text or null");
    return value.toString().toStdString();
}

double Number(const QJsonObject& object, const char* key, double fallback, const std::string& where,
              double low, double high)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return fallback;
    if (!value.isDouble())
        Bad(where, std::string("\"") + key + "\" must be a number");
    const double number = value.toDouble();
    if (number < low || number > high)
        Bad(where, std::string("\"") + key + "\" is out of range");
    return number;
}

bool Flag(const QJsonObject& object, const char* key, bool fallback, const std::string& where)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return fallback;
    if (!value.isBool())
        Bad(where, std::string("\"") + key + "\" must be true or false");
    return value.toBool();
}

QJsonArray Array(const QJsonObject& object, const char* key, const std::string& origin)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return {};
    if (!value.isArray())
        Bad(origin, std::string("\"") + key + "\" must be an array");
    return value.toArray();
}

QJsonObject Element(const QJsonValue& value, const std::string& where)
{
    if (!value.isObject())
        Bad(where, "must be an object");
    return value.toObject();
}

TProcessDef ParseProcess(const QJsonObject& p, const std::string& where)
{
    TProcessDef def;
    ProcessSpec& spec = def.spec;
    def.spid = static_cast<int>(Number(p, "spid", 0, where, 0, 32767));
    def.system = Flag(p, "system", false, where);
    def.nullLogin = p.value(QLatin1String("login")).isNull();
    if (!def.nullLogin)
        spec.login = Text(p, "login", spec.login, where);
    spec.hostName = NullableText(p, "host", spec.hostName, where);
    spec.programName = Text(p, "program", spec.programName, where);
    spec.database = Text(p, "database", def.system ? std::string() : spec.database, where);
    def.dbid = static_cast<int>(Number(p, "dbid", -1, where, -1, 32767));
    spec.ntDomain = Text(p, "nt_domain", spec.ntDomain, where);
    spec.ntUserName = Text(p, "nt_username", spec.ntUserName, where);
    spec.cmd = Text(p, "cmd", spec.cmd, where);
    spec.status = Text(p, "status", spec.status, where);
    spec.netAddress = Text(p, "net_address", spec.netAddress, where);
    spec.netLibrary = Text(p, "net_library", spec.netLibrary, where);
    spec.hostProcess = Text(p, "hostprocess", spec.hostProcess, where);
    spec.lastWaitType = Text(p, "lastwaittype", spec.lastWaitType, where);
    spec.waitResource = Text(p, "waitresource", spec.waitResource, where);
    spec.blocked = static_cast<int>(Number(p, "blocked", 0, where, 0, 32767));
    spec.openTran = static_cast<int>(Number(p, "open_tran", 0, where, 0, 32767));
    spec.workers = static_cast<int>(Number(p, "workers", 0, where, 0, 64));
    spec.statement = Text(p, "statement", spec.statement, where);
    def.nullLoginTime = p.value(QLatin1String("login_time")).isNull();
    def.nullLastBatch = p.value(QLatin1String("last_batch")).isNull();
    if (!def.nullLoginTime)
        spec.loginAgeSeconds = Number(p, "login_time", spec.loginAgeSeconds, where, 0, 1e9);
    if (!def.nullLastBatch)
        def.lastBatchAgeSeconds = Number(p, "last_batch", def.lastBatchAgeSeconds, where, 0, 1e9);
    def.cpu = static_cast<std::int64_t>(Number(p, "cpu", 0, where, 0, 2147483647.0));
    def.physicalIo = static_cast<std::int64_t>(Number(p, "physical_io", 0, where, 0, 9e15));
    def.memusage = static_cast<std::int64_t>(Number(p, "memusage", 2, where, 0, 2147483647.0));
    def.waittime = static_cast<std::int64_t>(Number(p, "waittime", 0, where, 0, 9e15));
    def.running = Flag(p, "running", false, where);
    def.objectName = Text(p, "object", "", where);
    def.encrypted = Flag(p, "encrypted", false, where);
    def.stmtStart = static_cast<int>(Number(p, "stmt_start", 0, where, 0, 1e6));
    def.stmtEnd = static_cast<int>(Number(p, "stmt_end", -1, where, -1, 1e6));
    const std::string current = Text(p, "current", "", where);
    if (!current.empty()) {
        const std::size_t at = spec.statement.find(current);
        if (at == std::string::npos)
            Bad(where, "\"current\" is not part of \"statement\"");
        def.stmtStart = static_cast<int>(at);
        // The server marks a statement that runs to the end of its text with -1.
        def.stmtEnd =
            at + current.size() == spec.statement.size() ? -1 : static_cast<int>(at + current.size());
    }
    return def;
}

} // namespace

TScenario TScenario::BuiltIn()
{
    return FromJson(BuiltInJson, "(built-in)");
}

TScenario TScenario::FromFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("scenario " + path +
                                 ": cannot be read: " + file.errorString().toStdString());
    return FromJson(file.readAll().toStdString(), path);
}

TScenario TScenario::FromJson(const std::string& json, const std::string& origin)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    if (error.error != QJsonParseError::NoError)
        Bad(origin, "not valid JSON at offset " + std::to_string(error.offset) + ": " +
                        error.errorString().toStdString());
    if (!document.isObject())
        Bad(origin, "the top level must be an object");
    const QJsonObject root = document.object();
    TScenario scenario;
    scenario.serverName = Text(root, "serverName", scenario.serverName, origin);
    if (root.contains(QLatin1String("seed")))
        scenario.seed = static_cast<std::uint32_t>(Number(root, "seed", 1, origin, 0, 4294967295.0));
    scenario.uptimeSeconds = Number(root, "uptimeSeconds", scenario.uptimeSeconds, origin, 60, 1e9);

    const QJsonObject rates = root.value(QLatin1String("rates")).toObject();
    if (root.contains(QLatin1String("rates")) && !root.value(QLatin1String("rates")).isObject())
        Bad(origin, "\"rates\" must be an object");
    scenario.rates.logon = Number(rates, "logon", scenario.rates.logon, origin + " rates", 0, 1);
    scenario.rates.logoff = Number(rates, "logoff", scenario.rates.logoff, origin + " rates", 0, 1);
    scenario.rates.block = Number(rates, "block", scenario.rates.block, origin + " rates", 0, 1);
    scenario.rates.unblock = Number(rates, "unblock", scenario.rates.unblock, origin + " rates", 0, 1);
    scenario.rates.workers = Number(rates, "workers", scenario.rates.workers, origin + " rates", 0, 1);

    std::set<int> ids;
    const QJsonArray databases = Array(root, "databases", origin);
    for (qsizetype i = 0; i < databases.size(); ++i) {
        const std::string where = origin + " databases[" + std::to_string(i) + "]";
        const QJsonObject d = Element(databases[i], where);
        TDatabaseDef def;
        def.id = static_cast<int>(Number(d, "id", 0, where, 1, 32767));
        def.name = Text(d, "name", "", where);
        if (def.id == 0 || def.name.empty())
            Bad(where, "needs an \"id\" and a \"name\"");
        if (!ids.insert(def.id).second)
            Bad(where, "database id " + std::to_string(def.id) + " is used twice");
        scenario.databases.push_back(def);
    }
    if (!ids.count(1))
        scenario.databases.insert(scenario.databases.begin(), TDatabaseDef{1, "master"});

    const QJsonArray accounts = Array(root, "accounts", origin);
    for (qsizetype i = 0; i < accounts.size(); ++i) {
        const std::string where = origin + " accounts[" + std::to_string(i) + "]";
        const QJsonObject a = Element(accounts[i], where);
        TAccount account;
        account.login = Text(a, "login", "", where);
        if (account.login.empty())
            Bad(where, "needs a \"login\"");
        account.password = Text(a, "password", "", where);
        account.defaultDatabase = Text(a, "defaultDatabase", account.defaultDatabase, where);
        account.sysadmin = Flag(a, "sysadmin", false, where);
        const QJsonValue dbs = a.value(QLatin1String("databases"));
        if (dbs.isArray()) {
            account.allDatabases = false;
            for (const QJsonValue& name : dbs.toArray()) {
                if (!name.isString())
                    Bad(where, "\"databases\" must hold names");
                account.databases.push_back(name.toString().toStdString());
            }
        } else if (!dbs.isUndefined() && dbs.toString() != QLatin1String("*")) {
            Bad(where, "\"databases\" must be \"*\" or an array of names");
        }
        scenario.accounts.push_back(account);
    }
    if (scenario.accounts.empty())
        scenario.accounts.push_back(TAccount{"sa", "torvane", "master", true, {}, true});

    std::set<int> spids;
    const QJsonArray processes = Array(root, "processes", origin);
    for (qsizetype i = 0; i < processes.size(); ++i) {
        const std::string where = origin + " processes[" + std::to_string(i) + "]";
        TProcessDef def = ParseProcess(Element(processes[i], where), where);
        if (def.spid != 0 && !spids.insert(def.spid).second)
            Bad(where, "spid " + std::to_string(def.spid) + " is used twice");
        if (def.dbid < 0 && !def.spec.database.empty()) {
            bool known = false;
            for (const TDatabaseDef& database : scenario.databases)
                known = known || database.name == def.spec.database;
            if (!known)
                Bad(where, "database \"" + def.spec.database + "\" is not among the databases");
        }
        scenario.processes.push_back(std::move(def));
    }
    return scenario;
}

} // namespace sandbox
