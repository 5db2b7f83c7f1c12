#pragma once
// Members live in Torvaneprocessuserprocesses.cpp (the feed) and Torvaneprocesslist.cpp
// (process state, the process list fills, the alert table and the identity lookup).
//
// The user processes: one entry per server process (spid) with the identity of its
// client, what it runs, its counters summed over its threads and its state. The views'
// process lists, the process lookup and the alert mails' process table read it.
//
// A process's single values (database, command, program, times, memory, physical IO,
// blocked, open transactions, wait time, host process) come from its first row of the
// snapshot, whatever that row's ecid; CPU and the thread count cover all its rows.
//
// A process whose threads work in more than one database still has one entry, which
// carries every counter once and the first row's database; each further database is
// recorded beside it (a FurtherDatabase, refreshed like the entries), so the process is
// listed under each of its databases and shown as "<Multiple>", and a database the
// process left is forgotten at the next refresh.

#include "model/Entrytable.h"
#include "model/Namecompare.h"
#include "model/Stringgrid.h"
#include "model/Torvaneprocesscategories.h"

#include <functional>
#include <string>
#include <string_view>

class TBlockingChains;
class TProcessListView;

// The fields are in the order the process list fills read them: the numbers and the
// short texts first, then the names every list shows, and last what only one list, the
// user filter or nothing but the feed reads. The lists walk tens of thousands of entries of over a
// kilobyte each and read a few bytes of most fields; kept together, those bytes share
// fewer cache lines.
struct ProcessEntry
{
    int32_t Spid;    // the key
    int32_t Blocked; // spid of the blocking process, 0 = none
    int64_t Cpu;     // all rows of the process
    int64_t Memory;
    int64_t PhysicalIo;
    int64_t PreviousCpu;
    int64_t PreviousMemory;
    int64_t PreviousPhysicalIo;
    int64_t BaselineCpu;
    int64_t BaselinePhysicalIo;
    int32_t ThreadCount;
    int32_t OpenTransactions;
    int32_t WaitTime;             // milliseconds
    int32_t FurtherDatabaseCount; // databases of this refresh besides DatabaseName
    char Command[20];
    char HostProcess[12];
    char LoginName[132]; // the identity of the connection that owns the spid
    char DatabaseName[132];
    char ProgramName[132];
    char LoginTime[100];
    char LastBatch[100];
    char HostName[132]; // only the database's process list shows it
    char NetAddress[16];
    char NtDomain[132];
    char NtUserName[132];
    char NetLibrary[16];
    uint8_t Seen;
};

// A database other than its entry's DatabaseName that rows of the process named.
struct FurtherDatabase
{
    int32_t Spid;
    char DatabaseName[132];
    uint8_t Seen;
};

enum class TProcessState
{
    Locked, // blocked by another process
    Active, // a counter changed since the previous refresh
    Idle,   // unchanged and awaiting a command
    Paused, // unchanged in the middle of a command
};

TProcessState ProcessState(const ProcessEntry& entry);
std::string_view StateLetter(TProcessState state); // "L", "A", "I", "P": grid column 0
std::string_view StateWord(TProcessState state);   // "Locked", "Active", "Active", "Paused"

class TTorvaneProcessUserProcesses : public TTorvaneProcessCategories
{
public:
    explicit TTorvaneProcessUserProcesses(int32_t capacityLimit = AllocatedBuffer<ProcessEntry>::NoLimit);

    void BeginRefresh() override;
    // Room for the processes a snapshot of `rows` rows can hold (no more than its rows),
    // made before the first refresh: see TEntryTable::Prepare.
    void PrepareForRows(int32_t rows) { Entries.Prepare(rows); }
    // The same with room made ahead, off the main thread, by MakeRoom(processes): its
    // pages are then in memory before the first refresh writes them.
    using TRoom = AllocatedBuffer<ProcessEntry>::Room;
    static TRoom MakeRoom(int32_t processes) { return AllocatedBuffer<ProcessEntry>::Ready(processes); }
    void PrepareRoom(TRoom room) { Entries.Prepare(std::move(room)); }
    void EndRefresh() override;
    void AddProcess(const ProcessRecord& record) override;
    void RemoveEntry(int32_t position) override;

    void ResetBaselines();

    // The process fills write from row 1 on (row 0 is the caption row) and leave the grid
    // with exactly the rows written plus the caption row, at least two; a row kept
    // without a process is empty. CPU and physical IO show since-reset values when
    // showSinceReset is set.

    // Every process, columns: state, "SPID", "Login", "Database", "Command", "Program",
    // "Blocked", "Login Time", "Last Batch", "CPU Usage", "Memory Usage", "Physical IO",
    // "Wait time", "Open Trans", "Threads", "Host Process".
    void FillProcessGrid(TStringGrid& grid, bool showSinceReset) const;
    // The same list as the view filters and orders it; returns how many processes the
    // filter left out.
    int32_t FillProcessGrid(TStringGrid& grid, bool showSinceReset, TProcessListView& view) const;

    // The processes of one user as the user summary shows it (login, host, NT login name,
    // net address, each compared as names: SameName of Namecompare.h), columns as
    // FillProcessGrid without "Login".
    void FillUserProcessGrid(TStringGrid& grid, std::string_view loginName, std::string_view hostName,
                             std::string_view ntLoginName, std::string_view netAddress,
                             bool showSinceReset) const;

    // The processes working in one database (compared as names, ignoring case), columns
    // as FillProcessGrid with "Host" in place of "Database".
    void FillDatabaseProcessGrid(TStringGrid& grid, std::string_view databaseName, bool showSinceReset) const;

    // The process table of alert mails: a header line and one line per process, fields
    // separated by tabs, lines ended by CR LF; CPU, memory and physical IO as counter
    // cells without baselines.
    std::string GetProcessTable() const;
    // The same table with each lead blocker's status followed by ", lead blocker of " and
    // the number of sessions waiting behind it.
    std::string GetProcessTable(const TBlockingChains* chains) const;

    // The client identity of a process; false (outputs untouched) when there is none.
    bool FindProcessIdentity(int32_t spid, std::string& loginName, std::string& ntDomain,
                             std::string& ntUserName, std::string& hostName) const;

    int32_t Count() const { return Entries.Buffer().Count(); }
    const ProcessEntry& Entry(int32_t position) const { return Entries.Buffer()[position]; }
    // True when the process works in the database (compared as names, ignoring case),
    // with any of its rows.
    bool WorksInDatabase(const ProcessEntry& entry, const TFoldedName& databaseName) const;

private:
    struct SpidOrder
    {
        static int32_t KeyOf(const ProcessEntry& entry) { return entry.Spid; }
        static int Compare(int32_t a, int32_t b) { return a < b ? -1 : a > b ? 1 : 0; }
        static std::size_t Hash(int32_t spid) { return static_cast<uint32_t>(spid); }
    };
    struct FurtherKey
    {
        int32_t Spid;
        const char* DatabaseName; // terminated
    };
    struct FurtherOrder
    {
        static FurtherKey KeyOf(const FurtherDatabase& entry);
        static int Compare(const FurtherKey& a, const FurtherKey& b);
        static std::size_t Hash(const FurtherKey& key)
        {
            return std::hash<std::string_view>{}(key.DatabaseName) ^ static_cast<uint32_t>(key.Spid);
        }
    };

    void NoteDatabase(ProcessEntry& entry, const ProcessRecord& record);

    TEntryTable<ProcessEntry, SpidOrder> Entries;
    TEntryTable<FurtherDatabase, FurtherOrder> FurtherDatabases;
    mutable TNameFolder Folds; // the fills' filters fold the names of every process
};
