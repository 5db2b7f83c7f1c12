// The simulated server under the load the product's benchmarks give it: the process
// snapshot of 1,000 to 32,767 processes, the probe, and killing every process of a
// database on a full server (a cursor and one KILL per process).

#include "support/Monitorbatches.h"
#include "sandbox/Sandboxsimulation.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

std::unique_ptr<sandbox::TSandboxSimulation> Server(int scale)
{
    sandbox::ScenarioOptions options;
    options.scale = scale;
    return std::make_unique<sandbox::TSandboxSimulation>(options);
}

void BM_SandboxSnapshot(benchmark::State& state)
{
    const auto server = Server(static_cast<int>(state.range(0)));
    const std::string snapshot = SnapshotQuery();
    for (auto _ : state)
        benchmark::DoNotOptimize(server->ExecuteBatch(1, snapshot));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SandboxSnapshot)->Arg(1000)->Arg(10000)->Arg(32767)->Unit(benchmark::kMillisecond);

void BM_SandboxProbe(benchmark::State& state)
{
    const auto server = Server(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(server->ExecuteBatch(1, "SELECT 1"));
}
BENCHMARK(BM_SandboxProbe)->Arg(1000)->Arg(32767)->Unit(benchmark::kMicrosecond);

void BM_SandboxKillDatabase(benchmark::State& state)
{
    const std::string batch = KillDatabaseBatch("Sales");
    for (auto _ : state) {
        state.PauseTiming();
        const auto server = Server(static_cast<int>(state.range(0)));
        state.ResumeTiming();
        benchmark::DoNotOptimize(server->ExecuteBatch(1, batch));
    }
}
BENCHMARK(BM_SandboxKillDatabase)->Arg(1000)->Arg(32767)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
