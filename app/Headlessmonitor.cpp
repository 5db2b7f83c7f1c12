#include "app/Headlessmonitor.h"

#include "alerts/Emailalert.h"
#include "app/Headlesstables.h"
#include "app/Stopsignals.h"
#include "engine/Commonfuncs.h"
#include "engine/Torvanethread.h"
#include "settings/Torvanesettings.h"

#include <QCoreApplication>

#include <chrono>
#include <iostream>

namespace {

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

} // namespace

THeadlessMonitor::THeadlessMonitor(const THeadlessOptions& options)
    : Options(options), IntervalSeconds(TConnectionSlot::ClampRefreshInterval(ChosenInterval(options)))
{
    ReconnectTimer.setInterval(IntervalSeconds * 1000);
    connect(&ReconnectTimer, &QTimer::timeout, this, [this] { TryReconnect(); });
    connect(&Mailer, &TAlertMailer::MailFailed, this,
            [](const QString& line) { std::cerr << line.toStdString() << std::endl; });
}

void THeadlessMonitor::Start()
{
    const TConnectionOptions& connection = Options.Connection;
    Slot.Connect(this, 0, connection.Server.toStdString(), connection.WindowsAuthentication,
                 connection.UserName.toStdString(), connection.Password.toStdString(), IntervalSeconds,
                 [this](bool connected) {
                     if (!connected)
                         Finish(1);
                 });
}

void THeadlessMonitor::Finish(int exitCode)
{
    if (Finishing)
        return;
    Finishing = true;
    ReconnectTimer.stop();
    Slot.Stop();
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
    return !Slot.WaitUntilFinished(std::chrono::milliseconds(0));
}

void THeadlessMonitor::ShowMessageBox(const std::string& text, const std::string&)
{
    std::cerr << text << std::endl;
}

void THeadlessMonitor::RefreshSlotView(std::int32_t)
{
    if (Finishing || !Slot.InUse() || Slot.Thread()->Disconnected)
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
        std::cout << UsersTable(*Slot.Users());
        break;
    case EHeadlessTable::Databases:
        std::cout << DatabasesTable(*Slot.Databases());
        break;
    case EHeadlessTable::Processes:
        std::cout << ProcessesTable(*Slot.UserProcesses());
        break;
    case EHeadlessTable::Stats:
        std::cout << StatsTable(*Slot.ServerPerformance());
        break;
    }
    std::cout << std::endl;
}

void THeadlessMonitor::SendDisconnectAlert(std::int32_t)
{
    std::cerr << "Disconnected " << Now() << std::endl;
    ReconnectTimer.start();
    SendAlert(&TEmailAlert::SendDisconnectEmail);
}

void THeadlessMonitor::SendCpuAlert(std::int32_t)
{
    std::cerr << "High CPU alert " << Now() << std::endl;
    SendAlert(&TEmailAlert::SendHighCpuEmail);
}

void THeadlessMonitor::SendResponseAlert(std::int32_t)
{
    std::cerr << "Slow response alert " << Now() << std::endl;
    SendAlert(&TEmailAlert::SendSlowResponseEmail);
}

// The mail goes out on the mailer's thread; the alert object only writes it.
void THeadlessMonitor::SendAlert(void (TEmailAlert::*send)(TAlertMailer&) const)
{
    if (!Slot.UserProcesses() || !Slot.ServerPerformance())
        return;
    const TEmailAlert alert(*Slot.UserProcesses(), *Slot.ServerPerformance(), Slot.ServerName());
    (alert.*send)(Mailer);
}

void THeadlessMonitor::TryReconnect()
{
    Slot.Reconnect([this](bool reconnected) {
        if (!reconnected || Finishing)
            return;
        ReconnectTimer.stop();
        std::cerr << "Reconnected " << Now() << std::endl;
    });
}

int RunHeadless(const QCommandLineParser& parser)
{
    QString error;
    const auto options = ReadHeadlessOptions(parser, error);
    if (!options) {
        std::cerr << error.toStdString() << std::endl;
        return 2;
    }
    return RunHeadlessMonitor(*options);
}

int RunHeadlessMonitor(const THeadlessOptions& options)
{
    THeadlessMonitor monitor(options);
    const TStopSignals signals([&monitor] { monitor.Finish(0); });
    if (!signals.Watching()) {
        std::cerr << "Cannot watch for SIGINT and SIGTERM." << std::endl;
        return 1;
    }
    monitor.Start();
    const int exitCode = QCoreApplication::exec();
    if (monitor.ThreadStillRunning())
        AbandonThreadsAndExit(exitCode);
    return exitCode;
}
