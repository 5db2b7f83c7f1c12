// The window's main-thread work for one refresh of the shown server: the hand-over
// (feed of the snapshot into the model objects, statistics) and the redraw of the view on
// screen with its fills, model resets and the paint of the visible rows, on each of the
// four tabs, against an in-process sandbox of 2,000 and of 32,767 processes. Every event
// the main thread handles between two refreshes is timed (processor time of the main
// thread), so what is reported is the main thread's whole share of a refresh; the
// server's time and the fetch on the monitor thread are not in it. "redraw ms" is the
// part spent refilling the views.
//
// And a user's actions in the window of the largest server, each through to the
// repainted window: a click on another user (its processes are looked up among all),
// a click on another process (its threads), a scroll of the process list, a tab switch
// (to a view already filled, and to one a refresh left to fill when shown).

#include "engine/Connectionslot.h"
#include "engine/Torvaneserverperformance.h"
#include "sandbox/Sandboxserver.h"
#include "ui/Formmain.h"
#include "ui/Frameallprocesses.h"
#include "ui/Frameconnection.h"
#include "ui/Framesessionmonitor.h"
#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"
#include "ui/Messagebox.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QWheelEvent>

#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <optional>

namespace {

// The main thread's processor time: on a machine shared with other work, the wall
// clock would also count the time the thread waits for a core.
qint64 MainThreadNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

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
        const qint64 start = MainThreadNanoseconds();
        const bool handled = QApplication::notify(receiver, event);
        BusyNanoseconds += MainThreadNanoseconds() - start;
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
        const qint64 start = MainThreadNanoseconds();
        TFormMain::RefreshSlotView(slotIndex);
        RedrawNanoseconds += MainThreadNanoseconds() - start;
        ++Refreshes;
    }
    int Refreshes = 0;
    qint64 RedrawNanoseconds = 0;
};

TTimedApplication* Application = nullptr;

void WaitFor(const std::function<bool()>& condition)
{
    const QDeadlineTimer deadline(std::chrono::minutes(2));
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

// The window connected to a sandbox of the given size, the first two refreshes done.
class TConnectedWindow
{
public:
    explicit TConnectedWindow(int processes) : Server(sandbox::ScenarioOptions{1, processes, {}, false})
    {
        if (!Server.Start(0))
            return;
        Window.SetLogonOnFirstActivation(false);
        Window.SetRefreshInterval(100); // refreshes come when the benchmark asks
        Window.resize(1280, 900);
        Window.show();
        std::optional<bool> connected;
        Window.ConnectServer(QStringLiteral("127.0.0.1,%1").arg(Server.Port()), false, QStringLiteral("sa"),
                             QStringLiteral("torvane"), [&](bool ok) { connected = ok; });
        WaitFor([&] { return connected.has_value() && (!*connected || Window.Refreshes >= 1); });
        Ready = connected.value_or(false) && Window.Refreshes >= 1;
        if (!Ready)
            return;
        // The second refresh has figures since the first (CPU, I/O): asked for at once,
        // not left to the timer.
        Refresh();
    }

    // One refresh of the shown server, asked for and waited for. A request that comes
    // while the monitor thread still finishes the previous refresh is taken as part of
    // that one, so it is repeated until a refresh comes.
    void Refresh()
    {
        const int before = Window.Refreshes;
        for (int attempt = 0; attempt < 100 && Window.Refreshes == before; ++attempt) {
            Slot()->RequestRefresh();
            const QDeadlineTimer deadline(std::chrono::seconds(2));
            WaitFor([&] { return Window.Refreshes > before || deadline.hasExpired(); });
        }
    }

    TConnectionSlot* Slot() const { return Window.Slot(Window.CurrentSlot()); }

    sandbox::TSandboxServer Server;
    TBenchWindow Window;
    bool Ready = false;
};

// One window per server size, shared by the benchmarks of that size: a sandbox of 32,767
// processes takes seconds to start and to connect, which would be most of the run.
std::map<int, std::unique_ptr<TConnectedWindow>> ConnectedWindows;

TConnectedWindow& ConnectedWindow(int processes, int tab)
{
    auto& connected = ConnectedWindows[processes];
    if (!connected)
        connected = std::make_unique<TConnectedWindow>(processes);
    connected->Window.FrameCurrentConnection->SelectTab(tab);
    QCoreApplication::processEvents();
    return *connected;
}

void RunWindowRefresh(benchmark::State& state, int tab)
{
    TConnectedWindow& connected = ConnectedWindow(static_cast<int>(state.range(0)), tab);
    if (!connected.Ready) {
        state.SkipWithError("no connection to the sandbox");
        return;
    }
    TBenchWindow& window = connected.Window;
    window.RedrawNanoseconds = 0;
    for (auto _ : state) {
        // Waiting on the monitor thread's fetch is idle time: only handled events count.
        Application->BusyNanoseconds = 0;
        connected.Refresh();
        // The paint the redraw asked for.
        QCoreApplication::processEvents();
        state.SetIterationTime(static_cast<double>(Application->BusyNanoseconds) / 1e9);
    }
    state.counters["processes"] = static_cast<double>(state.range(0));
    state.counters["redraw ms"] =
        static_cast<double>(window.RedrawNanoseconds) / 1e6 / static_cast<double>(state.iterations());
}

// Times one user action per iteration: the events it sends and every event it causes,
// the paint included.
// refreshFirst: a refresh of the server (not timed) before each action.
template <typename Action>
void RunWindowAction(benchmark::State& state, int tab, Action action, bool refreshFirst = false)
{
    TConnectedWindow& connected = ConnectedWindow(static_cast<int>(state.range(0)), tab);
    if (!connected.Ready) {
        state.SkipWithError("no connection to the sandbox");
        return;
    }
    QCoreApplication::processEvents();
    int iteration = 0;
    for (auto _ : state) {
        if (refreshFirst) {
            connected.Refresh();
            QCoreApplication::processEvents();
        }
        Application->BusyNanoseconds = 0;
        action(connected.Window, iteration++);
        QCoreApplication::processEvents();
        state.SetIterationTime(static_cast<double>(Application->BusyNanoseconds) / 1e9);
    }
}

void ClickRow(TGridPair& pair, int gridRow)
{
    QTableView* view = pair.Right();
    const QModelIndex index = view->model()->index(gridRow - 1, view->columnAt(0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}

void BM_MainThreadPerRefresh_Performance(benchmark::State& state)
{
    RunWindowRefresh(state, TFrameConnection::TabPerformance);
}

void BM_MainThreadPerRefresh_Users(benchmark::State& state)
{
    RunWindowRefresh(state, TFrameConnection::TabUsers);
}

void BM_MainThreadPerRefresh_Databases(benchmark::State& state)
{
    RunWindowRefresh(state, TFrameConnection::TabDatabases);
}

void BM_MainThreadPerRefresh_AllProcesses(benchmark::State& state)
{
    RunWindowRefresh(state, TFrameConnection::TabAllProcesses);
}

// Another user in the summary, alternately the first and the second.
void BM_ClickUser(benchmark::State& state)
{
    RunWindowAction(state, TFrameConnection::TabUsers, [](TBenchWindow& window, int iteration) {
        ClickRow(*window.FrameCurrentConnection->FrameSessionMonitorUsers->SummaryGridPair(),
                 1 + iteration % 2);
    });
}

// Another process in the middle of the list, alternately two neighbours.
void BM_ClickProcess(benchmark::State& state)
{
    RunWindowAction(state, TFrameConnection::TabAllProcesses, [](TBenchWindow& window, int iteration) {
        TGridPair& pair = *window.FrameCurrentConnection->FrameSessionAllProcesses->ProcessGridPair();
        if (iteration == 0)
            pair.Right()->verticalScrollBar()->setValue(pair.Model()->rowCount() / 2);
        ClickRow(pair, pair.Right()->rowAt(0) + 2 + iteration % 2);
    });
}

// Ten notches of the mouse wheel down the process list, then up again.
void BM_ScrollProcesses(benchmark::State& state)
{
    RunWindowAction(state, TFrameConnection::TabAllProcesses, [](TBenchWindow& window, int iteration) {
        QWidget* viewport =
            window.FrameCurrentConnection->FrameSessionAllProcesses->ProcessGridPair()->Right()->viewport();
        const QPointF position(viewport->width() / 2.0, viewport->height() / 2.0);
        QWheelEvent wheel(position, viewport->mapToGlobal(position), QPoint(),
                          QPoint(0, iteration % 2 ? 1200 : -1200), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(viewport, &wheel);
    });
}

// A click on the next tab: Users, Databases, All Processes, Performance, Users, ...
void ClickNextTab(TBenchWindow& window, int iteration)
{
    QLabel* tab = window.FrameCurrentConnection->TabLabels[static_cast<std::size_t>((iteration + 2) % 4)];
    QTest::mouseClick(tab, Qt::LeftButton, {}, tab->rect().center());
}

// Every view already filled from the latest refresh.
void BM_TabSwitch(benchmark::State& state)
{
    RunWindowAction(state, TFrameConnection::TabUsers, ClickNextTab);
}

// Right after a refresh: the view shown is filled as it appears.
void BM_TabSwitchAfterRefresh(benchmark::State& state)
{
    RunWindowAction(state, TFrameConnection::TabUsers, ClickNextTab, true);
}

} // namespace

// Every tab at 2,000 and 32,767 processes.
BENCHMARK(BM_MainThreadPerRefresh_Performance)
    ->Arg(2000)
    ->Arg(32767)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_MainThreadPerRefresh_Users)
    ->Arg(2000)
    ->Arg(32767)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_MainThreadPerRefresh_Databases)
    ->Arg(2000)
    ->Arg(32767)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_MainThreadPerRefresh_AllProcesses)
    ->Arg(2000)
    ->Arg(32767)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_ClickUser)->Arg(32767)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClickProcess)->Arg(32767)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollProcesses)->Arg(32767)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TabSwitch)->Arg(32767)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TabSwitchAfterRefresh)
    ->Arg(32767)
    ->Iterations(12)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TTimedApplication application(argc, argv);
    Application = &application;
    SetMessageAnswerer([](const TMessageRequest&) { return TMessageResult::Ok; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ConnectedWindows.clear();
    return 0;
}
