// The read side of the user processes: process state, the three process list fills, the
// alert mails' process table and the identity lookup.

#include "model/Torvaneprocessuserprocesses.h"

#include "model/Blockingchains.h"
#include "model/Celltext.h"
#include "model/Fixedtext.h"
#include "model/Gridrows.h"
#include "model/Namecompare.h"
#include "model/Prefetch.h"
#include "model/Processlistview.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

TProcessState ProcessState(const ProcessEntry& entry)
{
    if (entry.Blocked > 0)
        return TProcessState::Locked;
    if (entry.Cpu != entry.PreviousCpu || entry.PhysicalIo != entry.PreviousPhysicalIo ||
        entry.Memory != entry.PreviousMemory)
        return TProcessState::Active;
    // The text and its terminator compared at once, without measuring the text first: the
    // lists measure it again for their "Command" cell.
    static constexpr char Awaiting[] = "AWAITING COMMAND";
    static_assert(sizeof Awaiting <= sizeof entry.Command);
    if (std::memcmp(entry.Command, Awaiting, sizeof Awaiting) == 0)
        return TProcessState::Idle;
    return TProcessState::Paused;
}

std::string_view StateLetter(TProcessState state)
{
    switch (state) {
    case TProcessState::Locked:
        return "L";
    case TProcessState::Active:
        return "A";
    case TProcessState::Idle:
        return "I";
    case TProcessState::Paused:
        break;
    }
    return "P";
}

std::string_view StateWord(TProcessState state)
{
    switch (state) {
    case TProcessState::Locked:
        return "Locked";
    case TProcessState::Active:
    case TProcessState::Idle:
        return "Active";
    case TProcessState::Paused:
        break;
    }
    return "Paused";
}

namespace {

constexpr std::string_view MultipleDatabases = "<Multiple>";

std::string_view DatabaseCell(const ProcessEntry& entry)
{
    return entry.FurtherDatabaseCount > 0 ? MultipleDatabases : FixedText(entry.DatabaseName);
}

TCellText CpuCell(const ProcessEntry& e, bool showSinceReset)
{
    return TCellText::Counter(showSinceReset ? e.Cpu - e.BaselineCpu : e.Cpu, e.Cpu - e.PreviousCpu);
}

TCellText PhysicalIoCell(const ProcessEntry& e, bool showSinceReset)
{
    return TCellText::Counter(showSinceReset ? e.PhysicalIo - e.BaselinePhysicalIo : e.PhysicalIo,
                              e.PhysicalIo - e.PreviousPhysicalIo);
}

// A blocked value that names no session says what it stands for, in a word that fits
// the column (the tree of blocking chains gives BlockingOwnerName in full).
std::string_view BlockedWord(int32_t blocked)
{
    switch (blocked) {
    case -2:
        return "Orphaned";
    case -3:
        return "Recovery";
    case -4:
        return "Latch";
    default:
        return {};
    }
}

// Columns 0 and 1 of every process list.
void WriteHead(TGridRowWriter& rows, const ProcessEntry& e)
{
    rows.Set(0, StateLetter(ProcessState(e)));
    rows.Set(1, TCellText::Decimal(e.Spid));
}

// The columns from "Command" to "Host Process", which every process list ends with.
void WriteTail(TGridRowWriter& rows, int32_t col, const ProcessEntry& e, bool showSinceReset)
{
    rows.Set(col++, FixedText(e.Command));
    rows.Set(col++, FixedText(e.ProgramName));
    if (const std::string_view word = BlockedWord(e.Blocked); !word.empty())
        rows.Set(col++, word);
    else
        rows.Set(col++, TCellText::Decimal(e.Blocked));
    rows.Set(col++, FixedText(e.LoginTime));
    rows.Set(col++, FixedText(e.LastBatch));
    rows.Set(col++, CpuCell(e, showSinceReset));
    rows.Set(col++, TCellText::Counter(e.Memory, e.Memory - e.PreviousMemory));
    rows.Set(col++, PhysicalIoCell(e, showSinceReset));
    rows.Set(col++, TCellText::Decimal(e.WaitTime));
    rows.Set(col++, TCellText::Decimal(e.OpenTransactions));
    rows.Set(col++, TCellText::Decimal(e.ThreadCount));
    rows.Set(col, FixedText(e.HostProcess));
}

// The leading bytes of a text field: most texts a list shows are short.
constexpr std::size_t TextHead = 32;

// What a row of the process list or of the alert table reads of its entry: the numbers
// and short texts at its start and the head of each name it shows.
void PrefetchListed(const ProcessEntry& e)
{
    Prefetch(&e, offsetof(ProcessEntry, LoginName) + TextHead);
    Prefetch(e.DatabaseName, TextHead);
    Prefetch(e.ProgramName, TextHead);
    Prefetch(e.LoginTime, TextHead);
    Prefetch(e.LastBatch, TextHead);
}

// A fill's walk over every entry in order. The entries are far larger than the few
// bytes a fill reads of each, so the hardware does not foresee the walk: prefetch(entry)
// asks for what visit will read, Ahead entries before it does.
template <int Ahead, class TPrefetch, class TVisit>
void WalkEntries(const AllocatedBuffer<ProcessEntry>& entries, TPrefetch prefetch, TVisit visit)
{
    const int32_t count = entries.Count();
    for (int32_t i = 0; i < count; ++i) {
        if (i + Ahead < count)
            prefetch(entries[i + Ahead]);
        visit(entries[i]);
    }
}

// The entry's name folded, against a filter folded once for the whole fill.
bool SameFolded(std::string_view name, const TFoldedName& filter, TNameFolder& folds)
{
    char folded[FoldedNameSize];
    return CompareFoldedNames(std::string_view(folded, folds.Fold(name, folded)), filter.Folded()) == 0;
}

} // namespace

namespace {

void WriteProcessRow(TGridRowWriter& rows, const ProcessEntry& e, bool showSinceReset)
{
    rows.NextRow();
    WriteHead(rows, e);
    rows.Set(2, FixedText(e.LoginName));
    rows.Set(3, DatabaseCell(e));
    WriteTail(rows, 4, e, showSinceReset);
}

} // namespace

void TTorvaneProcessUserProcesses::FillProcessGrid(TStringGrid& grid, bool showSinceReset) const
{
    TGridRowWriter rows(grid);
    WalkEntries<2>(Entries.Buffer(), PrefetchListed,
                   [&](const ProcessEntry& e) { WriteProcessRow(rows, e, showSinceReset); });
}

int32_t TTorvaneProcessUserProcesses::FillProcessGrid(TStringGrid& grid, bool showSinceReset,
                                                      TProcessListView& view) const
{
    view.NextRefresh();
    if (view.Plain()) {
        FillProcessGrid(grid, showSinceReset);
        return 0;
    }
    const AllocatedBuffer<ProcessEntry>& entries = Entries.Buffer();
    std::vector<int32_t>& positions = view.Positions();
    positions.clear();
    positions.reserve(static_cast<std::size_t>(entries.Count()));
    int32_t position = 0;
    // The filter reads the names every list shows, and the host name.
    const auto prefetch = [](const ProcessEntry& e) {
        PrefetchListed(e);
        Prefetch(e.HostName, TextHead);
    };
    WalkEntries<4>(entries, prefetch, [&](const ProcessEntry& e) {
        if (view.Matches(e))
            positions.push_back(position);
        ++position;
    });
    view.Order(positions, entries.begin(), showSinceReset);
    TGridRowWriter rows(grid);
    // Sorted, the entries are visited out of order: each one is asked for ahead.
    constexpr std::size_t Ahead = 4;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (i + Ahead < positions.size())
            PrefetchListed(entries[positions[i + Ahead]]);
        WriteProcessRow(rows, entries[positions[i]], showSinceReset);
    }
    return entries.Count() - static_cast<int32_t>(positions.size());
}

void TTorvaneProcessUserProcesses::FillUserProcessGrid(TStringGrid& grid, std::string_view loginName,
                                                       std::string_view hostName,
                                                       std::string_view ntLoginName,
                                                       std::string_view netAddress, bool showSinceReset) const
{
    const TFoldedName login(loginName);
    const TFoldedName host(hostName);
    const TFoldedName ntLogin(ntLoginName);
    const TFoldedName address(netAddress);
    TGridRowWriter rows(grid);
    // Most entries fail at the login, the first name compared.
    const auto prefetch = [](const ProcessEntry& e) { Prefetch(e.LoginName, TextHead); };
    WalkEntries<8>(Entries.Buffer(), prefetch, [&](const ProcessEntry& e) {
        if (!SameFolded(FixedText(e.LoginName), login, Folds) ||
            !SameFolded(FixedText(e.HostName), host, Folds) ||
            !SameFolded(FixedText(e.NetAddress), address, Folds) ||
            !SameFolded(TNtLoginName(FixedText(e.NtDomain), FixedText(e.NtUserName)), ntLogin, Folds))
            return;
        rows.NextRow();
        WriteHead(rows, e);
        rows.Set(2, DatabaseCell(e));
        WriteTail(rows, 3, e, showSinceReset);
    });
}

void TTorvaneProcessUserProcesses::FillDatabaseProcessGrid(TStringGrid& grid, std::string_view databaseName,
                                                           bool showSinceReset) const
{
    const TFoldedName database(databaseName);
    TGridRowWriter rows(grid);
    // Most entries fail at the database name and the count of further databases.
    const auto prefetch = [](const ProcessEntry& e) {
        Prefetch(&e.FurtherDatabaseCount, sizeof e.FurtherDatabaseCount);
        Prefetch(e.DatabaseName, TextHead);
    };
    WalkEntries<8>(Entries.Buffer(), prefetch, [&](const ProcessEntry& e) {
        if (!WorksInDatabase(e, database))
            return;
        rows.NextRow();
        WriteHead(rows, e);
        rows.Set(2, FixedText(e.LoginName));
        rows.Set(3, FixedText(e.HostName));
        WriteTail(rows, 4, e, showSinceReset);
    });
}

bool TTorvaneProcessUserProcesses::WorksInDatabase(const ProcessEntry& entry,
                                                   const TFoldedName& databaseName) const
{
    if (SameFolded(FixedText(entry.DatabaseName), databaseName, Folds))
        return true;
    if (entry.FurtherDatabaseCount == 0)
        return false;
    const AllocatedBuffer<FurtherDatabase>& further = FurtherDatabases.Buffer();
    auto other = std::lower_bound(further.begin(), further.end(), entry.Spid,
                                  [](const FurtherDatabase& f, int32_t spid) { return f.Spid < spid; });
    for (; other != further.end() && other->Spid == entry.Spid; ++other) {
        if (SameFolded(FixedText(other->DatabaseName), databaseName, Folds))
            return true;
    }
    return false;
}

std::string TTorvaneProcessUserProcesses::GetProcessTable() const
{
    return GetProcessTable(nullptr);
}

std::string TTorvaneProcessUserProcesses::GetProcessTable(const TBlockingChains* chains) const
{
    static constexpr std::string_view Header =
        "SPID\tStatus\tLogin\tDatabase\tCMD\tProgam Name\tLogin Time\tLast Batch\tCPU\tMemory\t"
        "Physical IO\r\n";
    // Sized once from the texts, with room for the widest numbers: a table of thousands
    // of lines is written without growing and copying.
    constexpr std::size_t NumbersAndSeparators = 11 + 6 + 3 * 43 + 12;
    std::size_t size = Header.size();
    WalkEntries<8>(Entries.Buffer(), PrefetchListed, [&size](const ProcessEntry& e) {
        size += NumbersAndSeparators + FixedText(e.LoginName).size() + FixedText(e.DatabaseName).size() +
                FixedText(e.Command).size() + FixedText(e.ProgramName).size() +
                FixedText(e.LoginTime).size() + FixedText(e.LastBatch).size();
    });
    std::string table;
    table.reserve(size);
    table += Header;
    if (chains)
        size += chains->Leads().size() * 48;
    std::string leadWord;
    WalkEntries<4>(Entries.Buffer(), PrefetchListed, [&](const ProcessEntry& e) {
        const TCellText spid = TCellText::Decimal(e.Spid);
        std::string_view state = StateWord(ProcessState(e));
        if (const TBlockingChains::TLead* lead = chains ? chains->FindLead(e.Spid) : nullptr) {
            leadWord.assign(state);
            leadWord += ", lead blocker of ";
            leadWord += TCellText::Decimal(lead->AllWaiters);
            state = leadWord;
        }
        const std::string_view fields[] = {
            spid,
            state,
            FixedText(e.LoginName),
            FixedText(e.DatabaseName),
            FixedText(e.Command),
            FixedText(e.ProgramName),
            FixedText(e.LoginTime),
            FixedText(e.LastBatch),
        };
        for (const std::string_view field : fields) {
            table += field;
            table += '\t';
        }
        table += TCellText::Counter(e.Cpu, e.Cpu - e.PreviousCpu);
        table += '\t';
        table += TCellText::Counter(e.Memory, e.Memory - e.PreviousMemory);
        table += '\t';
        table += TCellText::Counter(e.PhysicalIo, e.PhysicalIo - e.PreviousPhysicalIo);
        table += "\r\n";
    });
    return table;
}

bool TTorvaneProcessUserProcesses::FindProcessIdentity(int32_t spid, std::string& loginName,
                                                       std::string& ntDomain, std::string& ntUserName,
                                                       std::string& hostName) const
{
    const AllocatedBuffer<ProcessEntry>& entries = Entries.Buffer();
    const ProcessEntry* const entry = std::lower_bound(
        entries.begin(), entries.end(), spid, [](const ProcessEntry& e, int32_t s) { return e.Spid < s; });
    if (entry == entries.end() || entry->Spid != spid)
        return false;
    loginName = FixedText(entry->LoginName);
    ntDomain = FixedText(entry->NtDomain);
    ntUserName = FixedText(entry->NtUserName);
    hostName = FixedText(entry->HostName);
    return true;
}
