// The settings store reading hives: one key holding 1,000 to 20,000 values parsed from
// its .reg text, and the machine hive as every refresh of every server reads it, from a
// file that has not changed since it was last read.

#include "settings/Regfile.h"
#include "settings/Registry.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

namespace {

TRegistryHive HiveWithValues(int count)
{
    TRegistryHive hive(QStringLiteral("HKEY_LOCAL_MACHINE"));
    for (int i = 0; i < count; ++i)
        hive.SetValue(
            QStringLiteral("SOFTWARE\\Velquin\\Torvane"),
            TRegistryValue::FromString(QStringLiteral("Value%1").arg(i), QStringLiteral("text %1").arg(i)));
    return hive;
}

void BM_ReadRegFileOneKey(benchmark::State& state)
{
    const QByteArray text = WriteRegFile(HiveWithValues(static_cast<int>(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadRegFile(text, QStringLiteral("HKEY_LOCAL_MACHINE")));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadRegFileOneKey)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_ReadUnchangedMachineHive(benchmark::State& state)
{
    QTemporaryDir folder;
    TRegistryPaths paths;
    paths.MachineFile = folder.filePath(QStringLiteral("machine.reg"));
    paths.UserFile = folder.filePath(QStringLiteral("user.reg"));
    const bool saved = UpdateHive(TRegistryRoot::LocalMachine, paths, [&](TRegistryHive& hive) {
        hive = HiveWithValues(static_cast<int>(state.range(0)));
    });
    if (!saved)
        state.SkipWithError("the hive could not be saved");
    // A file whose times lie well behind the moment it is read is known by its stamp
    // alone, as the machine hive is between two changes of the settings.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    for (auto _ : state) {
        TRegistry registry(TRegistryRoot::LocalMachine, paths);
        benchmark::DoNotOptimize(registry.OpenKeyReadOnly(QStringLiteral("\\SOFTWARE\\Velquin\\Torvane")));
        benchmark::DoNotOptimize(registry.ReadInteger(QStringLiteral("Value7")));
    }
}
BENCHMARK(BM_ReadUnchangedMachineHive)->Arg(30)->Arg(20000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
