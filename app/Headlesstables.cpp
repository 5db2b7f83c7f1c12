#include "app/Headlesstables.h"

#include "engine/Commonfuncs.h"
#include "engine/Torvaneserverperformance.h"
#include "model/Memorystringgrid.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"

#include <array>
#include <initializer_list>
#include <numeric>
#include <string_view>

namespace {

TMemoryStringGrid CaptionedGrid(std::initializer_list<const char*> captions)
{
    TMemoryStringGrid grid(static_cast<int32_t>(captions.size()), 2);
    int32_t col = 0;
    for (const char* caption : captions)
        grid.SetCell(col++, 0, caption);
    return grid;
}

// A cell as one field of its line. Names come from the clients (a program name may hold
// a tab and a line break), so every control character, and the Unicode line and
// paragraph separators some readers also break lines at, is written as one blank: one
// line per row, the same number of fields on every line.
std::string FieldText(std::string_view cell)
{
    std::string field;
    field.reserve(cell.size());
    for (std::size_t i = 0; i < cell.size(); ++i) {
        const auto byte = [&](std::size_t at) {
            return at < cell.size() ? static_cast<unsigned char>(cell[at]) : 0;
        };
        if (byte(i) < 0x20 || byte(i) == 0x7f) {
            field += ' ';
        } else if (byte(i) == 0xc2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9f) { // U+0080 to U+009F
            field += ' ';
            i += 1;
        } else if (byte(i) == 0xe2 && byte(i + 1) == 0x80 && (byte(i + 2) == 0xa8 || byte(i + 2) == 0xa9)) {
            field += ' '; // U+2028, U+2029
            i += 2;
        } else {
            field += cell[i];
        }
    }
    return field;
}

std::string GridText(const TMemoryStringGrid& grid)
{
    std::string text;
    for (int32_t row = 0; row < grid.RowCount(); ++row) {
        for (int32_t col = 0; col < grid.ColCount(); ++col) {
            if (col > 0)
                text += '\t';
            text += FieldText(grid.Cell(col, row));
        }
        text += '\n';
    }
    return text;
}

template <std::size_t N> std::array<int32_t, N> IdentityColumns()
{
    std::array<int32_t, N> map{};
    std::iota(map.begin(), map.end(), 0);
    return map;
}

} // namespace

std::string UsersTable(const TTorvaneProcessUsers& users)
{
    TMemoryStringGrid grid =
        CaptionedGrid({"", "Current Users", "Host", "#Procs", "Latest Activity", "CPU Usage", "Memory Usage",
                       "Physical IO", "Locked", "NT Login Name", "Net Library", "Net Address"});
    users.FillUserGrid(grid, IdentityColumns<TTorvaneProcessUsers::ColumnCount>(), false);
    return GridText(grid);
}

std::string DatabasesTable(const TTorvaneProcessDatabases& databases)
{
    TMemoryStringGrid grid = CaptionedGrid(
        {"", "Database", "#Procs", "Latest Activity", "CPU Usage", "Memory Usage", "Physical IO", "Locked"});
    databases.FillDatabaseGrid(grid, IdentityColumns<TTorvaneProcessDatabases::ColumnCount>(), false);
    return GridText(grid);
}

std::string ProcessesTable(const TTorvaneProcessUserProcesses& processes)
{
    TMemoryStringGrid grid = CaptionedGrid(
        {"", "SPID", "Login", "Database", "Command", "Program", "Blocked", "Login Time", "Last Batch",
         "CPU Usage", "Memory Usage", "Physical IO", "Wait time", "Open Trans", "Threads", "Host Process"});
    processes.FillProcessGrid(grid, false);
    return GridText(grid);
}

std::string StatsTable(const TTorvaneServerPerformance& performance)
{
    using P = TTorvaneServerPerformance;
    constexpr int Newest = P::HistoryLength - 1;
    std::string text =
        "Timestamp\tCPU\tResponse\tUsers\tSessions\tNetworkSent\tNetworkReceived\tNetworkErrored"
        "\tDiskRead\tDiskWrite\tDiskError\n";
    text += FieldText(DateTimeToText(performance.SampleTime()[Newest]));
    for (const int series : {P::SeriesCpuBusy, P::SeriesResponse, P::SeriesUsers, P::SeriesSessions,
                             P::SeriesPacketsSent, P::SeriesPacketsReceived, P::SeriesPacketErrors,
                             P::SeriesDiskReads, P::SeriesDiskWrites, P::SeriesDiskErrors})
        text += '\t' + std::to_string(performance.History()[series][Newest]);
    return text + '\n';
}
