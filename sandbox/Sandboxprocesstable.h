#pragma once
// The simulated server's state: databases, accounts, the process table
// (master.dbo.sysprocesses) and the server-wide counters. Deterministic for a seed:
// every change comes from the table's own generator, advanced once per snapshot.
// Not thread-safe; the simulation locks around it.

#include "sandbox/Sandboxscenario.h"

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace sandbox {

struct TWorker
{
    int ecid = 0;
    int kpid = 0;
    std::int64_t cpu = 0;
    std::int64_t physicalIo = 0;
    std::int64_t waittime = 0;
    std::string status = "suspended";
    std::string lastWaitType = "CXPACKET";
    std::string waitResource;
};

struct TProcess
{
    int spid = 0;
    int kpid = 0;
    std::optional<std::string> login;
    std::optional<std::string> hostName;
    std::string programName;
    int dbid = 1;
    std::string ntDomain;
    std::string ntUserName;
    std::string cmd;
    std::string status;
    std::string netAddress;
    std::string netLibrary;
    std::string hostProcess;
    std::string lastWaitType;
    std::string waitResource;
    int blocked = 0;
    int openTran = 0;
    std::optional<double> loginTime;
    std::optional<double> lastBatch;
    std::int64_t cpu = 0;
    std::int64_t physicalIo = 0;
    std::int64_t memusage = 0;
    std::int64_t waittime = 0;
    std::vector<TWorker> workers; // ecid 1..n
    bool system = false;
    bool client = false;  // a connection made through Login
    bool managed = false; // added by a client or a test: the table's own churn leaves it alone
    bool nocount = false; // SET NOCOUNT of a client session
    int trancount = 0;
    std::string inputBuffer; // the last batch the process sent (DBCC INPUTBUFFER)
    std::string sqlText;     // the batch or procedure text its statement handle stands for
    bool running = false;    // has a statement handle
    std::uint32_t handleSerial = 0;
    std::string objectName;
    bool encrypted = false;
    int stmtStart = 0;
    int stmtEnd = -1;
};

struct TServerCounters
{
    std::int64_t cpuBusy = 0;
    std::int64_t idle = 0;
    std::int64_t ioBusy = 0;
    std::int64_t packReceived = 0;
    std::int64_t packSent = 0;
    std::int64_t packetErrors = 0;
    std::int64_t totalRead = 0;
    std::int64_t totalWrite = 0;
    std::int64_t totalErrors = 0;
    std::int64_t connections = 0;
};

class TProcessTable
{
public:
    static constexpr int MaxSpid = 32767;

    TProcessTable(TScenario scenario, std::uint32_t seed, int scale);

    const TScenario& Scenario() const { return ScenarioData; }

    // The server clock: days since 1899-12-30, local time, in the server's 1/300 s steps.
    double Now() const;

    // One snapshot's worth of life: counters grow, processes come and go, blocks change.
    void Advance();

    const TAccount* FindAccount(const std::string& login) const;
    std::optional<std::string> DatabaseName(int dbid) const;
    std::optional<int> DatabaseId(const std::string& name, bool caseSensitive) const;
    bool HasAccess(const std::string& login, int dbid) const;

    // The new spid, or 0 when every spid is taken and no simulated process can make room.
    int Add(const ProcessSpec& spec, bool client, bool managed);
    bool Remove(int spid);
    bool Block(int spid, int blockingSpid);

    TProcess* Find(int spid);
    const TProcess* Find(int spid) const;
    const std::map<int, TProcess>& Processes() const { return Table; }
    const TServerCounters& Counters() const { return CountersData; }
    void CountPackets(int received, int sent);

    // The 20-byte statement handle of a running process; empty when it has none.
    std::string SqlHandle(const TProcess& process) const;
    const TProcess* FindByHandle(const std::string& handle) const;

private:
    TScenario ScenarioData;
    std::mt19937 Random;
    double Start = 0;
    double ClockOffset = 0; // the local clock's offset, fixed at start for a steady clock
    std::map<int, TProcess> Table;
    std::set<int> Waiting; // spids whose `blocked` is set, so a removal finds its waiters fast
    std::vector<bool> Used;
    TServerCounters CountersData;
    int NextKpid = 1000;
    int Scale = 0; // the size a scaled table keeps; 0 for the scenario's own

    int AddFromDef(const TProcessDef& def, bool managed);
    int FreeSpid() const;
    int ResolveDatabase(const std::string& name) const;
    TProcess FromSpec(const ProcessSpec& spec) const;
    void GrowTo(int total);
    void SimulatedLogon();
    void SimulatedLogoff();
    void SimulatedBlock();
    void SimulatedUnblock();
    void SimulatedWorkers();
    bool Chance(double p);
    int Uniform(int low, int high);
    void SetWorkers(TProcess& process, int count);
};

} // namespace sandbox
