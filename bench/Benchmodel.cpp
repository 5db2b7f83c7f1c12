// The process model under the load of a large server: feeding refreshes of 1,000,
// 10,000 and 32,767 rows through the four aggregations, and filling every grid of the
// four views from the result. Each iteration feeds the next of a series of consecutive
// snapshots, so what is measured is a later refresh where most keys already exist.
// Names are ASCII, as on most servers, except in BM_FeedLaterRefreshForeignNames.

#include "bench/Benchsnapshots.h"
#include "engine/Commonfuncs.h"
#include "model/Celltext.h"
#include "model/Memorystringgrid.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"

#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <string>

namespace {

constexpr int Refreshes = 8;

std::vector<TBenchSnapshot> Snapshots(const benchmark::State& state)
{
    return MakeBenchSnapshots(static_cast<int>(state.range(0)), Refreshes);
}

// The four model objects of one server slot, fed as the refresh cycle feeds them.
struct TSlotModel
{
    // Parsing as the refresh does: the value of a text it made, else the locale's.
    static std::optional<double> Parse(std::string_view text)
    {
        if (const auto made = MadeBenchDateTimeValue(text))
            return made;
        return TextToDateTime(text);
    }
    TTorvaneProcessUsers Users{Parse};
    TTorvaneProcessDatabases Databases{Parse};
    TTorvaneProcessUserProcesses UserProcesses;
    TTorvaneProcessThreads Threads;

    // The memory of the process and thread tables for a first refresh, as the monitor
    // thread makes it ready before it hands the snapshot over.
    struct TRooms
    {
        TTorvaneProcessUserProcesses::TRoom Processes;
        TTorvaneProcessThreads::TRoom Threads;
    };
    static TRooms MakeRooms(const TBenchSnapshot& snapshot)
    {
        int32_t processes = 0;
        for (std::size_t i = 0; i < snapshot.size(); ++i)
            processes += i == 0 || snapshot[i].Record.spid != snapshot[i - 1].Record.spid;
        return {TTorvaneProcessUserProcesses::MakeRoom(processes),
                TTorvaneProcessThreads::MakeRoom(static_cast<int32_t>(snapshot.size()))};
    }
    void TakeRooms(TRooms rooms)
    {
        UserProcesses.PrepareRoom(std::move(rooms.Processes));
        Threads.PrepareRoom(std::move(rooms.Threads));
    }

    void Feed(const TBenchSnapshot& snapshot)
    {
        UserProcesses.PrepareForRows(static_cast<int32_t>(snapshot.size()));
        Threads.PrepareForRows(static_cast<int32_t>(snapshot.size()));
        Users.BeginRefresh();
        Databases.BeginRefresh();
        UserProcesses.BeginRefresh();
        Threads.BeginRefresh();
        for (const TBenchRow& row : snapshot) {
            const ProcessRecord& r = row.Record;
            Users.AddProcess(r);
            Databases.AddProcess(r);
            UserProcesses.AddProcess(r);
            Threads.AddThread(r.spid, r.ecid, r.cpu_usage, r.waittime, row.lastwaittype, row.waitresource,
                              r.databasename);
        }
        Users.EndRefresh();
        Databases.EndRefresh();
        UserProcesses.EndRefresh();
        Threads.EndRefresh();
    }
};

// Every refresh after the first, the snapshots taken in turn.
template <class TSnapshots> void FeedLaterRefreshes(benchmark::State& state, const TSnapshots& snapshots)
{
    TSlotModel model;
    model.Feed(snapshots[0]);
    std::size_t next = 1;
    for (auto _ : state) {
        model.Feed(snapshots[next]);
        next = next + 1 < snapshots.size() ? next + 1 : 1;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["users"] = model.Users.UserCount();
    state.counters["processes"] = model.UserProcesses.Count();
}

void BM_FeedLaterRefresh(benchmark::State& state)
{
    FeedLaterRefreshes(state, Snapshots(state));
}

// The same with Cyrillic and German names: each row's names take ICU's case folding
// (or the model's memory of it) instead of the ASCII path.
void BM_FeedLaterRefreshForeignNames(benchmark::State& state)
{
    FeedLaterRefreshes(state, MakeBenchSnapshots(static_cast<int>(state.range(0)), Refreshes, true));
}

// The first refresh on the main thread: its process and thread tables take the rooms the
// monitor thread made (BM_MakeFirstRefreshRooms); with prepared = 0 they make their own,
// as a table does whose room was not made ahead. Only the feed counts: a slot's model is
// made when it connects and goes when it disconnects, not in a refresh.
void BM_FeedFirstRefresh(benchmark::State& state)
{
    const auto snapshots = Snapshots(state);
    const bool prepared = state.range(1) != 0;
    std::unique_ptr<TSlotModel> model;
    for (auto _ : state) {
        state.PauseTiming();
        model.reset();
        model = std::make_unique<TSlotModel>();
        if (prepared)
            model->TakeRooms(TSlotModel::MakeRooms(snapshots[0]));
        state.ResumeTiming();
        model->Feed(snapshots[0]);
        benchmark::DoNotOptimize(model->Threads.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_FeedSecondRefresh(benchmark::State& state)
{
    const auto snapshots = Snapshots(state);
    std::unique_ptr<TSlotModel> model;
    for (auto _ : state) {
        state.PauseTiming();
        model.reset();
        model = std::make_unique<TSlotModel>();
        model->TakeRooms(TSlotModel::MakeRooms(snapshots[0]));
        model->Feed(snapshots[0]);
        state.ResumeTiming();
        model->Feed(snapshots[1]);
    }
}
BENCHMARK(BM_FeedSecondRefresh)->Arg(1000)->Arg(10000)->Arg(32767)->Unit(benchmark::kMillisecond);

// The monitor thread's share of a first refresh: the tables' memory made ready.
void BM_MakeFirstRefreshRooms(benchmark::State& state)
{
    const auto snapshots = Snapshots(state);
    for (auto _ : state) {
        auto rooms = TSlotModel::MakeRooms(snapshots[0]);
        benchmark::DoNotOptimize(rooms.Processes.Capacity());
        state.PauseTiming();
        rooms = {};
        state.ResumeTiming();
    }
}

// Every grid of the four views, as a redraw of the connection frame fills them: the
// left and right grids of the users summary and of its detail (the first user's
// processes), of the databases summary and its detail (the first database's processes),
// of the all-processes view, and the two thread grids of the process information.
void BM_FillAllGrids(benchmark::State& state)
{
    const auto snapshots = Snapshots(state);
    TSlotModel model;
    model.Feed(snapshots[0]);
    model.Feed(snapshots[1]);
    std::array<int32_t, 12> columns{};
    for (int i = 0; i < 12; ++i)
        columns[i] = i;
    const UserEntry& user = model.Users.Entry(model.Users.Count() / 2);
    const std::string login = user.LoginName, host = user.HostName, address = user.NetAddress;
    const std::string ntLogin = std::string(TNtLoginName(user.NtDomain, user.NtUserName));
    const std::string database = model.Databases.Entry(model.Databases.Count() / 2).DatabaseName;
    const int32_t spid = model.Threads.Entry(model.Threads.Count() - 1).Spid;

    std::array<TMemoryStringGrid, 2> summary{TMemoryStringGrid(12, 2), TMemoryStringGrid(12, 2)};
    std::array<TMemoryStringGrid, 2> databases{TMemoryStringGrid(8, 2), TMemoryStringGrid(8, 2)};
    std::array<TMemoryStringGrid, 2> userDetail{TMemoryStringGrid(15, 2), TMemoryStringGrid(15, 2)};
    std::array<TMemoryStringGrid, 2> databaseDetail{TMemoryStringGrid(16, 2), TMemoryStringGrid(16, 2)};
    std::array<TMemoryStringGrid, 2> processes{TMemoryStringGrid(16, 2), TMemoryStringGrid(16, 2)};
    std::array<TMemoryStringGrid, 2> threads{TMemoryStringGrid(6, 2), TMemoryStringGrid(6, 2)};
    for (auto _ : state) {
        for (int side = 0; side < 2; ++side) {
            model.Users.FillUserGrid(summary[side], columns, true);
            model.UserProcesses.FillUserProcessGrid(userDetail[side], login, host, ntLogin, address, true);
            model.Databases.FillDatabaseGrid(databases[side], columns, true);
            model.UserProcesses.FillDatabaseProcessGrid(databaseDetail[side], database, true);
            model.UserProcesses.FillProcessGrid(processes[side], true);
            model.Threads.FillThreadGrid(threads[side], spid);
        }
    }
    state.counters["process rows"] = processes[0].RowCount() - 1;
    state.counters["user detail rows"] = userDetail[0].RowCount() - 1;
    state.counters["database detail rows"] = databaseDetail[0].RowCount() - 1;
}

void BM_ProcessTable(benchmark::State& state)
{
    const auto snapshots = Snapshots(state);
    TSlotModel model;
    model.Feed(snapshots[0]);
    model.Feed(snapshots[1]);
    for (auto _ : state)
        benchmark::DoNotOptimize(model.UserProcesses.GetProcessTable());
}

void Sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(1000)->Arg(10000)->Arg(32767)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_FeedLaterRefresh)->Apply(Sizes);
BENCHMARK(BM_FeedLaterRefreshForeignNames)->Apply(Sizes);
BENCHMARK(BM_FeedFirstRefresh)
    ->ArgsProduct({{1000, 10000, 32767}, {1, 0}})
    ->ArgNames({"", "prepared"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MakeFirstRefreshRooms)->Apply(Sizes);
BENCHMARK(BM_FillAllGrids)->Apply(Sizes);
BENCHMARK(BM_ProcessTable)->Apply(Sizes);

BENCHMARK_MAIN();
