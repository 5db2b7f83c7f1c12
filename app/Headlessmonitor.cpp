#include "app/Headlessmonitor.h"

#include "engine/Commonfuncs.h"
#include "app/Headlesstables.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"
#include "engine/Torvaneserverperformance.h"
#include "settings/Torvanesettings.h"
#include "engine/Torvanethread.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

int ChosenInterval(const THeadlessOptions& options)
{
    if (options.IntervalSeconds)
        return *options.IntervalSeconds;
    return std::clamp(ReadRefreshInterval().value_or(TorvaneSettings::DefaultRefreshInterval), 1, 100);
}

std::optional<double> ParseDateTimeText(std::string_view text)
{
    return TextToDateTime(text);
}

std::string Now()
{
    return DateTimeToText(CurrentDateTime());
}

} // namespace

THeadlessMonitor::THeadlessMonitor(const THeadlessOptions& options)
    : Options(options), IntervalSeconds(ChosenInterval(options))
{
    ReconnectTimer.setInterval(IntervalSeconds * 1000);
    connect(&ReconnectTimer, &QTimer::timeout, this, [this] { TryReconnect(); });
}

THeadlessMonitor::~THeadlessMonitor()
{
    StopThread();
    if (ThreadFinished.valid()) {
        const TDbTimeouts timeouts = TDbTimeouts::FromEnvironment();
        ThreadFinished.wait_for(std::chrono::seconds(2 * timeouts.QuerySeconds + timeouts.LoginSeconds));
    }
}

bool THeadlessMonitor::Start()
{
    Thread = new TTorvaneThread;
    ThreadFinished = Thread->Finished();
    const TConnectionOptions& connection = Options.Connection;
    if (!Thread->ConnectToServer(this, 0, connection.Server.toStdString(), connection.WindowsAuthentication,
                                 connection.UserName.toStdString(), connection.Password.toStdString())) {
        StopThread();
        return false;
    }
    Databases = std::make_unique<TTorvaneProcessDatabases>(ParseDateTimeText);
    Users = std::make_unique<TTorvaneProcessUsers>(ParseDateTimeText);
    UserProcesses = std::make_unique<TTorvaneProcessUserProcesses>();
    Threads = std::make_unique<TTorvaneProcessThreads>();
    ServerPerformance = std::make_unique<TTorvaneServerPerformance>();
    ServerPerformance->SetServerName(connection.Server.toStdString());
    Thread->Databases = Databases.get();
    Thread->Users = Users.get();
    Thread->UserProcesses = UserProcesses.get();
    Thread->Threads = Threads.get();
    Thread->ServerPerformance = ServerPerformance.get();
    Thread->SetRefreshInterval(IntervalSeconds * 1000);
    Thread->RequestRefresh();
    return true;
}

void THeadlessMonitor::StopThread()
{
    ReconnectTimer.stop();
    if (Thread) {
        Thread->Stop();
        Thread->Wake();
        Thread = nullptr;
    }
}

void THeadlessMonitor::Finish(int exitCode)
{
    StopThread();
    QCoreApplication::exit(exitCode);
}

void THeadlessMonitor::ShowMessageBox(const std::string& text, const std::string&)
{
    std::cerr << text << std::endl;
}

void THeadlessMonitor::RefreshSlotView(std::int32_t)
{
    if (!Thread || Thread->Disconnected)
        return;
    PrintTable();
    ++RefreshCount;
    if (Options.Refreshes > 0 && RefreshCount >= Options.Refreshes)
        Finish(0);
}

void THeadlessMonitor::PrintTable() const
{
    switch (Options.Show) {
    case EHeadlessTable::None:
        return;
    case EHeadlessTable::Users:
        std::cout << UsersTable(*Users);
        break;
    case EHeadlessTable::Databases:
        std::cout << DatabasesTable(*Databases);
        break;
    case EHeadlessTable::Processes:
        std::cout << ProcessesTable(*UserProcesses);
        break;
    case EHeadlessTable::Stats:
        std::cout << StatsTable(*ServerPerformance);
        break;
    }
    std::cout << std::endl;
}

void THeadlessMonitor::SendDisconnectAlert(std::int32_t)
{
    std::cerr << "Disconnected " << Now() << std::endl;
    ReconnectTimer.start();
}

void THeadlessMonitor::SendCpuAlert(std::int32_t)
{
    std::cerr << "High CPU alert " << Now() << std::endl;
}

void THeadlessMonitor::SendResponseAlert(std::int32_t)
{
    std::cerr << "Slow response alert " << Now() << std::endl;
}

void THeadlessMonitor::TryReconnect()
{
    if (!Thread || !Thread->Reconnect())
        return;
    ReconnectTimer.stop();
    std::cerr << "Reconnected " << Now() << std::endl;
    Thread->RequestRefresh();
}

int RunHeadless(const QCommandLineParser& parser)
{
    QString error;
    const auto options = ReadHeadlessOptions(parser, error);
    if (!options) {
        std::cerr << error.toStdString() << std::endl;
        return 2;
    }
    // SIGINT and SIGTERM arrive as readable data on a descriptor, handled in the event
    // loop like any other event; blocked before the monitor thread exists, so no
    // thread takes them the default way.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalDescriptor = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalDescriptor < 0) {
        std::cerr << "Cannot watch for SIGINT and SIGTERM." << std::endl;
        return 1;
    }
    const std::unique_ptr<int, void (*)(int*)> closeSignals(new int(signalDescriptor), [](int* descriptor) {
        close(*descriptor);
        delete descriptor;
    });
    THeadlessMonitor monitor(*options);
    QSocketNotifier signalNotifier(signalDescriptor, QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &monitor, [&] {
        signalfd_siginfo info;
        while (read(signalDescriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        monitor.Finish(0);
    });
    if (!monitor.Start())
        return 1;
    return QCoreApplication::exec();
}
