#include "sandbox/Sandboxprocesstable.h"

#include "sandbox/Sandboxsqllexer.h"
#include "sandbox/Sandboxsqlvalue.h"

#include <QDateTime>

#include <chrono>
#include <cmath>

namespace sandbox {

namespace {

constexpr int FirstUserSpid = 51;
constexpr double SecondsPerDay = 86400.0;

struct TVisitor
{
    const char* login;
    const char* host; // nullptr = NULL
    const char* domain;
    const char* user;
    const char* program;
    const char* database;
    const char* netAddress;
};

// The simulated clients that log on and off on their own.
const TVisitor Visitors[] = {
    {"appuser", "APPSRV01", "", "", ".Net SqlClient Data Provider", "Sales", "00155D010203"},
    {"appuser", "APPSRV02", "", "", ".Net SqlClient Data Provider", "Sales", "00155D010204"},
    {"webuser", "WEB01", "", "", "Velquin WebShop", "Sales", "00155D0A0B0C"},
    {"webuser", "WEB02", "", "", "Velquin WebShop", "Inventory", "00155D0A0B0D"},
    {"CORP\\akowalski", "AKOWALSKI-PC", "CORP", "akowalski", "Microsoft Office 2003", "Reporting",
     "0019B9F1A001"},
    {"CORP\\jsmith", "JSMITH-PC", "CORP", "jsmith", "SQL Query Analyzer", "Inventory", "0019B9F1E2D3"},
    {"reportuser", nullptr, "", "", "Crystal Reports", "reporting", "0050569A0B0C"},
    {"etl", "ETL01", "", "", "DTS Designer", "Inventory", "00155D0C0D0E"},
    {"sa", "", "", "", "OSQL-32", "master", "000C29A1B2C3"},
    {"CORP\\svc_backup", "BACKUP01", "CORP", "svc_backup", "SQLAgent - TSQL JobStep (Job 0x1A2B3C4D Step 2)",
     "msdb", "00155D0E0F10"},
};

const char* const Statements[] = {
    "SELECT * FROM dbo.Orders WHERE OrderDate >= DATEADD(day, -1, GETDATE())",
    "UPDATE dbo.Customers SET LastSeen = GETDATE() WHERE CustomerID = 42",
    "exec dbo.usp_GetOrder @OrderID = 10250",
    "SELECT COUNT(*) FROM dbo.Stock",
    "INSERT INTO dbo.AuditLog (Event) VALUES ('login')",
};

double LocalOffsetDays()
{
    return QDateTime::currentDateTime().offsetFromUtc() / SecondsPerDay;
}

double RoundToServerTick(double days)
{
    return std::round(days * SecondsPerDay * 300.0) / (SecondsPerDay * 300.0);
}

} // namespace

TProcessTable::TProcessTable(TScenario scenario, std::uint32_t seed, int scale)
    : ScenarioData(std::move(scenario)), Random(ScenarioData.seed.value_or(seed)), Used(MaxSpid + 1, false)
{
    ClockOffset = LocalOffsetDays();
    Start = RoundToServerTick(Now() - ScenarioData.uptimeSeconds / SecondsPerDay);
    const double uptimeTicks = ScenarioData.uptimeSeconds * 1000.0 / 31.25; // @@TIMETICKS = 31250 us
    CountersData.cpuBusy = static_cast<std::int64_t>(uptimeTicks * 0.07);
    CountersData.ioBusy = static_cast<std::int64_t>(uptimeTicks * 0.01);
    CountersData.idle = static_cast<std::int64_t>(uptimeTicks) - CountersData.cpuBusy - CountersData.ioBusy;
    CountersData.packReceived = 812344;
    CountersData.packSent = 1604233;
    CountersData.packetErrors = 3;
    CountersData.totalRead = 288120;
    CountersData.totalWrite = 91877;
    CountersData.totalErrors = 0;
    CountersData.connections = 4120;
    for (const TProcessDef& def : ScenarioData.processes)
        AddFromDef(def, false);
    if (scale > 0) {
        Scale = std::min(scale, MaxSpid);
        GrowTo(Scale);
    }
}

double TProcessTable::Now() const
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const double unixDays = std::chrono::duration<double>(since).count() / SecondsPerDay;
    return RoundToServerTick(unixDays + 25569.0 + ClockOffset);
}

bool TProcessTable::Chance(double p)
{
    return std::uniform_real_distribution<double>(0.0, 1.0)(Random) < p;
}

int TProcessTable::Uniform(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(Random);
}

const TAccount* TProcessTable::FindAccount(const std::string& login) const
{
    // Logins compare without regard to case, as on a server with the default collation.
    for (const TAccount& account : ScenarioData.accounts)
        if (ToLower(account.login) == ToLower(login))
            return &account;
    return nullptr;
}

std::optional<std::string> TProcessTable::DatabaseName(int dbid) const
{
    for (const TDatabaseDef& database : ScenarioData.databases)
        if (database.id == dbid)
            return database.name;
    return std::nullopt;
}

std::optional<int> TProcessTable::DatabaseId(const std::string& name, bool caseSensitive) const
{
    for (const TDatabaseDef& database : ScenarioData.databases)
        if (database.name == name)
            return database.id;
    if (!caseSensitive)
        for (const TDatabaseDef& database : ScenarioData.databases)
            if (ToLower(database.name) == ToLower(name))
                return database.id;
    return std::nullopt;
}

bool TProcessTable::HasAccess(const std::string& login, int dbid) const
{
    const TAccount* account = FindAccount(login);
    const std::optional<std::string> name = DatabaseName(dbid);
    if (!name)
        return false;
    if (!account)
        return dbid <= 4; // logins the scenario does not know still see the system databases
    if (account->allDatabases || account->sysadmin)
        return true;
    for (const std::string& allowed : account->databases)
        if (allowed == *name)
            return true;
    return false;
}

int TProcessTable::FreeSpid() const
{
    for (int spid = FirstUserSpid; spid <= MaxSpid; ++spid)
        if (!Used[static_cast<std::size_t>(spid)])
            return spid;
    // A full server hands out the low spids that system processes leave unused.
    for (int spid = 1; spid < FirstUserSpid; ++spid)
        if (!Used[static_cast<std::size_t>(spid)])
            return spid;
    return 0;
}

int TProcessTable::ResolveDatabase(const std::string& name) const
{
    return DatabaseId(name, true).value_or(DatabaseId(name, false).value_or(1));
}

TProcess TProcessTable::FromSpec(const ProcessSpec& spec) const
{
    TProcess process;
    process.login = spec.login;
    process.hostName = spec.hostName;
    process.programName = spec.programName;
    process.dbid = spec.database.empty() ? 1 : ResolveDatabase(spec.database);
    process.ntDomain = spec.ntDomain;
    process.ntUserName = spec.ntUserName;
    process.cmd = spec.cmd;
    process.status = spec.status;
    process.netAddress = spec.netAddress;
    process.netLibrary = spec.netLibrary;
    process.hostProcess = spec.hostProcess;
    process.lastWaitType = spec.lastWaitType;
    process.waitResource = spec.waitResource;
    process.blocked = spec.blocked;
    process.openTran = spec.openTran;
    const double now = Now();
    process.loginTime =
        RoundToServerTick(std::max(Start + 1.0 / SecondsPerDay, now - spec.loginAgeSeconds / SecondsPerDay));
    process.lastBatch = process.loginTime;
    process.memusage = 2;
    process.inputBuffer = spec.statement;
    process.sqlText = spec.statement;
    process.running = spec.cmd != "AWAITING COMMAND" && !spec.statement.empty();
    return process;
}

int TProcessTable::AddFromDef(const TProcessDef& def, bool managed)
{
    const int spid = def.spid != 0 ? def.spid : FreeSpid();
    if (spid == 0 || Used[static_cast<std::size_t>(spid)])
        return 0;
    TProcess process = FromSpec(def.spec);
    process.spid = spid;
    process.kpid = NextKpid++;
    process.managed = managed;
    process.system = def.system;
    if (def.dbid >= 0)
        process.dbid = def.dbid;
    else if (def.system && def.spec.database.empty())
        process.dbid = 0;
    if (def.nullLogin)
        process.login.reset();
    if (def.system) {
        process.loginTime = Start;
        process.lastBatch = Start;
    } else {
        process.lastBatch =
            RoundToServerTick(std::max(*process.loginTime, Now() - def.lastBatchAgeSeconds / SecondsPerDay));
    }
    if (def.nullLoginTime)
        process.loginTime.reset();
    if (def.nullLastBatch)
        process.lastBatch.reset();
    process.cpu = def.cpu;
    process.physicalIo = def.physicalIo;
    process.memusage = def.memusage;
    process.waittime = def.waittime;
    process.running = def.running;
    process.objectName = def.objectName;
    if (!def.objectName.empty())
        process.inputBuffer = "EXEC dbo." + def.objectName;
    process.encrypted = def.encrypted;
    process.stmtStart = def.stmtStart;
    process.stmtEnd = def.stmtEnd;
    process.handleSerial = static_cast<std::uint32_t>(Random());
    SetWorkers(process, def.spec.workers);
    Used[static_cast<std::size_t>(spid)] = true;
    if (process.blocked != 0)
        Waiting.insert(spid);
    Table.emplace(spid, std::move(process));
    return spid;
}

int TProcessTable::Add(const ProcessSpec& spec, bool client, bool managed)
{
    int spid = FreeSpid();
    if (spid == 0) {
        // A full table makes room by ending the newest process of its own.
        for (auto it = Table.rbegin(); it != Table.rend(); ++it) {
            if (!it->second.managed && !it->second.system && !it->second.client) {
                Remove(it->first);
                spid = FreeSpid();
                break;
            }
        }
        if (spid == 0)
            return 0;
    }
    TProcess process = FromSpec(spec);
    process.spid = spid;
    process.kpid = NextKpid++;
    process.client = client;
    process.managed = managed;
    process.handleSerial = static_cast<std::uint32_t>(Random());
    SetWorkers(process, spec.workers);
    if (client) {
        process.loginTime = Now();
        process.lastBatch = process.loginTime;
        ++CountersData.connections;
    }
    Used[static_cast<std::size_t>(spid)] = true;
    if (process.blocked != 0)
        Waiting.insert(spid);
    Table.emplace(spid, std::move(process));
    return spid;
}

bool TProcessTable::Remove(int spid)
{
    const auto it = Table.find(spid);
    if (it == Table.end())
        return false;
    Table.erase(it);
    Used[static_cast<std::size_t>(spid)] = false;
    Waiting.erase(spid);
    // Whoever waited on the process goes on.
    for (auto waiter = Waiting.begin(); waiter != Waiting.end();) {
        TProcess& process = Table.at(*waiter);
        if (process.blocked != spid) {
            ++waiter;
            continue;
        }
        process.blocked = 0;
        process.waittime = 0;
        process.waitResource.clear();
        process.status = "runnable";
        waiter = Waiting.erase(waiter);
    }
    return true;
}

bool TProcessTable::Block(int spid, int blockingSpid)
{
    TProcess* process = Find(spid);
    if (!process || blockingSpid == spid || (blockingSpid != 0 && !Find(blockingSpid)))
        return false;
    process->blocked = blockingSpid;
    if (blockingSpid != 0)
        Waiting.insert(spid);
    else
        Waiting.erase(spid);
    if (blockingSpid != 0) {
        process->status = "sleeping";
        process->lastWaitType = "LCK_M_S";
        process->waitResource = "KEY: " + std::to_string(process->dbid) + ":72057594038321152 (8194443284a0)";
        process->running = true;
        if (process->cmd == "AWAITING COMMAND")
            process->cmd = "SELECT";
    } else {
        process->waittime = 0;
        process->waitResource.clear();
        process->status = "runnable";
    }
    return true;
}

TProcess* TProcessTable::Find(int spid)
{
    const auto it = Table.find(spid);
    return it == Table.end() ? nullptr : &it->second;
}

const TProcess* TProcessTable::Find(int spid) const
{
    const auto it = Table.find(spid);
    return it == Table.end() ? nullptr : &it->second;
}

void TProcessTable::CountPackets(int received, int sent)
{
    CountersData.packReceived += received;
    CountersData.packSent += sent;
}

std::string TProcessTable::SqlHandle(const TProcess& process) const
{
    if (!process.running)
        return std::string(20, '\0');
    std::string handle(20, '\0');
    handle[0] = 0x01; // ad hoc plans start 0x01, procedures 0x03
    if (!process.objectName.empty())
        handle[0] = 0x03;
    handle[1] = static_cast<char>(process.dbid & 0xff);
    handle[2] = static_cast<char>(process.spid >> 8);
    handle[3] = static_cast<char>(process.spid & 0xff);
    for (int i = 0; i < 4; ++i)
        handle[static_cast<std::size_t>(4 + i)] = static_cast<char>(process.handleSerial >> (8 * i));
    return handle;
}

const TProcess* TProcessTable::FindByHandle(const std::string& handle) const
{
    if (handle.size() < 8)
        return nullptr;
    const int spid = static_cast<unsigned char>(handle[2]) << 8 | static_cast<unsigned char>(handle[3]);
    const TProcess* process = Find(spid);
    return process && SqlHandle(*process) == handle ? process : nullptr;
}

void TProcessTable::SetWorkers(TProcess& process, int count)
{
    process.workers.resize(static_cast<std::size_t>(std::max(0, count)));
    for (std::size_t i = 0; i < process.workers.size(); ++i) {
        TWorker& worker = process.workers[i];
        if (worker.ecid == 0) {
            worker.ecid = static_cast<int>(i) + 1;
            worker.kpid = NextKpid++;
            worker.status = i % 2 ? "runnable" : "suspended";
            worker.lastWaitType = i % 2 ? "PAGEIOLATCH_SH" : "CXPACKET";
            worker.waitResource =
                i % 2 ? std::to_string(process.dbid) + ":1:" + std::to_string(4000 + i) : "";
        }
    }
}

void TProcessTable::GrowTo(int total)
{
    // Scaled tables keep the scenario's processes and fill up with simulated visitors.
    int spid = FirstUserSpid;
    const int extra = total - static_cast<int>(Table.size());
    for (int n = 0; n < extra; ++n) {
        while (spid <= MaxSpid && Used[static_cast<std::size_t>(spid)])
            ++spid;
        if (spid > MaxSpid) {
            spid = 1;
            while (spid < FirstUserSpid && Used[static_cast<std::size_t>(spid)])
                ++spid;
            if (spid >= FirstUserSpid)
                return;
        }
        const TVisitor& visitor = Visitors[static_cast<std::size_t>(Uniform(0, std::size(Visitors) - 1))];
        TProcessDef def;
        def.spid = spid;
        def.spec.login = visitor.login;
        def.spec.hostName = visitor.host ? std::optional<std::string>(visitor.host) : std::nullopt;
        def.spec.ntDomain = visitor.domain;
        def.spec.ntUserName = visitor.user;
        def.spec.programName = visitor.program;
        def.spec.database = visitor.database;
        def.spec.netAddress = visitor.netAddress;
        def.spec.hostProcess = std::to_string(Uniform(100, 9999));
        def.spec.loginAgeSeconds = Uniform(60, 86400);
        def.spec.statement = Statements[static_cast<std::size_t>(Uniform(0, std::size(Statements) - 1))];
        def.lastBatchAgeSeconds = Uniform(0, 60);
        if (Chance(0.3)) {
            def.spec.cmd = "SELECT";
            def.spec.status = "runnable";
            def.spec.lastWaitType = "PAGEIOLATCH_SH";
            def.running = true;
        }
        def.cpu = Uniform(0, 50000);
        def.physicalIo = Uniform(0, 200000);
        def.memusage = Uniform(0, 400);
        AddFromDef(def, false);
    }
}

void TProcessTable::Advance()
{
    const double now = Now();
    const std::int64_t busy = Uniform(20, 180);
    CountersData.cpuBusy += busy;
    CountersData.ioBusy += Uniform(1, 20);
    CountersData.idle += 1000 - busy;
    CountersData.packReceived += Uniform(20, 400);
    CountersData.packSent += Uniform(30, 700);
    CountersData.totalRead += Uniform(0, 300);
    CountersData.totalWrite += Uniform(0, 120);
    if (Chance(0.05))
        ++CountersData.packetErrors;
    if (Chance(0.02))
        ++CountersData.totalErrors;

    for (auto& [spid, process] : Table) {
        const bool active = process.status == "runnable" || process.status == "running" ||
                            (process.cmd != "AWAITING COMMAND" && !process.system && process.blocked == 0);
        if (process.blocked != 0)
            process.waittime += Uniform(900, 1100);
        if (!active)
            continue;
        process.cpu += Uniform(1, 400);
        process.physicalIo += Uniform(0, 250);
        process.memusage = std::max<std::int64_t>(0, process.memusage + Uniform(-2, 6));
        if (!process.system && process.lastBatch)
            process.lastBatch = now;
        for (TWorker& worker : process.workers) {
            worker.cpu += Uniform(1, 300);
            worker.physicalIo += Uniform(0, 100);
            worker.waittime = Uniform(0, 2000);
        }
    }
    if (Chance(ScenarioData.rates.logoff))
        SimulatedLogoff();
    // A scaled table keeps its size: whoever logs off is replaced by a new visitor.
    if (Scale > 0 ? static_cast<int>(Table.size()) < Scale : Chance(ScenarioData.rates.logon))
        SimulatedLogon();
    if (Chance(ScenarioData.rates.block))
        SimulatedBlock();
    if (Chance(ScenarioData.rates.unblock))
        SimulatedUnblock();
    if (Chance(ScenarioData.rates.workers))
        SimulatedWorkers();
}

namespace {

template <typename Predicate>
std::vector<int> Candidates(const std::map<int, TProcess>& table, Predicate predicate)
{
    std::vector<int> spids;
    for (const auto& [spid, process] : table)
        if (!process.system && !process.managed && !process.client && predicate(process))
            spids.push_back(spid);
    return spids;
}

} // namespace

void TProcessTable::SimulatedLogon()
{
    const TVisitor& visitor = Visitors[static_cast<std::size_t>(Uniform(0, std::size(Visitors) - 1))];
    ProcessSpec spec;
    spec.login = visitor.login;
    spec.hostName = visitor.host ? std::optional<std::string>(visitor.host) : std::nullopt;
    spec.ntDomain = visitor.domain;
    spec.ntUserName = visitor.user;
    spec.programName = visitor.program;
    spec.database = visitor.database;
    spec.netAddress = visitor.netAddress;
    spec.hostProcess = std::to_string(Uniform(100, 9999));
    spec.loginAgeSeconds = 0;
    spec.statement = Statements[static_cast<std::size_t>(Uniform(0, std::size(Statements) - 1))];
    if (FreeSpid() != 0)
        Add(spec, false, false);
}

void TProcessTable::SimulatedLogoff()
{
    const std::vector<int> spids = Candidates(Table, [](const TProcess& p) { return p.openTran == 0; });
    if (!spids.empty())
        Remove(spids[static_cast<std::size_t>(Uniform(0, static_cast<int>(spids.size()) - 1))]);
}

void TProcessTable::SimulatedBlock()
{
    const std::vector<int> waiting = Candidates(Table, [](const TProcess& p) { return p.blocked == 0; });
    if (waiting.size() < 2)
        return;
    const int victim = waiting[static_cast<std::size_t>(Uniform(0, static_cast<int>(waiting.size()) - 1))];
    const int holder = waiting[static_cast<std::size_t>(Uniform(0, static_cast<int>(waiting.size()) - 1))];
    // No cycles: the holder must not itself wait, directly or not, on the victim.
    for (int spid = holder, steps = 0; spid != 0 && steps < 64; ++steps) {
        if (spid == victim)
            return;
        const TProcess* process = Find(spid);
        spid = process ? process->blocked : 0;
    }
    Block(victim, holder);
}

void TProcessTable::SimulatedUnblock()
{
    const std::vector<int> blocked = Candidates(Table, [](const TProcess& p) { return p.blocked != 0; });
    if (!blocked.empty())
        Block(blocked[static_cast<std::size_t>(Uniform(0, static_cast<int>(blocked.size()) - 1))], 0);
}

void TProcessTable::SimulatedWorkers()
{
    const std::vector<int> busy = Candidates(Table, [](const TProcess& p) { return p.status == "runnable"; });
    if (busy.empty())
        return;
    TProcess* process = Find(busy[static_cast<std::size_t>(Uniform(0, static_cast<int>(busy.size()) - 1))]);
    int count = process->workers.empty() ? Uniform(2, 8) : Uniform(0, 8);
    if (Scale > 0) {
        // A scaled table's parallel queries share a pool of worker threads (a fiftieth of
        // its size), so its rows stay within a few percent of the processes asked for.
        std::size_t workers = 0;
        for (const auto& [spid, other] : Table)
            workers += other.workers.size();
        if (workers - process->workers.size() + static_cast<std::size_t>(count) >
            static_cast<std::size_t>(Scale / 50))
            count = 0;
    }
    SetWorkers(*process, count);
}

} // namespace sandbox
