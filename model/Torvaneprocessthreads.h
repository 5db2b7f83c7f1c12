#pragma once
// The process threads: one entry per snapshot row, that is per execution context (ecid)
// of every process (spid), with its CPU, what it waits for and in which database. Fed
// by AddThread (AddProcess ignores rows), which also takes the two wait columns.

#include "model/Entrytable.h"
#include "model/Stringgrid.h"
#include "model/Torvaneprocesscategories.h"

#include <string_view>

struct ThreadEntry
{
    int32_t Spid;
    int32_t Ecid;
    int64_t Cpu; // this refresh's cpu_usage of the thread's row
    int64_t PreviousCpu;
    int32_t WaitTime; // milliseconds
    char LastWaitType[LastWaitTypeSize];
    char WaitResource[WaitResourceSize];
    char DatabaseName[132];
    uint8_t Seen;
};

class TTorvaneProcessThreads : public TTorvaneProcessCategories
{
public:
    explicit TTorvaneProcessThreads(int32_t capacityLimit = AllocatedBuffer<ThreadEntry>::NoLimit);

    void BeginRefresh() override;
    // Room for a snapshot of `rows` rows, one thread each, made before its first row:
    // see TEntryTable::Prepare (the first refresh only).
    void PrepareForRows(int32_t rows) { Entries.Prepare(rows); }
    // The same with room made ahead, off the main thread, by MakeRoom(rows): its pages
    // are then in memory before the first refresh writes them.
    using TRoom = AllocatedBuffer<ThreadEntry>::Room;
    static TRoom MakeRoom(int32_t rows) { return AllocatedBuffer<ThreadEntry>::Ready(rows); }
    void PrepareRoom(TRoom room) { Entries.Prepare(std::move(room)); }
    void EndRefresh() override;
    void RemoveEntry(int32_t position) override;

    // One snapshot row; a thread has one row per snapshot, so its values replace the
    // entry's.
    void AddThread(int32_t spid, int32_t ecid, int64_t cpuUsage, int32_t waitTime,
                   std::string_view lastWaitType, std::string_view waitResource,
                   std::string_view databaseName);

    // The threads of one process by ascending ecid, from row 1 on: "ECID", "CPU Usage",
    // "WaitTime", "Last Wait Type", "Wait Resource", "Database". The grid ends up with
    // exactly the rows written plus the caption row, at least two rows; a row kept
    // without a thread is empty.
    void FillThreadGrid(TStringGrid& grid, int32_t spid) const;

    int32_t Count() const { return Entries.Buffer().Count(); }
    const ThreadEntry& Entry(int32_t position) const { return Entries.Buffer()[position]; }

private:
    struct ThreadKey
    {
        int32_t Spid;
        int32_t Ecid;
    };
    struct KeyOrder
    {
        static ThreadKey KeyOf(const ThreadEntry& entry) { return {entry.Spid, entry.Ecid}; }
        static int Compare(ThreadKey a, ThreadKey b);
        static std::size_t Hash(ThreadKey key)
        {
            return static_cast<std::size_t>(static_cast<uint64_t>(static_cast<uint32_t>(key.Spid)) << 32 |
                                            static_cast<uint32_t>(key.Ecid));
        }
    };

    TEntryTable<ThreadEntry, KeyOrder> Entries;
};
