// The window's main-thread work for one refresh of the shown server: the hand-over
// (feed of the snapshot into the model objects, statistics) and the redraw of every view
// with its fills, model resets and the paint of the visible rows, against an in-process
// sandbox of 1,000 to 32,767 processes. Every event the main thread handles between two
// refreshes is timed, so what is reported is the main thread's whole share of a refresh;
// the server's time and the fetch on the monitor thread are not in it.

#include "engine/Connectionslot.h"
#include "engine/Torvaneserverperformance.h"
#include "sandbox/Sandboxserver.h"
#include "ui/Formmain.h"
#include "ui/Frameconnection.h"
#include "ui/Messagebox.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <chrono>
#include <optional>

namespace {

// Times every event delivered on the main thread.
class TTimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (Depth++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --Depth;
            return handled;
        }
        QElapsedTimer timer;
        timer.start();
        const bool handled = QApplication::notify(receiver, event);
        BusyNanoseconds += timer.nsecsElapsed();
        --Depth;
        return handled;
    }

    qint64 BusyNanoseconds = 0;

private:
    int Depth = 0;
};

class TBenchWindow : public TFormMain
{
public:
    void RefreshSlotView(std::int32_t slotIndex) override
    {
        TFormMain::RefreshSlotView(slotIndex);
        ++Refreshes;
    }
    int Refreshes = 0;
};

TTimedApplication* Application = nullptr;

void WaitFor(const std::function<bool()>& condition)
{
    const QDeadlineTimer deadline(std::chrono::minutes(2));
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

void RunWindowRefresh(benchmark::State& state, int tab)
{
    sandbox::TSandboxServer server(sandbox::ScenarioOptions{1, static_cast<int>(state.range(0)), {}, false});
    if (!server.Start(0)) {
        state.SkipWithError("the sandbox did not start");
        return;
    }
    TBenchWindow window;
    window.SetLogonOnFirstActivation(false);
    window.SetRefreshInterval(100); // refreshes come when the benchmark asks
    window.show();
    window.FrameCurrentConnection->SelectTab(tab);
    std::optional<bool> connected;
    window.ConnectServer(QStringLiteral("127.0.0.1,%1").arg(server.Port()), false, QStringLiteral("sa"),
                         QStringLiteral("torvane"), [&](bool ok) { connected = ok; });
    WaitFor([&] { return connected.has_value() && (!*connected || window.Refreshes >= 2); });
    if (!connected.value_or(false) || window.Refreshes < 1) {
        state.SkipWithError("no connection to the sandbox");
        return;
    }
    TConnectionSlot* const slot = window.Slot(window.CurrentSlot());
    for (auto _ : state) {
        const int before = window.Refreshes;
        slot->RequestRefresh();
        // Waiting on the monitor thread's fetch is idle time: only handled events count.
        Application->BusyNanoseconds = 0;
        WaitFor([&] { return window.Refreshes > before; });
        // The paint the redraw asked for.
        QCoreApplication::processEvents();
        state.SetIterationTime(static_cast<double>(Application->BusyNanoseconds) / 1e9);
    }
    state.counters["processes"] = static_cast<double>(state.range(0));
}

void BM_MainThreadPerRefresh_Performance(benchmark::State& state)
{
    RunWindowRefresh(state, TFrameConnection::TabPerformance);
}

void BM_MainThreadPerRefresh_AllProcesses(benchmark::State& state)
{
    RunWindowRefresh(state, TFrameConnection::TabAllProcesses);
}

} // namespace

BENCHMARK(BM_MainThreadPerRefresh_Performance)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(10000)
    ->Arg(32767)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_MainThreadPerRefresh_AllProcesses)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(10000)
    ->Arg(32767)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TTimedApplication application(argc, argv);
    Application = &application;
    SetMessageAnswerer([](const TMessageRequest&) { return TMessageResult::Ok; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
