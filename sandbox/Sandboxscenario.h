#pragma once
// What the simulated server starts with: its accounts, databases, processes and how
// lively the process table is. The built-in scenario and scenario files share one
// JSON form; see Sandboxscenario.cpp for the built-in one as an example.

#include "Sandboxsimulation.h"

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
