#include "model/Torvaneprocessuserprocesses.h"

#include "model/Fixedtext.h"
#include "model/Processidentity.h"

#include <cstring>

namespace {

// The single values of a process come from its first row of the snapshot.
void TakeFirstRow(ProcessEntry& entry, const ProcessRecord& record)
{
    CopyFixedText(entry.DatabaseName, record.databasename);
    CopyFixedText(entry.Command, record.cmd);
    CopyFixedText(entry.ProgramName, record.program_name);
    CopyFixedText(entry.LoginTime, record.login_time);
    CopyFixedText(entry.LastBatch, record.last_batch);
    CopyFixedText(entry.NetLibrary, record.net_library);
    CopyFixedText(entry.HostProcess, record.hostprocess);
    entry.Memory = record.memusage;
    entry.PhysicalIo = record.physical_io;
    entry.Blocked = record.blocked;
    entry.OpenTransactions = record.open_tran;
    entry.WaitTime = record.waittime;
    entry.Cpu = 0;
    entry.ThreadCount = 0;
    entry.FurtherDatabaseCount = 0;
    entry.Seen = 1;
}

} // namespace

TTorvaneProcessUserProcesses::FurtherKey
TTorvaneProcessUserProcesses::FurtherOrder::KeyOf(const FurtherDatabase& entry)
{
    return {entry.Spid, entry.DatabaseName};
}

int TTorvaneProcessUserProcesses::FurtherOrder::Compare(const FurtherKey& a, const FurtherKey& b)
{
    if (a.Spid != b.Spid)
        return a.Spid < b.Spid ? -1 : 1;
    return std::strcmp(a.DatabaseName, b.DatabaseName);
}

TTorvaneProcessUserProcesses::TTorvaneProcessUserProcesses(int32_t capacityLimit)
    : Entries(capacityLimit), FurtherDatabases(capacityLimit)
{
}

void TTorvaneProcessUserProcesses::BeginRefresh()
{
    Entries.MergeAdded();
    FurtherDatabases.MergeAdded();
    Folds.NextRefresh();
    for (ProcessEntry& entry : Entries.Buffer()) {
        entry.Seen = 0; // until the process's first row of this snapshot
        entry.PreviousCpu = entry.Cpu;
        entry.PreviousMemory = entry.Memory;
        entry.PreviousPhysicalIo = entry.PhysicalIo;
        entry.Cpu = 0;
        entry.Memory = 0;
        entry.PhysicalIo = 0;
        entry.Blocked = 0;
    }
    for (FurtherDatabase& further : FurtherDatabases.Buffer())
        further.Seen = 0;
}

void TTorvaneProcessUserProcesses::AddProcess(const ProcessRecord& record)
{
    ProcessEntry* const entry = Entries.Find(record.spid);
    if (!entry) {
        Entries.Emplace([&record](ProcessEntry& created) {
            created.Spid = record.spid;
            TakeIdentity(created, record);
            TakeFirstRow(created, record);
            created.Cpu = record.cpu_usage;
            created.ThreadCount = 1;
        });
        return;
    }
    if (!SameIdentity(*entry, record)) {
        // Another connection took over the spid: everything it has counts as change.
        TakeIdentity(*entry, record);
        entry->PreviousCpu = 0;
        entry->PreviousMemory = 0;
        entry->PreviousPhysicalIo = 0;
        entry->Blocked = record.blocked;
    }
    // The first-row test is the seen mark rather than an empty database name, which
    // a row may well carry.
    if (!entry->Seen)
        TakeFirstRow(*entry, record);
    entry->Cpu += record.cpu_usage;
    ++entry->ThreadCount;
    NoteDatabase(*entry, record);
}

// Records a database of the row other than the process's first one, once per refresh.
void TTorvaneProcessUserProcesses::NoteDatabase(ProcessEntry& entry, const ProcessRecord& record)
{
    if (SameFixedText(entry.DatabaseName, record.databasename))
        return;
    char name[sizeof FurtherDatabase::DatabaseName];
    CopyFixedText(name, record.databasename);
    FurtherDatabase* const known = FurtherDatabases.Find(FurtherKey{record.spid, name});
    if (known && known->Seen)
        return;
    ++entry.FurtherDatabaseCount;
    if (known) {
        known->Seen = 1;
        return;
    }
    FurtherDatabases.Emplace([&](FurtherDatabase& added) {
        added.Spid = record.spid;
        CopyFixedText(added.DatabaseName, name);
        added.Seen = 1;
    });
}

void TTorvaneProcessUserProcesses::EndRefresh()
{
    Entries.Sweep([](const ProcessEntry& entry) { return !entry.Seen; });
    FurtherDatabases.Sweep([](const FurtherDatabase& further) { return !further.Seen; });
}

void TTorvaneProcessUserProcesses::RemoveEntry(int32_t position)
{
    Entries.Buffer().RemoveAt(position);
}

void TTorvaneProcessUserProcesses::ResetBaselines()
{
    Entries.ResetBaselines();
}
