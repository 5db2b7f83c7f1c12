// The sandbox's wire side under a large server: a process snapshot of 1,000 to 32,767
// processes encoded as TDS tokens, and split into packets of the usual size.

#include "support/Monitorbatches.h"
#include "sandbox/Sandboxsimulation.h"
#include "sandbox/Tdspackets.h"
#include "sandbox/Tdsresponse.h"

#include <benchmark/benchmark.h>

namespace {

sandbox::BatchResult Snapshot(int scale)
{
    sandbox::ScenarioOptions options;
    options.scale = scale;
    sandbox::TSandboxSimulation server(options);
    return server.ExecuteBatch(1, SnapshotQuery());
}

void BM_TdsEncodeSnapshot(benchmark::State& state)
{
    const sandbox::BatchResult snapshot = Snapshot(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        const sandbox::Bytes tokens =
            sandbox::EncodeBatchResult(sandbox::TdsVersion::V7_4, sandbox::TTdsServerIdentity{}, snapshot);
        const sandbox::Bytes packets = sandbox::EncodePackets(sandbox::TdsPacketType::TabularResult, tokens,
                                                              sandbox::TdsDefaultPacketSize, 51);
        bytes = packets.size();
        benchmark::DoNotOptimize(packets.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_TdsEncodeSnapshot)->Arg(1000)->Arg(10000)->Arg(32767)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
