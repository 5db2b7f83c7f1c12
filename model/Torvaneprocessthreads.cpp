#include "model/Torvaneprocessthreads.h"

#include "model/Celltext.h"
#include "model/Fixedtext.h"
#include "model/Gridrows.h"

#include <algorithm>

int TTorvaneProcessThreads::KeyOrder::Compare(ThreadKey a, ThreadKey b)
{
    if (a.Spid != b.Spid)
        return a.Spid < b.Spid ? -1 : 1;
    return a.Ecid < b.Ecid ? -1 : a.Ecid > b.Ecid ? 1 : 0;
}

TTorvaneProcessThreads::TTorvaneProcessThreads(int32_t capacityLimit) : Entries(capacityLimit) {}

void TTorvaneProcessThreads::BeginRefresh()
{
    Entries.MergeAdded();
    for (ThreadEntry& entry : Entries.Buffer()) {
        entry.Seen = 0;
        entry.PreviousCpu = entry.Cpu;
        entry.Cpu = 0;
    }
}

void TTorvaneProcessThreads::AddThread(int32_t spid, int32_t ecid, int64_t cpuUsage, int32_t waitTime,
                                       std::string_view lastWaitType, std::string_view waitResource,
                                       std::string_view databaseName)
{
    const auto take = [&](ThreadEntry& entry) {
        entry.Cpu = cpuUsage;
        entry.WaitTime = waitTime;
        CopyFixedText(entry.LastWaitType, lastWaitType);
        CopyFixedText(entry.WaitResource, waitResource);
        CopyFixedText(entry.DatabaseName, databaseName);
        entry.Seen = 1;
    };
    if (ThreadEntry* const found = Entries.Find(ThreadKey{spid, ecid})) {
        take(*found);
        return;
    }
    Entries.Emplace([&](ThreadEntry& created) {
        created.Spid = spid;
        created.Ecid = ecid;
        take(created);
    });
}

void TTorvaneProcessThreads::EndRefresh()
{
    Entries.Sweep([](const ThreadEntry& entry) { return !entry.Seen; });
}

void TTorvaneProcessThreads::RemoveEntry(int32_t position)
{
    Entries.Buffer().RemoveAt(position);
}

void TTorvaneProcessThreads::FillThreadGrid(TStringGrid& grid, int32_t spid) const
{
    TGridRowWriter rows(grid);
    const AllocatedBuffer<ThreadEntry>& entries = Entries.Buffer();
    const ThreadEntry* entry = std::lower_bound(entries.begin(), entries.end(), spid,
                                                [](const ThreadEntry& e, int32_t s) { return e.Spid < s; });
    for (; entry != entries.end() && entry->Spid == spid; ++entry) {
        rows.NextRow();
        rows.Set(0, TCellText::Decimal(entry->Ecid));
        rows.Set(1, TCellText::Counter(entry->Cpu, entry->Cpu - entry->PreviousCpu));
        rows.Set(2, TCellText::Decimal(entry->WaitTime));
        rows.Set(3, FixedText(entry->LastWaitType));
        rows.Set(4, FixedText(entry->WaitResource));
        rows.Set(5, FixedText(entry->DatabaseName));
    }
}
