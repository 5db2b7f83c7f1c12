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

namespace {

TMemoryStringGrid CaptionedGrid(std::initializer_list<const char*> captions)
{
    TMemoryStringGrid grid(static_cast<int32_t>(captions.size()), 2);
    int32_t col = 0;
    for (const char* caption : captions)
        grid.SetCell(col++, 0, caption);
    return grid;
}

std::string GridText(const TMemoryStringGrid& grid)
{
    std::string text;
    for (int32_t row = 0; row < grid.RowCount(); ++row)
        text += grid.RowText(row) + '\n';
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
    text += DateTimeToText(performance.SampleTime()[Newest]);
    for (const int series : {P::SeriesCpuBusy, P::SeriesResponse, P::SeriesUsers, P::SeriesSessions,
                             P::SeriesPacketsSent, P::SeriesPacketsReceived, P::SeriesPacketErrors,
                             P::SeriesDiskReads, P::SeriesDiskWrites, P::SeriesDiskErrors})
        text += '\t' + std::to_string(performance.History()[series][Newest]);
    return text + '\n';
}
