// The access layer through the real FreeTDS ODBC driver against the sandbox server over
// loopback: the snapshot of 1,000 to 32,767 processes fetched whole into a query's
// result, and read as the monitor thread reads it, with the probe for scale, in packets
// of the size the monitor asks for.

#include "engine/Dbaccess.h"
#include "engine/Packetsize.h"
#include "sandbox/Sandboxserver.h"
#include "engine/Torvanesnapshot.h"
#include "engine/Torvanethread.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

struct TServerAndConnection
{
    explicit TServerAndConnection(int scale)
        : Server(sandbox::ScenarioOptions{1, scale, {}, false})
    {
        if (!Server.Start())
            throw std::runtime_error("the sandbox server did not start: " + Server.LastError());
        Connection.SetConnectionString(TTorvaneThread::BuildConnectionString(
            "127.0.0.1," + std::to_string(Server.Port()), false, "sa", "torvane"));
        Connection.SetPacketSize(ChosenPacketSize());
        Connection.Open();
    }
    sandbox::TSandboxServer Server;
    TDbConnection Connection;
};

void BM_SnapshotFetch(benchmark::State& state)
{
    TServerAndConnection server(static_cast<int>(state.range(0)));
    TDbQuery snapshot(server.Connection);
    snapshot.SetCommandText(ProcessSnapshotSql);
    for (auto _ : state) {
        snapshot.Open();
        benchmark::DoNotOptimize(snapshot.RecordCount());
    }
    state.SetItemsProcessed(state.iterations() * snapshot.RecordCount());
}
BENCHMARK(BM_SnapshotFetch)->Arg(1000)->Arg(10000)->Arg(32767)->Unit(benchmark::kMillisecond);

// The monitor thread's read of the snapshot: streamed with bound columns into the
// compact snapshot the hand-over gives the model, the texts of its times made.
void BM_SnapshotRead(benchmark::State& state)
{
    TServerAndConnection server(static_cast<int>(state.range(0)));
    TProcessSnapshot snapshot;
    TDateTimeTexts texts;
    for (auto _ : state) {
        snapshot.Read(server.Connection, texts);
        benchmark::DoNotOptimize(snapshot.RowCount());
    }
    state.SetItemsProcessed(state.iterations() * snapshot.RowCount());
}
BENCHMARK(BM_SnapshotRead)->Arg(1000)->Arg(10000)->Arg(32767)->Unit(benchmark::kMillisecond);

void BM_Probe(benchmark::State& state)
{
    TServerAndConnection server(static_cast<int>(state.range(0)));
    TDbQuery probe(server.Connection);
    probe.SetCommandText("SELECT 1");
    for (auto _ : state) {
        probe.Open();
        benchmark::DoNotOptimize(probe.RecordCount());
    }
}
BENCHMARK(BM_Probe)->Arg(1000)->Arg(32767)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv); // the date-time texts use the locale
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
