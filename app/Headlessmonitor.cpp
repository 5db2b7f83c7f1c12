#include "app/Headlessmonitor.h"

#include "alerts/Emailalert.h"

#include "app/Headlesstables.h"
#include "app/Stopsignals.h"
#include "engine/Commonfuncs.h"
#include "engine/Torvanethread.h"
#include "model/Blockingchains.h"
#include "exporter/Metricsendpoint.h"
#include "exporter/Metricsexporter.h"
#include "settings/Torvanesettings.h"

#include <QCoreApplication>
#include <QDateTime>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace {

constexpr int MallocArenas = 2;

int ChosenInterval(const THeadlessOptions& options)
{
    if (options.IntervalSeconds)
        return *options.IntervalSeconds;
    return ReadRefreshInterval().value_or(TorvaneSettings::DefaultRefreshInterval);
}

std::string Now()
{
    return DateTimeToText(CurrentDateTime());
}

std::vector<std::string> ServerNames(const THeadlessOptions& options)
{
    std::vector<std::string> names;
    for (const TConnectionOptions& server : options.Servers)
        names.push_back(server.Server.toStdString());
    return names;
}

} // namespace

THeadlessMonitor::THeadlessMonitor(const THeadlessOptions& options)
    : Options(options), IntervalSeconds(TConnectionSlot::ClampRefreshInterval(ChosenInterval(options)))
{
    Servers.resize(Options.Servers.size());
    for (std::size_t i = 0; i < Servers.size(); ++i) {
        TServer& server = Servers[i];
        server.Connection = Options.Servers[i];
        server.ReconnectTimer = std::make_unique<QTimer>();
        server.ReconnectTimer->setInterval(IntervalSeconds * 1000);
        connect(server.ReconnectTimer.get(), &QTimer::timeout, this,
                [this, slotIndex = static_cast<int>(i)] { TryReconnect(slotIndex); });
    }
    // Both outcomes, so a script sees whether its alerts went out.
    const auto printLine = [](const QString& line) { std::cerr << line.toStdString() << std::endl; };
    connect(&Mailer, &TAlertMailer::MailSent, this, printLine);
    connect(&Mailer, &TAlertMailer::MailFailed, this, printLine);
    if (Options.MetricsListen)
        Metrics = std::make_shared<TMetricsExporter>(ServerNames(Options));
}

THeadlessMonitor::~THeadlessMonitor() = default;

bool THeadlessMonitor::Start()
{
    if (Options.MetricsListen) {
        try {
            MetricsEndpoint = std::make_unique<TMetricsEndpoint>(Options.MetricsListen->Host.toStdString(),
                                                                 Options.MetricsListen->Port, Metrics);
        } catch (const std::runtime_error& error) {
            std::cerr << error.what() << std::endl;
            return false;
        }
        std::cerr << "Serving metrics at " << MetricsEndpoint->Url() << std::endl;
        if (MetricsEndpoint->EveryInterface())
            std::cerr << "Warning: the metrics are served on every network interface of this machine, to "
                         "anyone who can reach it, without authentication."
                      << std::endl;
    }
    // The servers are logged on to a fraction of the interval apart, so that their
    // refreshes, and the snapshots held in memory during them, are spread over the
    // interval instead of all coming at once.
    const int stepMs = IntervalSeconds * 1000 / static_cast<int>(Servers.size());
    for (int i = 0; i < static_cast<int>(Servers.size()); ++i) {
        QTimer::singleShot(i * stepMs, this, [this, i] {
            if (!Finishing)
                Connect(i);
        });
    }
    return true;
}

void THeadlessMonitor::Connect(int slotIndex)
{
    TServer& server = Servers[static_cast<std::size_t>(slotIndex)];
    const TConnectionOptions& connection = server.Connection;
    server.Slot = std::make_unique<TConnectionSlot>();
    server.Slot->Connect(this, slotIndex, connection.Server.toStdString(), connection.WindowsAuthentication,
                         connection.UserName.toStdString(), connection.Password.toStdString(),
                         IntervalSeconds,
                         [this, slotIndex](bool connected) { LogonEnded(slotIndex, connected); });
}

void THeadlessMonitor::LogonEnded(int slotIndex, bool connected)
{
    TServer& server = Servers[static_cast<std::size_t>(slotIndex)];
    const std::string message = std::exchange(PendingMessage, {});
    const bool retried = server.FirstTryEnded;
    server.FirstTryEnded = true;
    if (Finishing)
        return;
    if (connected) {
        if (retried)
            std::cerr << Label(slotIndex) << "Connected " << Now() << std::endl;
        server.LoggedOn = true;
        server.LastLogonError.clear();
        server.ReconnectTimer->stop();
        return;
    }
    if (message != server.LastLogonError) {
        std::cerr << Label(slotIndex) << message << std::endl;
        server.LastLogonError = message;
    }
    const bool anyLoggedOn =
        std::any_of(Servers.begin(), Servers.end(), [](const TServer& s) { return s.LoggedOn; });
    const bool allTried =
        std::all_of(Servers.begin(), Servers.end(), [](const TServer& s) { return s.FirstTryEnded; });
    if (!anyLoggedOn && allTried) {
        Finish(1);
        return;
    }
    server.ReconnectTimer->start();
    FinishWhenRefreshesDone();
}

void THeadlessMonitor::Finish(int exitCode)
{
    if (Finishing)
        return;
    Finishing = true;
    for (TServer& server : Servers) {
        server.ReconnectTimer->stop();
        if (server.Slot)
            server.Slot->Stop();
    }
    WaitForThreadThenExit(exitCode, 0);
}

// Waits in the event loop, so a second signal still ends the program at once.
void THeadlessMonitor::WaitForThreadThenExit(int exitCode, int waitedMs)
{
    constexpr int StepMs = 20;
    if ((!ThreadStillRunning() && Mailer.Pending() == 0) || waitedMs >= FinishWaitMs) {
        if (Mailer.Pending() > 0)
            std::cerr << Mailer.Pending() << " alert mail(s) not sent: the monitor stopped first"
                      << std::endl;
        QCoreApplication::exit(exitCode);
        return;
    }
    QTimer::singleShot(StepMs, this,
                       [this, exitCode, waitedMs] { WaitForThreadThenExit(exitCode, waitedMs + StepMs); });
}

bool THeadlessMonitor::ThreadStillRunning() const
{
    return std::any_of(Servers.begin(), Servers.end(), [](const TServer& server) {
        return server.Slot && !server.Slot->WaitUntilFinished(std::chrono::milliseconds(0));
    });
}

// Only a failed logon shows a message; the server it belongs to is known when the
// slot reports the outcome right after.
void THeadlessMonitor::ShowMessageBox(const std::string& text, const std::string&)
{
    PendingMessage = text;
}

void THeadlessMonitor::RefreshSlotView(std::int32_t slotIndex)
{
    TServer& server = Servers[static_cast<std::size_t>(slotIndex)];
    if (Finishing || !server.Slot->InUse())
        return;
    if (server.Slot->Thread()->Disconnected) {
        if (Metrics)
            Metrics->SetDisconnected(static_cast<std::size_t>(slotIndex));
        return;
    }
    if (Metrics)
        Metrics->Update(static_cast<std::size_t>(slotIndex),
                        ReadServerFigures(*server.Slot, QDateTime::currentSecsSinceEpoch()));
    PrintTable(server);
    ++server.Refreshes;
    FinishWhenRefreshesDone();
}

// A server that has never been logged on to does not hold the end back.
void THeadlessMonitor::FinishWhenRefreshesDone()
{
    if (Options.Refreshes <= 0)
        return;
    bool neverLoggedOn = false;
    for (const TServer& server : Servers) {
        if (server.FirstTryEnded && !server.LoggedOn)
            neverLoggedOn = true;
        else if (server.Refreshes < Options.Refreshes)
            return;
    }
    Finish(neverLoggedOn ? 1 : 0);
}

void THeadlessMonitor::PrintTable(const TServer& server) const
{
    if (Options.Show == EHeadlessTable::None)
        return;
    const std::string filter = Options.Filter.toStdString();
    if (Servers.size() > 1)
        std::cout << '[' << server.Connection.Server.toStdString() << ']' << '\n';
    switch (Options.Show) {
    case EHeadlessTable::None:
        return;
    case EHeadlessTable::Users:
        std::cout << UsersTable(*server.Slot->Users(), filter);
        break;
    case EHeadlessTable::Databases:
        std::cout << DatabasesTable(*server.Slot->Databases(), filter);
        break;
    case EHeadlessTable::Processes:
        std::cout << ProcessesTable(*server.Slot->UserProcesses(), filter);
        break;
    case EHeadlessTable::Blocking: {
        TBlockingChains chains;
        chains.Build(*server.Slot->UserProcesses(), server.Slot->Threads());
        std::cout << BlockingTable(chains);
        break;
    }
    case EHeadlessTable::Stats:
        std::cout << StatsTable(*server.Slot->ServerPerformance());
        break;
    }
    std::cout << std::endl;
}

std::string THeadlessMonitor::Label(int slotIndex) const
{
    if (Servers.size() < 2)
        return {};
    return '[' + Servers[static_cast<std::size_t>(slotIndex)].Connection.Server.toStdString() + "] ";
}

void THeadlessMonitor::SendDisconnectAlert(std::int32_t slotIndex)
{
    std::cerr << Label(slotIndex) << "Disconnected " << Now() << std::endl;
    Servers[static_cast<std::size_t>(slotIndex)].ReconnectTimer->start();
    SendAlert(slotIndex, &TEmailAlert::SendDisconnectEmail);
}

void THeadlessMonitor::SendCpuAlert(std::int32_t slotIndex)
{
    std::cerr << Label(slotIndex) << "High CPU alert " << Now() << std::endl;
    SendAlert(slotIndex, &TEmailAlert::SendHighCpuEmail);
}

void THeadlessMonitor::SendResponseAlert(std::int32_t slotIndex)
{
    std::cerr << Label(slotIndex) << "Slow response alert " << Now() << std::endl;
    SendAlert(slotIndex, &TEmailAlert::SendSlowResponseEmail);
}

// The mail goes out on the mailer's thread; the alert object only writes it.
void THeadlessMonitor::SendAlert(std::int32_t slotIndex, void (TEmailAlert::*send)(TAlertMailer&) const)
{
    const TConnectionSlot* slot = Servers[static_cast<std::size_t>(slotIndex)].Slot.get();
    if (!slot || !slot->UserProcesses() || !slot->ServerPerformance())
        return;
    const TEmailAlert alert(*slot->UserProcesses(), *slot->ServerPerformance(), slot->ServerName());
    (alert.*send)(Mailer);
}

void THeadlessMonitor::TryReconnect(int slotIndex)
{
    TServer& server = Servers[static_cast<std::size_t>(slotIndex)];
    if (!server.LoggedOn) {
        // The first logon failed: a new slot tries again, unless the last try still runs.
        if (!server.Slot->Connecting())
            Connect(slotIndex);
        return;
    }
    server.Slot->Reconnect([this, slotIndex](bool reconnected) {
        if (!reconnected || Finishing)
            return;
        Servers[static_cast<std::size_t>(slotIndex)].ReconnectTimer->stop();
        std::cerr << Label(slotIndex) << "Reconnected " << Now() << std::endl;
    });
}

int RunHeadless(const QCommandLineParser& parser)
{
    QString error;
    const auto options = ReadHeadlessOptions(parser, QCoreApplication::arguments(), error);
    if (!options) {
        std::cerr << error.toStdString() << std::endl;
        return 2;
    }
    return RunHeadlessMonitor(*options);
}

int RunHeadlessMonitor(const THeadlessOptions& options)
{
    // Every monitor thread would otherwise get a malloc arena of its own, which keeps
    // the room of the largest snapshot it ever fetched: with 25 servers that is more
    // memory than the monitor's own tables. Set before any thread exists.
    mallopt(M_ARENA_MAX, MallocArenas);
    THeadlessMonitor monitor(options);
    const TStopSignals signals([&monitor] { monitor.Finish(0); });
    if (!signals.Watching()) {
        std::cerr << "Cannot watch for SIGINT and SIGTERM." << std::endl;
        return 1;
    }
    if (!monitor.Start())
        return 1;
    const int exitCode = QCoreApplication::exec();
    if (monitor.ThreadStillRunning())
        AbandonThreadsAndExit(exitCode);
    return exitCode;
}
