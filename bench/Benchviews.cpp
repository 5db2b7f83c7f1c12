// The process views on the main thread at the size of the largest server: the sandbox
// with 32,767 processes monitored through a connection slot, the users, databases and
// all processes views stacked as the connection frame's tabs, shown offscreen and
// refilled on every refresh. Times are the main thread's CPU time (manual time): the
// monitor thread's fetch runs beside it and is not the window's.
//
//   Refresh: the hand-over (every snapshot row read and fed to the four aggregations),
//            every fill of all three views with their model resets, and one paint.
//   Click, scroll, tab switch: the user's action through to the repainted window.

#include "engine/Connectionslot.h"
#include "engine/Torvaneowner.h"
#include "engine/Torvanethread.h"
#include "sandbox/Sandboxserver.h"
#include "ui/Frameallprocesses.h"
#include "ui/Framesessionmonitor.h"
#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

constexpr int Processes = 32767;

double MainThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

class TViewsOwner : public TTorvaneOwner
{
public:
    void ShowMessageBox(const std::string& text, const std::string&) override { Error = text; }
    void RefreshSlotView(std::int32_t) override
    {
        ++Refreshes;
        if (Redraw)
            Redraw();
    }
    void SendDisconnectAlert(std::int32_t) override {}
    void SendCpuAlert(std::int32_t) override {}
    void SendResponseAlert(std::int32_t) override {}

    int Refreshes = 0;
    std::string Error;
    std::function<void()> Redraw;
};

// The sandbox, the slot and the three views, connected once for all benchmarks.
class TLargeServerWindow
{
public:
    TLargeServerWindow() : Server(sandbox::ScenarioOptions{1, Processes, {}, false})
    {
        if (!Server.Start())
            throw std::runtime_error("the sandbox server did not start: " + Server.LastError());
        Users = new TFrameSessionMonitor;
        Databases = new TFrameSessionMonitor;
        All = new TFrameAllProcesses;
        Users->SetupUsersMode();
        Databases->SetupDatabasesMode();
        Tabs = new QStackedWidget(&Window);
        Tabs->addWidget(Users);
        Tabs->addWidget(Databases);
        Tabs->addWidget(All);
        auto* layout = new QVBoxLayout(&Window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(Tabs);
        Window.resize(1280, 900);
        Window.show();

        std::optional<bool> connected;
        Slot.Connect(
            &Owner, 0, "127.0.0.1," + std::to_string(Server.Port()), false, "sa", "torvane",
            TConnectionSlot::MaxRefreshIntervalSeconds, [&](bool outcome) { connected = outcome; }, false);
        const QDeadlineTimer deadline(120000);
        while (!connected && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        if (!connected.value_or(false))
            throw std::runtime_error("cannot connect to the sandbox: " + Owner.Error);
        Users->BindConnection(&Slot);
        Databases->BindConnection(&Slot);
        All->BindConnection(&Slot);
        Owner.Redraw = [this] {
            const double start = MainThreadSeconds();
            Users->RefreshView(false);
            Databases->RefreshView(false);
            All->RefreshView(false);
            FillSeconds += MainThreadSeconds() - start;
        };
        Refresh();
        Refresh();
    }

    // One refresh, handed over and redrawn; a request the thread absorbs while it ends
    // the previous refresh is repeated.
    void Refresh()
    {
        // The wait sleeps in the event loop: the main thread's time is the hand-over's.
        const int before = Owner.Refreshes;
        const QDeadlineTimer deadline(120000);
        QTimer retry;
        retry.start(1000);
        QObject::connect(&retry, &QTimer::timeout, &retry, [this] { Slot.RequestRefresh(); });
        Slot.RequestRefresh();
        while (Owner.Refreshes == before && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        if (Owner.Refreshes == before)
            throw std::runtime_error("no refresh came");
    }

    // The queued paint events of the visible view, done now.
    void Paint() { Window.repaint(); }

    sandbox::TSandboxServer Server;
    TViewsOwner Owner;
    TConnectionSlot Slot;
    QWidget Window;
    QStackedWidget* Tabs;
    TFrameSessionMonitor* Users;
    TFrameSessionMonitor* Databases;
    TFrameAllProcesses* All;
    // Main-thread time spent refilling the views, summed over the refreshes.
    double FillSeconds = 0;
};

std::unique_ptr<TLargeServerWindow> LargeServer;

// Runs one action per iteration and reports its main-thread time.
template <typename Action> void TimeOnMainThread(benchmark::State& state, Action action)
{
    for (auto _ : state) {
        const double start = MainThreadSeconds();
        action();
        state.SetIterationTime(MainThreadSeconds() - start);
    }
}

void ClickRow(TGridPair& pair, int gridRow)
{
    QTableView* view = pair.Right();
    const QModelIndex index = view->model()->index(gridRow - 1, view->columnAt(0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}

void BM_Refresh(benchmark::State& state)
{
    TLargeServerWindow& large = *LargeServer;
    large.Tabs->setCurrentWidget(large.All);
    large.Paint();
    large.FillSeconds = 0;
    double paintSeconds = 0;
    double totalSeconds = 0;
    for (auto _ : state) {
        const double start = MainThreadSeconds();
        large.Refresh();
        const double painting = MainThreadSeconds();
        large.Paint();
        const double end = MainThreadSeconds();
        paintSeconds += end - painting;
        totalSeconds += end - start;
        state.SetIterationTime(end - start);
    }
    // The rest of the main thread's time is the hand-over: reading the snapshot's rows
    // and feeding the aggregations and the statistics.
    const auto perRefresh = [&](double seconds) {
        return seconds * 1000 / static_cast<double>(state.iterations());
    };
    state.counters["fills ms"] = perRefresh(large.FillSeconds);
    state.counters["paint ms"] = perRefresh(paintSeconds);
    state.counters["feed ms"] = perRefresh(totalSeconds - large.FillSeconds - paintSeconds);
    state.counters["processes"] = large.All->ProcessGrid()->RowCount() - 1;
    state.counters["users"] = large.Users->SummaryGrid()->RowCount() - 1;
}

// A click on another user: the user's processes are looked up among all of them.
void BM_ClickUser(benchmark::State& state)
{
    TLargeServerWindow& large = *LargeServer;
    large.Tabs->setCurrentWidget(large.Users);
    large.Paint();
    int row = 1;
    TimeOnMainThread(state, [&] {
        row = row == 1 ? 2 : 1;
        ClickRow(*large.Users->SummaryGridPair(), row);
        large.Paint();
    });
}

// A click on another process in the middle of the list: its threads are listed.
void BM_ClickProcess(benchmark::State& state)
{
    TLargeServerWindow& large = *LargeServer;
    large.Tabs->setCurrentWidget(large.All);
    QTableView* view = large.All->ProcessGridPair()->Right();
    view->verticalScrollBar()->setValue(view->model()->rowCount() / 2);
    large.Paint();
    const int top = view->rowAt(0) + 1;
    int row = top + 1;
    TimeOnMainThread(state, [&] {
        row = row == top + 1 ? top + 2 : top + 1;
        ClickRow(*large.All->ProcessGridPair(), row);
        large.Paint();
    });
}

// A page down or up in the process list.
void BM_Scroll(benchmark::State& state)
{
    TLargeServerWindow& large = *LargeServer;
    large.Tabs->setCurrentWidget(large.All);
    QScrollBar* bar = large.All->ProcessGridPair()->Right()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    large.Paint();
    bool down = true;
    TimeOnMainThread(state, [&] {
        bar->setValue(bar->value() + (down ? bar->pageStep() : -bar->pageStep()));
        down = !down;
        large.Paint();
    });
}

// Another tab: the view shows what the last refresh put there.
void BM_TabSwitch(benchmark::State& state)
{
    TLargeServerWindow& large = *LargeServer;
    int tab = 0;
    TimeOnMainThread(state, [&] {
        tab = (tab + 1) % large.Tabs->count();
        large.Tabs->setCurrentIndex(tab);
        large.Paint();
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    LargeServer = std::make_unique<TLargeServerWindow>();
    for (auto* benchmark : {benchmark::RegisterBenchmark("BM_Refresh/32767", BM_Refresh)->Iterations(8),
                            benchmark::RegisterBenchmark("BM_ClickUser/32767", BM_ClickUser),
                            benchmark::RegisterBenchmark("BM_ClickProcess/32767", BM_ClickProcess),
                            benchmark::RegisterBenchmark("BM_Scroll/32767", BM_Scroll),
                            benchmark::RegisterBenchmark("BM_TabSwitch/32767", BM_TabSwitch)})
        benchmark->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    LargeServer.reset();
    return 0;
}
