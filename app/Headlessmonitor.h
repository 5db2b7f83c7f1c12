#pragma once
// The headless monitor: up to 25 servers watched by the same engine as the window, for
// servers reached over SSH, for scripts and as a service feeding Prometheus. Each
// server has its own connection slot; the monitor prints the chosen table after every
// refresh (headed by the server's name when there are several), announces a
// disconnect on standard error and tries Reconnect once per interval, since nobody is
// there to press the button. With --metrics-listen it serves every server's figures.
// It mails the same alerts as the window, and says on standard error of every alert
// mail whether it was sent.

#include "alerts/Alertmailer.h"
#include "app/Commandline.h"
#include "engine/Connectionslot.h"
#include "engine/Torvaneowner.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class QCommandLineParser;
class TEmailAlert;
class TMetricsEndpoint;
class TMetricsExporter;

class THeadlessMonitor : public QObject, public TTorvaneOwner
{
public:
    explicit THeadlessMonitor(const THeadlessOptions& options);
    ~THeadlessMonitor() override;

    // Starts serving metrics when asked for (false, with the error on standard error,
    // when it cannot), then connects every server and asks for the first refreshes,
    // without waiting. The event loop ends with 1 when no server could be logged on to
    // (each error is then on standard error); a server that fails while another is
    // monitored is tried again once per interval.
    bool Start();
    // Stops the monitor threads and leaves the event loop with the exit code once they
    // have ended, or after FinishWaitMs when one is stuck inside the driver.
    void Finish(int exitCode);
    // A thread has not ended: the program must be left without waiting for it.
    bool ThreadStillRunning() const;

    static constexpr int FinishWaitMs = 1500;

    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void RefreshSlotView(std::int32_t slotIndex) override;
    void SendDisconnectAlert(std::int32_t slotIndex) override;
    void SendCpuAlert(std::int32_t slotIndex) override;
    void SendResponseAlert(std::int32_t slotIndex) override;

private:
    // One monitored server. A slot whose first logon failed is replaced by a new one
    // for the next try.
    struct TServer
    {
        TConnectionOptions Connection;
        std::unique_ptr<TConnectionSlot> Slot;
        std::unique_ptr<QTimer> ReconnectTimer;
        int Refreshes = 0;
        bool LoggedOn = false;      // at least once
        bool FirstTryEnded = false; // the first logon has succeeded or failed
        std::string LastLogonError; // not repeated while it stays the same
    };

    void Connect(int slotIndex);
    void LogonEnded(int slotIndex, bool connected);
    void TryReconnect(int slotIndex);
    void PrintTable(const TServer& server) const;
    // "[NAME] " before the lines about one server when there are several.
    std::string Label(int slotIndex) const;
    void FinishWhenRefreshesDone();
    void WaitForThreadThenExit(int exitCode, int waitedMs);
    void SendAlert(std::int32_t slotIndex, void (TEmailAlert::*send)(TAlertMailer&) const);

    const THeadlessOptions Options;
    const int IntervalSeconds;
    TAlertMailer Mailer;
    std::vector<TServer> Servers;
    std::string PendingMessage; // the logon error ShowMessageBox was just given
    std::shared_ptr<TMetricsExporter> Metrics;
    std::unique_ptr<TMetricsEndpoint> MetricsEndpoint;
    bool Finishing = false;
};

// Runs the headless monitor from the parsed command line; returns the exit code
// (0 after the refreshes asked for or a stop by SIGINT or SIGTERM, 1 when no server
// could be logged on to or a server never was by the end of the refreshes, or the
// metrics cannot be served, 2 for a bad command line). A second signal ends it at once.
int RunHeadless(const QCommandLineParser& parser);
// The same with options already read.
int RunHeadlessMonitor(const THeadlessOptions& options);
