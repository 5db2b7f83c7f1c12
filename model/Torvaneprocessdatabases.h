#pragma once
// The database summary: one entry per database some process thread is using, with the
// number of threads in it, their CPU, memory and physical IO, the latest batch time and
// a blocked indicator. System processes count under "<SystemProcess>".
//
// Entries are ordered by name ignoring letter case (CompareDistinctNames of
// Namecompare.h), but a row belongs only to the entry of exactly its name: names that
// differ only in case are separate, neighbouring entries (ordered among themselves
// bytewise), and each row finds its own.

#include "model/Datetimetextcache.h"
#include "model/Entrytable.h"
#include "model/Namecompare.h"
#include "model/Stringgrid.h"
#include "model/Torvaneprocesscategories.h"

#include <functional>
#include <span>
#include <string_view>

struct DatabaseEntry
{
    // As wide as the snapshot's database name, so that a long name is the same text here
    // as in the process list that is filtered by it.
    char DatabaseName[132];
    char FoldedName[FoldedNameSize]; // DatabaseName folded, for the order
    int32_t ProcessCount;            // rows of this refresh in the database, worker threads included
    int64_t Cpu;                     // all rows
    int64_t Memory;                  // rows with ecid 0 only, whichever row created the entry
    int64_t PhysicalIo;              // likewise
    char LatestActivity[100];
    int32_t PreviousProcessCount;
    int64_t PreviousCpu;
    int64_t PreviousMemory;
    int64_t PreviousPhysicalIo;
    int32_t BlockedSum;
    uint8_t Seen;
    int64_t BaselineCpu;
    int64_t BaselinePhysicalIo;
    double LatestActivityValue; // LatestActivity parsed, when LatestActivityParsed
    uint8_t LatestActivityParsed;
};

class TTorvaneProcessDatabases : public TTorvaneProcessCategories
{
public:
    // Data columns of FillDatabaseGrid, in column map order.
    static constexpr int ColumnCount = 8;

    explicit TTorvaneProcessDatabases(TDateTimeTextParser parseDateTime,
                                      int32_t capacityLimit = AllocatedBuffer<DatabaseEntry>::NoLimit);

    void BeginRefresh() override;
    void EndRefresh() override;
    void AddProcess(const ProcessRecord& record) override;
    void RemoveEntry(int32_t position) override;

    void ResetBaselines();

    // Writes one row per database from row 1 on and sets the row count to databases + 1.
    // Uses the first eight entries of columnMap (grid column of each data column);
    // columns the grid does not have are left out.
    void FillDatabaseGrid(TStringGrid& grid, std::span<const int32_t> columnMap, bool showSinceReset) const;

    int32_t Count() const { return Entries.Buffer().Count(); }
    const DatabaseEntry& Entry(int32_t position) const { return Entries.Buffer()[position]; }

private:
    struct NameKey
    {
        const char* FoldedName; // terminated
        const char* Name;       // terminated
    };
    struct NameOrder
    {
        static NameKey KeyOf(const DatabaseEntry& entry) { return {entry.FoldedName, entry.DatabaseName}; }
        static int Compare(const NameKey& a, const NameKey& b);
        // Keys alike compare alike in their exact names as well.
        static std::size_t Hash(const NameKey& key) { return std::hash<std::string_view>{}(key.Name); }
    };

    // The entry of the row's database by its key, created if there is none.
    DatabaseEntry* FindOrAdd(const ProcessRecord& record);

    TEntryTable<DatabaseEntry, NameOrder> Entries;
    TDateTimeTextCache DateTimeValues;
    TNameFolder Folds;
};
