#include "model/Processlistview.h"

#include "model/Celltext.h"
#include "model/Fixedtext.h"
#include "model/Prefetch.h"
#include "model/Torvaneprocessuserprocesses.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <limits>

namespace {

// The columns of the list of every process, as its fill writes them.
enum TColumn
{
    State = 0,
    Spid,
    Login,
    Database,
    Command,
    Program,
    Blocked,
    LoginTime,
    LastBatch,
    Cpu,
    Memory,
    PhysicalIo,
    WaitTime,
    OpenTrans,
    Threads,
    HostProcess,
    Columns
};

constexpr int64_t Lowest = std::numeric_limits<int64_t>::min();

// A double as an integer of the same order.
int64_t OrderOf(double value)
{
    const auto bits = std::bit_cast<int64_t>(value);
    return bits < 0 ? bits ^ std::numeric_limits<int64_t>::max() : bits;
}

// The first eight bytes of a folded text as an integer of the same (unsigned byte) order.
int64_t HeadOf(std::string_view folded)
{
    uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i)
        head = head << 8 | (i < folded.size() ? static_cast<unsigned char>(folded[i]) : 0u);
    return static_cast<int64_t>(head ^ (uint64_t{1} << 63));
}

// Where the text a column sorts by starts in an entry; its numbers are in the first line.
std::size_t KeyOffset(int column)
{
    switch (column) {
    case State:
    case Command:
        return offsetof(ProcessEntry, Command);
    case Login:
        return offsetof(ProcessEntry, LoginName);
    case Database:
        return offsetof(ProcessEntry, DatabaseName);
    case Program:
        return offsetof(ProcessEntry, ProgramName);
    case LoginTime:
        return offsetof(ProcessEntry, LoginTime);
    case LastBatch:
        return offsetof(ProcessEntry, LastBatch);
    case HostProcess:
        return offsetof(ProcessEntry, HostProcess);
    default:
        return 0;
    }
}

} // namespace

TProcessListView::TProcessListView(TDateTimeTextParser parse) : Dates(std::move(parse)) {}

bool TProcessListView::Matches(const ProcessEntry& e) const
{
    if (Filter.Empty())
        return true;
    if (Filter.Digits()) {
        const TCellText spid = TCellText::Decimal(e.Spid);
        if (std::string_view(spid).find(Filter.Text()) != std::string_view::npos)
            return true;
    }
    return Filter.FoundIn(FixedText(e.LoginName)) || Filter.FoundIn(FixedText(e.HostName)) ||
           Filter.FoundIn(FixedText(e.ProgramName)) || Filter.FoundIn(FixedText(e.DatabaseName)) ||
           Filter.FoundIn(FixedText(e.Command));
}

void TProcessListView::SortBy(int column, bool descending)
{
    Column = column >= 0 && column < Columns ? column : -1;
    FDescending = Column >= 0 && descending;
}

void TProcessListView::HeadingClicked(int column)
{
    if (column != Column)
        SortBy(column, false);
    else if (!FDescending)
        SortBy(column, true);
    else
        SortBy(-1, false);
}

void TProcessListView::NextRefresh()
{
    Filter.NextRefresh();
    Dates.NextRefresh();
    Folds.NextRefresh();
}

void TProcessListView::Order(std::vector<int32_t>& positions, const ProcessEntry* entries,
                             bool showSinceReset)
{
    if (Column < 0)
        return;
    Keys.clear();
    Keys.reserve(positions.size());
    Folded.clear();
    const auto value = [&](int32_t position, int64_t major) { Keys.push_back({major, -1, position}); };
    const auto name = [&](int32_t position, std::string_view text) {
        char folded[FoldedNameSize];
        const std::string_view f(folded, Folds.Fold(text, folded));
        Keys.push_back({HeadOf(f), static_cast<int32_t>(Folded.size()), position});
        Folded.append(f);
        Folded += '\0';
    };
    const auto date = [&](int32_t position, std::string_view text) {
        const std::optional<double> parsed = Dates.Value(text);
        value(position, parsed ? OrderOf(*parsed) : Lowest);
    };
    // The key's field of the entries ahead, which are over a kilobyte each.
    const std::size_t keyOffset = KeyOffset(Column);
    constexpr std::size_t Ahead = 8;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (i + Ahead < positions.size()) {
            const char* ahead = reinterpret_cast<const char*>(&entries[positions[i + Ahead]]);
            Prefetch(ahead, 64);
            Prefetch(ahead + keyOffset, 32);
        }
        const int32_t position = positions[i];
        const ProcessEntry& e = entries[position];
        switch (Column) {
        case State:
            name(position, StateLetter(ProcessState(e)));
            break;
        case Spid:
            value(position, e.Spid);
            break;
        case Login:
            name(position, FixedText(e.LoginName));
            break;
        case Database:
            name(position,
                 e.FurtherDatabaseCount > 0 ? std::string_view("<Multiple>") : FixedText(e.DatabaseName));
            break;
        case Command:
            name(position, FixedText(e.Command));
            break;
        case Program:
            name(position, FixedText(e.ProgramName));
            break;
        case Blocked:
            value(position, e.Blocked);
            break;
        case LoginTime:
            date(position, FixedText(e.LoginTime));
            break;
        case LastBatch:
            date(position, FixedText(e.LastBatch));
            break;
        case Cpu:
            value(position, showSinceReset ? e.Cpu - e.BaselineCpu : e.Cpu);
            break;
        case Memory:
            value(position, e.Memory);
            break;
        case PhysicalIo:
            value(position, showSinceReset ? e.PhysicalIo - e.BaselinePhysicalIo : e.PhysicalIo);
            break;
        case WaitTime:
            value(position, e.WaitTime);
            break;
        case OpenTrans:
            value(position, e.OpenTransactions);
            break;
        case Threads:
            value(position, e.ThreadCount);
            break;
        default: { // the host's process id: a number, else first
            const std::string_view text = FixedText(e.HostProcess);
            int64_t number = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
            value(position, error == std::errc() && end == text.data() + text.size() ? number : Lowest);
        }
        }
    }
    const char* const folded = Folded.data();
    const bool descending = FDescending;
    std::sort(Keys.begin(), Keys.end(), [folded, descending](const TKey& a, const TKey& b) {
        int order = a.Major < b.Major ? -1 : a.Major > b.Major ? 1 : 0;
        if (order == 0 && a.Text >= 0)
            order = CompareFoldedNames(folded + a.Text, folded + b.Text);
        if (order != 0)
            return descending ? order > 0 : order < 0;
        return a.Position < b.Position;
    });
    for (std::size_t i = 0; i < Keys.size(); ++i)
        positions[i] = Keys[i].Position;
}
