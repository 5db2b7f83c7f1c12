#include "sandbox/Sandboxsimulation.h"

#include "sandbox/Sandboxprocesstable.h"
#include "sandbox/Sandboxsqlerror.h"
#include "sandbox/Sandboxsqllexer.h"
#include "sandbox/Sandboxstatements.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace sandbox {

namespace {

TScenario LoadScenario(const ScenarioOptions& options)
{
    return options.scenarioFile.empty() ? TScenario::BuiltIn() : TScenario::FromFile(options.scenarioFile);
}

// The one-row probe, however it is spaced or cased.
bool IsProbe(const std::string& sql)
{
    try {
        const std::vector<Token> tokens = Tokenize(sql);
        return tokens.size() == 3 && tokens[0].Is("select") && tokens[1].kind == TokenKind::Integer &&
               tokens[1].text == "1";
    } catch (const TSqlError&) {
        return false;
    }
}

// sysprocesses.net_address holds 12 hex digits; a TCP client's IPv4 address fills them.
std::string NetAddressOf(const std::string& address)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(address.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4 || a > 255 || b > 255 || c > 255 ||
        d > 255)
        return "000000000000";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0000%02X%02X%02X%02X", a, b, c, d);
    return buffer;
}

void FailLongResults(BatchResult& result, std::size_t rows)
{
    for (ResultItem& item : result.items) {
        if (auto* set = std::get_if<ResultSet>(&item); set && set->rows.size() > rows) {
            set->rows.resize(rows);
            set->failureNumber = 8115;
            set->failureText = "Arithmetic overflow error converting expression to data type int.";
        }
    }
}

} // namespace

class TSandboxSimulation::TState
{
public:
    explicit TState(const ScenarioOptions& options)
        : Table(LoadScenario(options), options.seed, options.scale)
    {
        Switches.caseSensitive = options.caseSensitive;
    }

    mutable std::mutex Mutex;
    std::condition_variable DelayChanged;
    TProcessTable Table;
    TServerSwitches Switches;
    int ProbeDelayMs = 0;
    int FailureAfterRows = -1;
    std::vector<BatchLogEntry> Log;
    std::function<void(int)> KilledHandler;
};

TSandboxSimulation::TSandboxSimulation(const ScenarioOptions& options)
    : State(std::make_unique<TState>(options))
{
}

TSandboxSimulation::~TSandboxSimulation() = default;

LoginResult TSandboxSimulation::Login(const LoginRequest& request)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    TProcessTable& table = State->Table;
    LoginResult result;
    result.error.number = 18456;
    result.error.severity = 14;
    result.error.state = 1;
    result.error.text = "Login failed for user '" + request.userName + "'.";
    if (request.integratedSecurity) {
        result.error.number = 18452;
        result.error.text = "Login failed. The login is from an untrusted domain and cannot be used with "
                            "Windows authentication.";
        return result;
    }
    const TAccount* account = table.FindAccount(request.userName);
    if (!account || account->password != request.password)
        return result;
    const std::string wanted = request.database.empty() ? account->defaultDatabase : request.database;
    const std::optional<int> dbid = table.DatabaseId(wanted, State->Switches.caseSensitive);
    if (!dbid || !table.HasAccess(account->login, *dbid)) {
        result.error.number = 4060;
        result.error.severity = 11;
        result.error.text =
            "Cannot open database \"" + wanted + "\" requested by the login. The login failed.";
        return result;
    }
    ProcessSpec spec;
    spec.login = request.userName;
    spec.hostName = request.hostName;
    spec.programName = request.appName;
    spec.database = *table.DatabaseName(*dbid);
    spec.netAddress = NetAddressOf(request.clientAddress);
    spec.netLibrary = "TCP/IP";
    spec.hostProcess = std::to_string(request.clientPid);
    spec.cmd = "AWAITING COMMAND";
    spec.status = "sleeping";
    spec.lastWaitType = "MISCELLANEOUS";
    spec.statement.clear();
    const int spid = table.Add(spec, true, true);
    if (spid == 0) {
        result.error.number = 17809;
        result.error.severity = 20;
        result.error.text = "Could not connect because the maximum number of '32767' user connections has "
                            "already been reached.";
        return result;
    }
    if (TProcess* process = table.Find(spid))
        process->dbid = *dbid;
    result.ok = true;
    result.spid = spid;
    result.database = spec.database;
    result.error = Message{};
    return result;
}

void TSandboxSimulation::Logout(int spid)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    const TProcess* process = State->Table.Find(spid);
    if (process && process->client)
        State->Table.Remove(spid);
}

BatchResult TSandboxSimulation::ExecuteBatch(int spid, const std::string& sql)
{
    BatchResult result;
    std::vector<int> killed;
    std::function<void(int)> handler;
    {
        std::unique_lock<std::mutex> lock(State->Mutex);
        TProcessTable& table = State->Table;
        State->Log.push_back(BatchLogEntry{spid, table.Now(), sql});
        if (IsProbe(sql)) {
            // The wait gives the lock up; a shorter delay set meanwhile ends it sooner.
            const auto arrival = std::chrono::steady_clock::now();
            for (;;) {
                const auto deadline = arrival + std::chrono::milliseconds(State->ProbeDelayMs);
                if (std::chrono::steady_clock::now() >= deadline)
                    break;
                State->DelayChanged.wait_until(lock, deadline);
            }
        }
        // Only a client's own session is its process; a batch run for another spid
        // (as tests do) leaves that process as it was.
        if (TProcess* process = table.Find(spid); process && process->client) {
            process->inputBuffer = sql;
            process->lastBatch = table.Now();
        }
        table.CountPackets(1 + static_cast<int>(sql.size() / 4096), 1);
        TStatementRunner runner(table, State->Switches, spid);
        result = runner.Run(sql);
        if (State->FailureAfterRows >= 0)
            FailLongResults(result, static_cast<std::size_t>(State->FailureAfterRows));
        killed = runner.KilledClients();
        handler = State->KilledHandler;
    }
    if (handler)
        for (int victim : killed)
            handler(victim);
    return result;
}

void TSandboxSimulation::SetKilledHandler(std::function<void(int spid)> handler)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->KilledHandler = std::move(handler);
}

void TSandboxSimulation::SetProbeDelayMs(int ms)
{
    {
        const std::lock_guard<std::mutex> lock(State->Mutex);
        State->ProbeDelayMs = std::max(0, ms);
    }
    State->DelayChanged.notify_all();
}

void TSandboxSimulation::SetResultFailureAfterRows(int rows)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->FailureAfterRows = rows;
}

void TSandboxSimulation::SetStatementOffsetColumn(bool present)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->Switches.statementOffsetColumn = present;
}

void TSandboxSimulation::SetFnGetSqlPermission(bool granted)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->Switches.fnGetSqlPermission = granted;
}

void TSandboxSimulation::SetCaseSensitive(bool on)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->Switches.caseSensitive = on;
}

int TSandboxSimulation::AddProcess(const ProcessSpec& spec)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    return State->Table.Add(spec, false, true);
}

bool TSandboxSimulation::RemoveProcess(int spid)
{
    std::function<void(int)> handler;
    bool client = false;
    {
        const std::lock_guard<std::mutex> lock(State->Mutex);
        const TProcess* process = State->Table.Find(spid);
        if (!process)
            return false;
        client = process->client;
        State->Table.Remove(spid);
        handler = State->KilledHandler;
    }
    if (client && handler)
        handler(spid);
    return true;
}

bool TSandboxSimulation::BlockProcess(int spid, int blockingSpid)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    return State->Table.Block(spid, blockingSpid);
}

std::vector<BatchLogEntry> TSandboxSimulation::BatchLog() const
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    return State->Log;
}

std::vector<ProcessInfo> TSandboxSimulation::Processes() const
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    const TProcessTable& table = State->Table;
    std::vector<ProcessInfo> rows;
    for (const auto& [spid, process] : table.Processes()) {
        ProcessInfo info;
        info.spid = spid;
        info.kpid = process.kpid;
        info.login = process.login.value_or("");
        info.hostName = process.hostName;
        info.programName = process.programName;
        info.dbid = process.dbid;
        info.database = table.DatabaseName(process.dbid).value_or("");
        info.ntDomain = process.ntDomain;
        info.ntUserName = process.ntUserName;
        info.cmd = process.cmd;
        info.status = process.status;
        info.netAddress = process.netAddress;
        info.lastWaitType = process.lastWaitType;
        info.waitResource = process.waitResource;
        info.blocked = process.blocked;
        info.openTran = process.openTran;
        info.cpu = process.cpu;
        info.physicalIo = process.physicalIo;
        info.memusage = process.memusage;
        info.waittime = process.waittime;
        info.system = process.system;
        info.client = process.client;
        rows.push_back(info);
        for (const TWorker& worker : process.workers) {
            ProcessInfo thread = info;
            thread.ecid = worker.ecid;
            thread.kpid = worker.kpid;
            thread.cpu = worker.cpu;
            thread.physicalIo = worker.physicalIo;
            thread.memusage = 0;
            thread.waittime = worker.waittime;
            thread.status = worker.status;
            thread.lastWaitType = worker.lastWaitType;
            thread.waitResource = worker.waitResource;
            thread.blocked = 0;
            rows.push_back(thread);
        }
    }
    return rows;
}

} // namespace sandbox
