// What the DBA's own moves add to a refresh of the shown server: the blocking chains
// behind the lead-blocker marks and counts, the filter and the sorted column of the list
// of every process (32,767 processes), and the tree of blocking chains with 1,000
// blocked sessions, built and put into its tree view. Compare the filtered and sorted
// fills with BM_FillPlain, the same list as the model orders it. The processor time of
// the thread (the "CPU" column) is the main thread's share on a busy machine.

#include "bench/Benchsnapshots.h"
#include "engine/Commonfuncs.h"
#include "model/Blockingchains.h"
#include "model/Memorystringgrid.h"
#include "model/Processlistview.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "ui/Frameblockingchains.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int Processes = 32767;
// Snapshot rows of the bench snapshots that make about 32,767 processes (a twelfth of
// the processes run parallel queries with more rows).
constexpr int ProcessRows = 43300;

std::optional<double> Parse(std::string_view text)
{
    if (const auto made = MadeBenchDateTimeValue(text))
        return made;
    return TextToDateTime(text);
}

// Two consecutive refreshes of the bench snapshots, as a server shows them.
struct TFedProcesses
{
    TTorvaneProcessUserProcesses UserProcesses;
    TTorvaneProcessThreads Threads;

    explicit TFedProcesses(int rows)
    {
        const auto snapshots = MakeBenchSnapshots(rows, 2);
        for (const TBenchSnapshot& snapshot : snapshots) {
            UserProcesses.BeginRefresh();
            Threads.BeginRefresh();
            for (const TBenchRow& row : snapshot) {
                UserProcesses.AddProcess(row.Record);
                Threads.AddThread(row.Record.spid, row.Record.ecid, row.Record.cpu_usage, row.Record.waittime,
                                  row.lastwaittype, row.waitresource, row.Record.databasename);
            }
            UserProcesses.EndRefresh();
            Threads.EndRefresh();
        }
    }
};

// 32,767 processes of which `blocked` wait in chains of one to eight behind lead
// blockers, with a wait type and resource each.
struct TBlockedServer
{
    TTorvaneProcessUserProcesses UserProcesses;
    TTorvaneProcessThreads Threads;

    explicit TBlockedServer(int blocked)
    {
        UserProcesses.BeginRefresh();
        Threads.BeginRefresh();
        int waiting = 0;
        int depth = 0;
        for (int32_t spid = 1; spid <= Processes; ++spid) {
            const std::string login = "login" + std::to_string(spid % 300);
            ProcessRecord r;
            r.spid = spid;
            r.loginame = login;
            r.cmd = "UPDATE";
            // Every second process from 100 on waits for the one before it, in chains of up
            // to eight, until enough wait.
            if (spid > 100 && waiting < blocked && spid % 2 == 0) {
                depth = depth % 8 + 1;
                r.blocked = depth == 1 ? spid - 1 : spid - 2;
                r.waittime = spid * 7 % 60000;
                ++waiting;
            }
            UserProcesses.AddProcess(r);
            Threads.AddThread(spid, 0, 0, r.waittime, r.blocked ? "LCK_M_X" : "",
                              r.blocked ? "KEY: 6:72057594038321152 (8194443284a0)" : "", "Sales");
        }
        UserProcesses.EndRefresh();
        Threads.EndRefresh();
    }
};

void BM_ChainsForMarks(benchmark::State& state)
{
    const TFedProcesses server(ProcessRows);
    TBlockingChains chains;
    for (auto _ : state)
        chains.Build(server.UserProcesses, &server.Threads);
    state.counters["lead blockers"] = static_cast<double>(chains.Leads().size());
    state.counters["tree rows"] = static_cast<double>(chains.Tree().size());
}

void BM_FillPlain(benchmark::State& state)
{
    const TFedProcesses server(ProcessRows);
    TMemoryStringGrid grid(16, 2);
    for (auto _ : state)
        server.UserProcesses.FillProcessGrid(grid, true);
    state.counters["processes"] = server.UserProcesses.Count();
}

// range(0): the column sorted, descending (-1 none); range(1): 1 with a filter that
// keeps no process (every text of every row searched to its end), 2 with "7", which the
// SPIDs and names of about a third of the processes contain.
void BM_FillViewed(benchmark::State& state)
{
    const TFedProcesses server(ProcessRows);
    TProcessListView view(Parse);
    view.SortBy(static_cast<int>(state.range(0)), true);
    if (state.range(1) == 1)
        view.SetFilter("no such text");
    else if (state.range(1) == 2)
        view.SetFilter("7");
    TMemoryStringGrid grid(16, 2);
    int32_t hidden = 0;
    for (auto _ : state)
        hidden = server.UserProcesses.FillProcessGrid(grid, true, view);
    state.counters["rows"] = grid.RowCount() - 1;
    state.counters["hidden"] = hidden;
}

void BM_BlockingTree(benchmark::State& state)
{
    const TBlockedServer server(static_cast<int>(state.range(0)));
    TBlockingChains chains;
    TFrameBlockingChains frame;
    for (auto _ : state) {
        chains.Build(server.UserProcesses, &server.Threads);
        if (state.range(1) == 1)
            frame.ShowChains(chains);
    }
    state.counters["tree rows"] = static_cast<double>(chains.Tree().size());
}

} // namespace

BENCHMARK(BM_ChainsForMarks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillViewed)
    ->ArgNames({"column", "filter"})
    ->Args({-1, 1})
    ->Args({-1, 2})
    ->Args({2, 0})
    ->Args({5, 0})
    ->Args({8, 0})
    ->Args({9, 0})
    ->Args({9, 2})
    ->Args({2, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockingTree)
    ->ArgNames({"blocked", "view"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
