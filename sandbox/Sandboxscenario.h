#pragma once
// What the simulated server starts with: its accounts, databases, processes and how
// lively the process table is. The built-in scenario and scenario files share one
// JSON form (the built-in one in Sandboxscenario.cpp is the example):
//   accounts:  login, password, defaultDatabase, databases ("*" or names), sysadmin
//   databases: id, name
//   processes: spid, system, login (null = NULL), host (null = NULL), program,
//              database or dbid (an id without a database), nt_domain, nt_username,
//              cmd, status, net_address, net_library, hostprocess, lastwaittype,
//              waitresource, blocked, open_tran, workers, cpu, physical_io, memusage,
//              waittime, login_time and last_batch (seconds before now; null = NULL),
//              statement, running, object, encrypted, current (the running statement
//              within statement) or stmt_start/stmt_end (character offsets)
//   rates:     logon, logoff, block, unblock, workers (chances per snapshot)
// Anything malformed is reported with the file's name and the offending entry.

#include "sandbox/Sandboxsimulation.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sandbox {

struct TAccount
{
    std::string login;
    std::string password;
    std::string defaultDatabase = "master";
    bool allDatabases = true;
    std::vector<std::string> databases; // the databases the login may use, when not all
    bool sysadmin = false;
};

struct TDatabaseDef
{
    int id = 0;
    std::string name;
};

// A process of the scenario: the fields of a ProcessSpec plus what only a scenario sets.
struct TProcessDef
{
    ProcessSpec spec;
    int spid = 0;        // 0 = the lowest free user spid
    int dbid = -1;       // >= 0: this id, even one without a database (a dropped one)
    bool system = false; // logged in at server start; database id 0 unless dbid says otherwise
    bool nullLogin = false;
    bool nullLoginTime = false;
    bool nullLastBatch = false;
    std::int64_t cpu = 0;
    std::int64_t physicalIo = 0;
    std::int64_t memusage = 0;
    std::int64_t waittime = 0;
    bool running = false;   // has a statement handle (fn_get_sql finds its batch)
    std::string objectName; // the procedure it runs; empty = an ad hoc batch
    bool encrypted = false;
    int stmtStart = 0; // the current statement: characters [stmtStart, stmtEnd) of its batch
    int stmtEnd = -1;  // -1 = to the end
    double lastBatchAgeSeconds = 5;
};

struct TRates
{
    // Chances per snapshot.
    double logon = 0.3;
    double logoff = 0.25;
    double block = 0.15;
    double unblock = 0.3;
    double workers = 0.3;
};

struct TScenario
{
    std::string serverName = "SANDBOX";
    std::optional<std::uint32_t> seed;
    double uptimeSeconds = 2 * 86400.0 + 3 * 3600.0 + 17 * 60.0;
    std::vector<TAccount> accounts;
    std::vector<TDatabaseDef> databases;
    std::vector<TProcessDef> processes;
    TRates rates;

    static TScenario BuiltIn();
    // Throws std::runtime_error naming the file and what is wrong with it.
    static TScenario FromFile(const std::string& path);
    static TScenario FromJson(const std::string& json, const std::string& origin);
};

} // namespace sandbox
