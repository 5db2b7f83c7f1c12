#include "app/Headlesstables.h"

#include "engine/Commonfuncs.h"
#include "engine/Torvaneserverperformance.h"
#include "model/Blockingchains.h"
#include "model/Celltext.h"
#include "model/Gridrows.h"
#include "model/Gridtext.h"
#include "model/Memorystringgrid.h"
#include "model/Processlistview.h"
#include "model/Textfilter.h"
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

template <std::size_t N> std::array<int32_t, N> IdentityColumns()
{
    std::array<int32_t, N> map{};
    std::iota(map.begin(), map.end(), 0);
    return map;
}

void KeepMatching(TMemoryStringGrid& grid, std::string_view text, std::initializer_list<int32_t> columns)
{
    TTextFilter filter;
    filter.SetText(text);
    KeepMatchingRows(grid, filter, std::span<const int32_t>(columns.begin(), columns.size()));
}

} // namespace

std::string UsersTable(const TTorvaneProcessUsers& users, std::string_view filter)
{
    TMemoryStringGrid grid =
        CaptionedGrid({"", "Current Users", "Host", "#Procs", "Latest Activity", "CPU Usage", "Memory Usage",
                       "Physical IO", "Locked", "NT Login Name", "Net Library", "Net Address"});
    users.FillUserGrid(grid, IdentityColumns<TTorvaneProcessUsers::ColumnCount>(), false);
    KeepMatching(grid, filter, {1, 2, 9});
    return TabSeparatedGrid(grid);
}

std::string DatabasesTable(const TTorvaneProcessDatabases& databases, std::string_view filter)
{
    TMemoryStringGrid grid = CaptionedGrid(
        {"", "Database", "#Procs", "Latest Activity", "CPU Usage", "Memory Usage", "Physical IO", "Locked"});
    databases.FillDatabaseGrid(grid, IdentityColumns<TTorvaneProcessDatabases::ColumnCount>(), false);
    KeepMatching(grid, filter, {1});
    return TabSeparatedGrid(grid);
}

std::string ProcessesTable(const TTorvaneProcessUserProcesses& processes, std::string_view filter)
{
    TMemoryStringGrid grid = CaptionedGrid(
        {"", "SPID", "Login", "Database", "Command", "Program", "Blocked", "Login Time", "Last Batch",
         "CPU Usage", "Memory Usage", "Physical IO", "Wait time", "Open Trans", "Threads", "Host Process"});
    TProcessListView view;
    view.SetFilter(filter);
    processes.FillProcessGrid(grid, false, view);
    return TabSeparatedGrid(grid);
}

std::string BlockingTable(const TBlockingChains& chains)
{
    std::string text = "SPID\tWaiting\tWait time\tWait type\tWait resource\tLogin\n";
    for (const TBlockingChains::TNode& node : chains.Tree()) {
        text.append(static_cast<std::size_t>(node.Depth) * 2, ' ');
        text += TabField(TBlockingChains::SpidText(node));
        text += '\t';
        if (node.AllWaiters > 0) {
            text += TCellText::Decimal(node.AllWaiters);
            if (node.DirectWaiters != node.AllWaiters) {
                text += " (";
                text += TCellText::Decimal(node.DirectWaiters);
                text += " directly)";
            }
        }
        text += '\t';
        if (node.Depth > 0)
            text += TCellText::Decimal(node.WaitTime);
        for (const std::string* field : {&node.WaitType, &node.WaitResource, &node.Login}) {
            text += '\t';
            text += TabField(*field);
        }
        text += '\n';
    }
    return text;
}

std::string StatsTable(const TTorvaneServerPerformance& performance)
{
    using P = TTorvaneServerPerformance;
    constexpr int Newest = P::HistoryLength - 1;
    std::string text =
        "Timestamp\tCPU\tResponse\tUsers\tSessions\tNetworkSent\tNetworkReceived\tNetworkErrored"
        "\tDiskRead\tDiskWrite\tDiskError\n";
    text += TabField(DateTimeToText(performance.SampleTime()[Newest]));
    for (const int series : {P::SeriesCpuBusy, P::SeriesResponse, P::SeriesUsers, P::SeriesSessions,
                             P::SeriesPacketsSent, P::SeriesPacketsReceived, P::SeriesPacketErrors,
                             P::SeriesDiskReads, P::SeriesDiskWrites, P::SeriesDiskErrors})
        text += '\t' + std::to_string(performance.History()[series][Newest]);
    return text + '\n';
}
