#include "exporter/Serverfigures.h"

#include "engine/Connectionslot.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"
#include "model/Fixedtext.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr int Newest = TTorvaneServerPerformance::HistoryLength - 1;
constexpr double MillisecondsPerSecond = 1000;

void ReadDatabases(const TTorvaneProcessDatabases& databases, TServerFigures& figures)
{
    std::vector<std::int32_t> kept(static_cast<std::size_t>(databases.Count()));
    std::iota(kept.begin(), kept.end(), 0);
    if (kept.size() > TServerFigures::MaxDatabases) {
        const auto busier = [&](std::int32_t a, std::int32_t b) {
            const DatabaseEntry& x = databases.Entry(a);
            const DatabaseEntry& y = databases.Entry(b);
            if (x.ProcessCount != y.ProcessCount)
                return x.ProcessCount > y.ProcessCount;
            if (x.Cpu != y.Cpu)
                return x.Cpu > y.Cpu;
            return a < b;
        };
        const auto cut = kept.begin() + static_cast<std::ptrdiff_t>(TServerFigures::MaxDatabases);
        std::nth_element(kept.begin(), cut, kept.end(), busier);
        figures.DroppedDatabases = static_cast<std::int32_t>(kept.end() - cut);
        kept.erase(cut, kept.end());
        std::sort(kept.begin(), kept.end()); // the summary's name order
    }
    figures.Databases.reserve(kept.size());
    for (const std::int32_t position : kept) {
        const DatabaseEntry& entry = databases.Entry(position);
        figures.Databases.push_back({std::string(FixedText(entry.DatabaseName)), entry.ProcessCount,
                                     static_cast<double>(entry.Cpu) / MillisecondsPerSecond,
                                     entry.PhysicalIo});
    }
}

} // namespace

TServerFigures ReadServerFigures(const TConnectionSlot& slot, std::int64_t nowUnixSeconds)
{
    TServerFigures figures;
    const TTorvaneServerPerformance& performance = *slot.ServerPerformance();
    const auto& history = performance.History();
    figures.ResponseSeconds =
        history[TTorvaneServerPerformance::SeriesResponse][Newest] / MillisecondsPerSecond;
    figures.Users = history[TTorvaneServerPerformance::SeriesUsers][Newest];
    figures.Sessions = history[TTorvaneServerPerformance::SeriesSessions][Newest];
    // The newest sample has a CPU figure only when it had a sample before it.
    if (performance.SampleValid()[Newest - 1])
        figures.CpuBusyRatio = history[TTorvaneServerPerformance::SeriesCpuBusy][Newest] / 100.0;
    const TTorvaneServerPerformance::TCounters counters = performance.Counters();
    figures.PacketsSent = counters.PacketsSent;
    figures.PacketsReceived = counters.PacketsReceived;
    figures.PacketErrors = counters.PacketErrors;
    figures.DiskReads = counters.DiskReads;
    figures.DiskWrites = counters.DiskWrites;
    figures.DiskErrors = counters.DiskErrors;

    const TTorvaneThread& thread = *slot.Thread();
    const double runningSeconds = std::abs(thread.ServerTime - thread.ServerStartTime) * 86400.0;
    figures.StartTimeSeconds = nowUnixSeconds - std::llround(runningSeconds);

    const TTorvaneProcessUserProcesses& processes = *slot.UserProcesses();
    for (std::int32_t i = 0; i < processes.Count(); ++i) {
        const ProcessEntry& entry = processes.Entry(i);
        ++figures.ProcessesByState[static_cast<std::size_t>(ProcessState(entry))];
        if (entry.Blocked > 0)
            ++figures.BlockedProcesses;
    }
    // Worker threads wait too: the longest wait is looked for among all of them.
    const TTorvaneProcessThreads& threads = *slot.Threads();
    std::int32_t longestWaitMs = 0;
    for (std::int32_t i = 0; i < threads.Count(); ++i)
        longestWaitMs = std::max(longestWaitMs, threads.Entry(i).WaitTime);
    figures.LongestWaitSeconds = longestWaitMs / MillisecondsPerSecond;

    ReadDatabases(*slot.Databases(), figures);
    return figures;
}
