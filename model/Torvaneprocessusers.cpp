#include "model/Torvaneprocessusers.h"

#include "model/Celltext.h"
#include "model/Fixedtext.h"
#include "model/Gridrows.h"
#include "model/Processidentity.h"

#include <cstring>
#include <iterator>
#include <utility>

namespace {

// Folds the row's four identity texts, each once, one after the other with their
// terminators between them; only the texts' own bytes are written, as this runs for
// every row.
void BuildUserKey(UserKey& key, const ProcessRecord& record, TNameFolder& folds)
{
    const TNtLoginName ntLoginName(record.nt_domain, record.nt_username);
    std::size_t length = 0;
    for (const std::string_view name :
         {record.loginame, record.hostname, std::string_view(ntLoginName), record.net_address})
        length += folds.Fold(name, key.Names + length) + 1;
    key.Length = static_cast<uint16_t>(length);
}

UserIdentityHeads IdentityHeads(const ProcessRecord& record)
{
    UserIdentityHeads heads;
    const auto head = [&heads](std::string_view text, int n) {
        return static_cast<uint8_t>(TextHeadWords(text, heads.Words + 2 * n) << n);
    };
    heads.Whole = head(record.loginame, 0) | head(record.hostname, 1) | head(record.nt_domain, 2) |
                  head(record.nt_username, 3) | head(record.net_address, 4);
    return heads;
}

// SameIdentity(entry, record), where heads are the record's: the texts that end within
// their heads are compared by the heads alone.
bool SameIdentity(const UserEntry& entry, const UserIdentityHeads& heads, const ProcessRecord& record)
{
    std::uint64_t differ = 0; // all ten words read at once: no call, no branch per word
    for (int i = 0; i < 10; ++i)
        differ |= entry.Heads.Words[i] ^ heads.Words[i];
    if (differ != 0)
        return false;
    constexpr uint8_t All = 0x1F;
    if (heads.Whole == All)
        return true;
    const auto same = [&heads](int n, const auto& a, std::string_view b) {
        return (heads.Whole & (1 << n)) != 0 || SameFixedText(a, b);
    };
    return same(0, entry.LoginName, record.loginame) && same(1, entry.HostName, record.hostname) &&
           same(2, entry.NtDomain, record.nt_domain) && same(3, entry.NtUserName, record.nt_username) &&
           same(4, entry.NetAddress, record.net_address);
}

} // namespace

TTorvaneProcessUsers::TTorvaneProcessUsers(TDateTimeTextParser parseDateTime, int32_t capacityLimit)
    : Entries(capacityLimit), DateTimeValues(std::move(parseDateTime))
{
}

void TTorvaneProcessUsers::BeginRefresh()
{
    Entries.MergeAdded();
    DateTimeValues.NextRefresh();
    Folds.NextRefresh();
    for (UserEntry& entry : Entries.Buffer()) {
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

void TTorvaneProcessUsers::AddProcess(const ProcessRecord& record)
{
    // A row mostly belongs to the user of the row before it or of its place in the last
    // refresh; an entry whose texts are the row's own has the row's key, which then need
    // not be folded.
    const UserIdentityHeads heads = IdentityHeads(record);
    UserEntry* entry =
        Entries.FindLikely([&](const UserEntry& likely) { return SameIdentity(likely, heads, record); },
                           [&heads] { return HashWords(heads.Words, std::size(heads.Words)); });
    UserKey key;
    if (!entry) {
        BuildUserKey(key, record, Folds);
        entry = Entries.Find(std::string_view(key.Names, key.Length));
    }
    const bool process = record.ecid == 0;
    if (entry) {
        if (process) {
            ++entry->ProcessCount;
            entry->PhysicalIo += record.physical_io;
            entry->Memory += record.memusage;
            TakeLatestActivity(*entry, record, DateTimeValues);
        }
        entry->Cpu += record.cpu_usage;
        entry->BlockedSum += record.blocked;
        entry->Seen = 1;
        return;
    }
    Entries.Emplace([&](UserEntry& created) {
        TakeIdentity(created, record);
        created.Heads = heads;
        CopyFixedText(created.NetLibrary, record.net_library);
        TakeLatestActivity(created, record, DateTimeValues);
        created.ProcessCount = process ? 1 : 0;
        created.Cpu = record.cpu_usage;
        created.Memory = process ? record.memusage : 0;
        created.PhysicalIo = process ? record.physical_io : 0;
        created.BlockedSum = record.blocked;
        created.Seen = 1;
        std::memcpy(created.Key.Names, key.Names, key.Length);
        created.Key.Length = key.Length;
    });
}

void TTorvaneProcessUsers::EndRefresh()
{
    Entries.Sweep([](const UserEntry& entry) { return !entry.Seen; });
    Users = 0;
    Sessions = 0;
    for (const UserEntry& entry : Entries.Buffer()) {
        ++Users;
        Sessions += entry.ProcessCount;
    }
}

void TTorvaneProcessUsers::RemoveEntry(int32_t position)
{
    Entries.Buffer().RemoveAt(position);
}

void TTorvaneProcessUsers::ResetBaselines()
{
    Entries.ResetBaselines();
}

void TTorvaneProcessUsers::FillUserGrid(TStringGrid& grid, std::span<const int32_t> columnMap,
                                        bool showSinceReset) const
{
    const TGridUpdate update(grid);
    const AllocatedBuffer<UserEntry>& entries = Entries.Buffer();
    grid.SetRowCount(entries.Count() + 1);
    for (int32_t i = 0; i < entries.Count(); ++i) {
        const UserEntry& e = entries[i];
        const int32_t row = i + 1;
        const auto cell = [&](int column, std::string_view text) {
            SetMappedCell(grid, columnMap, column, row, text);
        };
        const bool unchanged =
            e.Cpu == e.PreviousCpu && e.Memory == e.PreviousMemory && e.PhysicalIo == e.PreviousPhysicalIo;
        cell(0, e.BlockedSum != 0 ? "L" : unchanged ? "I" : "A");
        cell(1, FixedText(e.LoginName));
        cell(2, FixedText(e.HostName));
        cell(3, TCellText::Counter(e.ProcessCount, int64_t{e.ProcessCount} - e.PreviousProcessCount));
        cell(4, FixedText(e.LatestActivity));
        cell(5, TCellText::Counter(showSinceReset ? e.Cpu - e.BaselineCpu : e.Cpu, e.Cpu - e.PreviousCpu));
        cell(6, TCellText::Counter(e.Memory, e.Memory - e.PreviousMemory));
        cell(7, TCellText::Counter(showSinceReset ? e.PhysicalIo - e.BaselinePhysicalIo : e.PhysicalIo,
                                   e.PhysicalIo - e.PreviousPhysicalIo));
        cell(8, TCellText::Decimal(e.BlockedSum));
        cell(9, TNtLoginName(FixedText(e.NtDomain), FixedText(e.NtUserName)));
        cell(10, FixedText(e.NetLibrary));
        cell(11, FixedText(e.NetAddress));
    }
}
