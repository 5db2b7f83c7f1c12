// A refresh end to end, against the sandbox server running as a program of its own, so
// this process's CPU time is the client's alone:
//
// - a later refresh of a monitored server (from the probe's sending until the model
//   holds the snapshot and the hand-over returns) against a bare ODBC program fetching
//   the same snapshot text through the same driver with the same packet size, its texts
//   bound as narrow and as wide characters, in rounds that rotate which goes first, at
//   1,000, 10,000 and 32,767 processes: wall and client CPU time of each, their medians,
//   and the ratios to the faster bare fetch (the floor);
// - the main thread's CPU time per refresh of a 2,000- and a 32,767-process server, and
//   that of the program's first refresh (one sample), which fills empty tables;
// - the main thread's and the whole client's CPU time for a server's first refresh, in
//   a program that has refreshed before (a fresh monitor per sample), against the
//   client's CPU time for that server's later refreshes;
// - the peak memory of a program monitoring one server of 32,767 processes, and one
//   monitoring 25 servers of 2,000 (each measured in a fresh run of this program).

#include "bench/Bareodbcfetch.h"
#include "bench/Benchmonitor.h"
#include "bench/Benchsandboxprocess.h"
#include "engine/Torvanesnapshot.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int MemoryRefreshes = 5;

double CpuMs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double WallMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double MinorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_minflt);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct TSamples
{
    std::vector<double> Wall;
    std::vector<double> Cpu;        // the whole process: the client's own work
    std::vector<double> MainThread; // of it, the main thread's (the hand-over)
    std::vector<double> Faults;     // pages the process touched for the first time

    template <class Work> double Measure(Work work)
    {
        const double cpu = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        const double mainThread = CpuMs(CLOCK_THREAD_CPUTIME_ID);
        const double faults = MinorFaults();
        const double wall = WallMs();
        work();
        Faults.push_back(MinorFaults() - faults);
        Wall.push_back(WallMs() - wall);
        Cpu.push_back(CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpu);
        MainThread.push_back(CpuMs(CLOCK_THREAD_CPUTIME_ID) - mainThread);
        return Wall.back();
    }
};

void BM_LaterRefreshVsBareFetch(benchmark::State& state)
{
    const TSandboxProcess sandbox(static_cast<int>(state.range(0)));
    TBenchMonitor monitor;
    monitor.Connect(sandbox.ServerName());
    TBareOdbcFetch bare(sandbox.ServerName());
    // The first refresh builds the model; later ones are measured.
    monitor.RefreshAll();
    TBenchMonitor::Settle();
    monitor.RefreshAll();
    TBenchMonitor::Settle();
    long rows = bare.Fetch(ProcessSnapshotSql, SQL_C_WCHAR);
    bare.Fetch(ProcessSnapshotSql, SQL_C_CHAR);
    TSamples torvane;
    TSamples narrow;
    TSamples wide;
    int first = 0;
    for (auto _ : state) {
        double seconds = 0;
        const auto refresh = [&] {
            seconds = torvane.Measure([&] { monitor.RefreshAll(); }) / 1e3;
            TBenchMonitor::Settle();
        };
        const auto fetchNarrow = [&] {
            narrow.Measure([&] { rows = bare.Fetch(ProcessSnapshotSql, SQL_C_CHAR); });
        };
        const auto fetchWide = [&] {
            wide.Measure([&] { rows = bare.Fetch(ProcessSnapshotSql, SQL_C_WCHAR); });
        };
        const std::function<void()> order[] = {refresh, fetchNarrow, fetchWide};
        for (int i = 0; i < 3; ++i)
            order[(first + i) % 3]();
        first = (first + 1) % 3;
        state.SetIterationTime(seconds);
    }
    const double torvaneWall = Median(torvane.Wall), torvaneCpu = Median(torvane.Cpu);
    const bool wideFaster = Median(wide.Cpu) <= Median(narrow.Cpu);
    const TSamples& floor = wideFaster ? wide : narrow;
    const double bareWall = Median(floor.Wall), bareCpu = Median(floor.Cpu);
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["processes"] = monitor.Processes(0);
    state.counters["packet_size"] = bare.PacketSize();
    state.counters["torvane_wall_ms"] = torvaneWall;
    state.counters["torvane_cpu_ms"] = torvaneCpu;
    state.counters["torvane_main_thread_ms"] = Median(torvane.MainThread);
    state.counters["torvane_faults"] = Median(torvane.Faults);
    state.counters["bare_char_cpu_ms"] = Median(narrow.Cpu);
    state.counters["bare_wchar_cpu_ms"] = Median(wide.Cpu);
    state.counters["bare_floor_is_wchar"] = wideFaster;
    state.counters["bare_faults"] = Median(floor.Faults);
    state.counters["bare_wall_ms"] = bareWall;
    state.counters["bare_cpu_ms"] = bareCpu;
    state.counters["wall_ratio"] = torvaneWall / bareWall;
    state.counters["cpu_ratio"] = torvaneCpu / bareCpu;
}
BENCHMARK(BM_LaterRefreshVsBareFetch)
    ->Arg(1000)
    ->Iterations(41)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaterRefreshVsBareFetch)
    ->Arg(10000)
    ->Iterations(21)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaterRefreshVsBareFetch)
    ->Arg(32767)
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The main thread's share of a refresh: the hand-over that feeds the model, the
// statistics and the log (no view is drawn here).
void BM_MainThreadPerRefresh(benchmark::State& state)
{
    const TSandboxProcess sandbox(static_cast<int>(state.range(0)));
    TBenchMonitor monitor;
    monitor.Connect(sandbox.ServerName());
    // The first refresh fills empty tables: reported on its own (one sample).
    const double firstStart = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    monitor.RefreshAll();
    state.counters["first_refresh_main_thread_ms"] = CpuMs(CLOCK_THREAD_CPUTIME_ID) - firstStart;
    TBenchMonitor::Settle();
    std::vector<double> mainThread;
    for (auto _ : state) {
        const double cpu = CpuMs(CLOCK_THREAD_CPUTIME_ID);
        monitor.RefreshAll();
        mainThread.push_back(CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpu);
        TBenchMonitor::Settle();
        state.SetIterationTime(mainThread.back() / 1e3);
    }
    state.counters["main_thread_ms"] = Median(mainThread);
    state.counters["processes"] = monitor.Processes(0);
}
BENCHMARK(BM_MainThreadPerRefresh)->Arg(2000)->Arg(32767)->Iterations(41)->UseManualTime()->Unit(benchmark::kMillisecond);

// The main thread's share of a server's first refresh, which fills empty tables: a fresh
// monitor per sample, in a program that has refreshed before, so what is measured is the
// server's first refresh and not the program's first use of its code and locale.
void BM_MainThreadFirstRefresh(benchmark::State& state)
{
    const TSandboxProcess sandbox(static_cast<int>(state.range(0)));
    {
        TBenchMonitor warm;
        warm.Connect(sandbox.ServerName());
        warm.RefreshAll();
        TBenchMonitor::Settle();
    }
    std::vector<double> mainThread, firstCpu, laterCpu;
    for (auto _ : state) {
        TBenchMonitor monitor;
        monitor.Connect(sandbox.ServerName());
        TBenchMonitor::Settle();
        const double thread = CpuMs(CLOCK_THREAD_CPUTIME_ID);
        const double cpu = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        monitor.RefreshAll();
        firstCpu.push_back(CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpu);
        mainThread.push_back(CpuMs(CLOCK_THREAD_CPUTIME_ID) - thread);
        state.SetIterationTime(mainThread.back() / 1e3);
        TBenchMonitor::Settle();
        // Two later refreshes of the same server: the second is a later one as the
        // refresh benchmark measures it.
        for (int i = 0; i < 2; ++i) {
            const double later = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
            monitor.RefreshAll();
            if (i == 1)
                laterCpu.push_back(CpuMs(CLOCK_PROCESS_CPUTIME_ID) - later);
            TBenchMonitor::Settle();
        }
    }
    state.counters["main_thread_ms"] = Median(mainThread);
    state.counters["first_cpu_ms"] = Median(firstCpu);
    state.counters["later_cpu_ms"] = Median(laterCpu);
    state.counters["first_to_later_cpu"] = Median(firstCpu) / Median(laterCpu);
}
BENCHMARK(BM_MainThreadFirstRefresh)->Arg(2000)->Arg(32767)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

// A field of /proc/self/status in kB.
double StatusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(std::strlen(field)))
                .trimmed()
                .split(' ')
                .front()
                .toDouble();
    }
    return 0;
}

// In a fresh run of this program, so the peak is the monitor's alone: `servers`
// connections to one sandbox of `scale` processes, each refreshed a few times.
void BM_PeakMemory(benchmark::State& state)
{
    double peakMb = 0;
    for (auto _ : state) {
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        run.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--peak-memory"), QString::number(state.range(0)),
                   QString::number(state.range(1))});
        if (!run.waitForFinished(600000) || run.exitCode() != 0) {
            state.SkipWithError("the measuring run failed");
            return;
        }
        peakMb = run.readAllStandardOutput().trimmed().toDouble() / 1024;
        state.SetIterationTime(1);
    }
    state.counters["peak_rss_mb"] = peakMb;
}
BENCHMARK(BM_PeakMemory)
    ->Args({1, 32767})
    ->Args({25, 2000})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

int MeasurePeakMemory(int servers, int scale)
{
    try {
        const TSandboxProcess sandbox(scale);
        TBenchMonitor monitor;
        for (int i = 0; i < servers; ++i)
            monitor.Connect(sandbox.ServerName());
        for (int i = 0; i < MemoryRefreshes; ++i) {
            monitor.RefreshAll();
            TBenchMonitor::Settle();
        }
        std::cout << StatusKb("VmHWM:") << std::endl;
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 4 && std::string(argv[1]) == "--peak-memory")
        return MeasurePeakMemory(std::atoi(argv[2]), std::atoi(argv[3]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
