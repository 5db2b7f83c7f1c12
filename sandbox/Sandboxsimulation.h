#pragma once
// The simulated SQL Server behind the sandbox's wire protocol: a living process table
// (master.dbo.sysprocesses), the server-wide counters, the accounts of the scenario,
// and the answers to the statements a monitor sends. Every public call locks the
// internal state; none holds the lock while it sleeps, so a slowed probe on one
// connection never stalls the others.

#include "sandbox/Sandboxtypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sandbox {

// What the server starts from. A scenario file is JSON in the form of the built-in
// scenario (Sandboxscenario.cpp): serverName, uptimeSeconds, accounts, databases,
// processes and rates; its "seed", when present, takes the place of `seed`. All chance
// comes from one generator seeded here, so a seed and the same batches give the same
// table (the clock excepted).
struct ScenarioOptions
{
    std::uint32_t seed = 1;
    int scale = 0;            // 0 = the scenario's own size; else total processes, up to 32767
    std::string scenarioFile; // empty = the built-in scenario
    bool caseSensitive = false;
};

// A process to add to the table. Unset optional texts are NULL in sysprocesses where
// the real column can be NULL (the host name), and empty otherwise.
struct ProcessSpec
{
    std::string login = "sa";
    std::optional<std::string> hostName = std::string("WKS01");
    std::string programName = "SQL Query Analyzer";
    std::string database = "master";
    std::string ntDomain;
    std::string ntUserName;
    std::string cmd = "AWAITING COMMAND";
    std::string status = "sleeping";
    std::string netAddress = "00105A9C32F1";
    std::string netLibrary = "TCP/IP";
    std::string hostProcess = "1234";
    std::string lastWaitType = "MISCELLANEOUS";
    std::string waitResource;
    int blocked = 0; // spid this process waits for; 0 = none
    int openTran = 0;
    int workers = 0;              // parallel worker threads (ecid 1..workers) besides ecid 0
    double loginAgeSeconds = 600; // logged in this long before now
    std::string statement;        // its last batch; with a cmd other than AWAITING COMMAND also
                                  // the batch it runs now (fn_get_sql finds it)
};

// One row of the table (one thread of one process), as tests see it.
struct ProcessInfo
{
    int spid = 0;
    int ecid = 0;
    int kpid = 0;
    std::string login;
    std::optional<std::string> hostName;
    std::string programName;
    int dbid = 0;
    std::string database;
    std::string ntDomain;
    std::string ntUserName;
    std::string cmd;
    std::string status;
    std::string netAddress;
    std::string lastWaitType;
    std::string waitResource;
    int blocked = 0;
    int openTran = 0;
    std::int64_t cpu = 0;
    std::int64_t physicalIo = 0;
    std::int64_t memusage = 0;
    std::int64_t waittime = 0;
    bool system = false;
    bool client = false; // a connection logged in through Login
};

struct BatchLogEntry
{
    int spid = 0;
    double time = 0; // the toolkit's date-time: days since 1899-12-30
    std::string text;
};

class TSandboxSimulation : public Backend
{
public:
    // Throws std::runtime_error for a scenario file that cannot be read or is malformed.
    explicit TSandboxSimulation(const ScenarioOptions& options = {});
    ~TSandboxSimulation() override;
    TSandboxSimulation(const TSandboxSimulation&) = delete;
    TSandboxSimulation& operator=(const TSandboxSimulation&) = delete;

    LoginResult Login(const LoginRequest& request) override;
    void Logout(int spid) override;
    BatchResult ExecuteBatch(int spid, const std::string& sql) override;

    void SetProbeDelayMs(int ms);                // delay on the one-row probe
    void SetStatementOffsetColumn(bool present); // sysprocesses has stmt_start
    void SetFnGetSqlPermission(bool granted);    // logins may execute fn_get_sql
    // A result of more rows than this fails after that many with an arithmetic overflow,
    // as a statement that fails while its rows stream; negative: results do not fail.
    void SetResultFailureAfterRows(int rows);
    void SetCaseSensitive(bool on);              // variable names must match exactly

    int AddProcess(const ProcessSpec& spec); // the new spid, or 0 when the table is full
    bool RemoveProcess(int spid);
    bool BlockProcess(int spid, int blockingSpid); // blockingSpid 0 = unblock

    std::vector<BatchLogEntry> BatchLog() const;
    std::vector<ProcessInfo> Processes() const;

    // Called, without the lock held, for each client session that a KILL (or
    // RemoveProcess) ended: the server closes that connection, as a real one does.
    void SetKilledHandler(std::function<void(int spid)> handler);

private:
    class TState;
    std::unique_ptr<TState> State;
};

} // namespace sandbox
