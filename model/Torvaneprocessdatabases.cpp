#include "model/Torvaneprocessdatabases.h"

#include "model/Celltext.h"
#include "model/Fixedtext.h"
#include "model/Gridrows.h"

#include <cstring>
#include <utility>

// Case-insensitive first; names equal but for case are told apart bytewise, so that each
// has one place and a row can find the entry of its exact name. The same order as
// CompareDistinctNames, on the folded names the entries keep.
int TTorvaneProcessDatabases::NameOrder::Compare(const NameKey& a, const NameKey& b)
{
    if (const int folded = CompareFoldedNames(a.FoldedName, b.FoldedName); folded != 0)
        return folded;
    const int exact = std::strcmp(a.Name, b.Name);
    return (exact > 0) - (exact < 0);
}

TTorvaneProcessDatabases::TTorvaneProcessDatabases(TDateTimeTextParser parseDateTime, int32_t capacityLimit)
    : Entries(capacityLimit), DateTimeValues(std::move(parseDateTime))
{
}

void TTorvaneProcessDatabases::BeginRefresh()
{
    Entries.MergeAdded();
    DateTimeValues.NextRefresh();
    Folds.NextRefresh();
    for (DatabaseEntry& entry : Entries.Buffer()) {
        entry.Seen = 0;
        entry.PreviousProcessCount = entry.ProcessCount;
        entry.PreviousCpu = entry.Cpu;
        entry.PreviousMemory = entry.Memory;
        entry.PreviousPhysicalIo = entry.PhysicalIo;
        entry.LatestActivity[0] = '\0';
        entry.LatestActivityParsed = 0;
        entry.ProcessCount = 0;
        entry.Cpu = 0;
        entry.Memory = 0;
        entry.PhysicalIo = 0;
        entry.BlockedSum = 0;
    }
}

void TTorvaneProcessDatabases::AddProcess(const ProcessRecord& record)
{
    // The entry of the exact name is the row's (the key is the name and its folded form).
    DatabaseEntry* entry = Entries.FindLikely(
        [&record](const DatabaseEntry& likely) { return SameFixedText(likely.DatabaseName, record.databasename); },
        [&record] {
            std::uint64_t head[2];
            TextHeadWords(record.databasename, head);
            return HashWords(head, 2);
        });
    if (!entry)
        entry = FindOrAdd(record);
    if (!entry)
        return; // the table cannot take another database
    // Memory and physical IO belong to the process, which its ecid 0 row reports; a
    // worker's row adds its CPU only, also when it is the first row of a database.
    const bool process = record.ecid == 0;
    ++entry->ProcessCount;
    entry->Cpu += record.cpu_usage;
    if (process) {
        entry->Memory += record.memusage;
        entry->PhysicalIo += record.physical_io;
    }
    entry->BlockedSum += record.blocked;
    entry->Seen = 1;
    TakeLatestActivity(*entry, record, DateTimeValues);
}

DatabaseEntry* TTorvaneProcessDatabases::FindOrAdd(const ProcessRecord& record)
{
    char name[sizeof DatabaseEntry::DatabaseName];
    CopyFixedText(name, record.databasename);
    char folded[FoldedNameSize];
    Folds.Fold(FixedText(name), folded);
    const NameKey key{folded, name};
    if (DatabaseEntry* const entry = Entries.Find(key))
        return entry;
    // nullptr when the table cannot take another database
    return Entries.Emplace([&](DatabaseEntry& created) {
        CopyFixedText(created.DatabaseName, name);
        CopyFixedText(created.FoldedName, std::string_view(folded));
    });
}

void TTorvaneProcessDatabases::EndRefresh()
{
    Entries.Sweep([](const DatabaseEntry& entry) { return !entry.Seen; });
}

void TTorvaneProcessDatabases::RemoveEntry(int32_t position)
{
    Entries.Buffer().RemoveAt(position);
}

void TTorvaneProcessDatabases::ResetBaselines()
{
    Entries.ResetBaselines();
}

void TTorvaneProcessDatabases::FillDatabaseGrid(TStringGrid& grid, std::span<const int32_t> columnMap,
                                                bool showSinceReset) const
{
    const TGridUpdate update(grid);
    const AllocatedBuffer<DatabaseEntry>& entries = Entries.Buffer();
    grid.SetRowCount(entries.Count() + 1);
    for (int32_t i = 0; i < entries.Count(); ++i) {
        const DatabaseEntry& e = entries[i];
        const int32_t row = i + 1;
        const auto cell = [&](int column, std::string_view text) {
            SetMappedCell(grid, columnMap, column, row, text);
        };
        const bool unchanged =
            e.Cpu == e.PreviousCpu && e.Memory == e.PreviousMemory && e.PhysicalIo == e.PreviousPhysicalIo;
        cell(0, e.BlockedSum != 0 ? "L" : unchanged ? "I" : "A");
        cell(1, FixedText(e.DatabaseName));
        cell(2, TCellText::Counter(e.ProcessCount, int64_t{e.ProcessCount} - e.PreviousProcessCount));
        cell(3, FixedText(e.LatestActivity));
        cell(4, TCellText::Counter(showSinceReset ? e.Cpu - e.BaselineCpu : e.Cpu, e.Cpu - e.PreviousCpu));
        cell(5, TCellText::Counter(e.Memory, e.Memory - e.PreviousMemory));
        cell(6, TCellText::Counter(showSinceReset ? e.PhysicalIo - e.BaselinePhysicalIo : e.PhysicalIo,
                                   e.PhysicalIo - e.PreviousPhysicalIo));
        cell(7, TCellText::Decimal(e.BlockedSum));
    }
}
