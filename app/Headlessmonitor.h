#pragma once
// The headless monitor: one server watched by the same engine as the window, for
// servers reached over SSH and for scripts. It owns the slot's model objects, prints
// the chosen table after every refresh, announces a disconnect on standard error and
// tries Reconnect once per interval, since nobody is there to press the button. It
// mails the same alerts as the window, and a mail that fails is reported on standard
// error.

#include "alerts/Alertmailer.h"
#include "app/Commandline.h"
#include "engine/Connectionslot.h"
#include "engine/Torvaneowner.h"

#include <QObject>
#include <QTimer>

class QCommandLineParser;
class TEmailAlert;

class THeadlessMonitor : public QObject, public TTorvaneOwner
{
public:
    explicit THeadlessMonitor(const THeadlessOptions& options);

    // Connects and asks for the first refresh, without waiting: the event loop ends
    // with 1 when the connection fails (the error's message is then on standard error).
    void Start();
    // Stops the monitor thread and leaves the event loop with the exit code once the
    // thread has ended and the alert mails are out, or after FinishWaitMs when the
    // thread is stuck inside the driver or a mail server keeps a mail waiting.
    void Finish(int exitCode);
    // The thread has not ended: the program must be left without waiting for it.
    bool ThreadStillRunning() const;

    static constexpr int FinishWaitMs = 1500;

    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void RefreshSlotView(std::int32_t slotIndex) override;
    void SendDisconnectAlert(std::int32_t slotIndex) override;
    void SendCpuAlert(std::int32_t slotIndex) override;
    void SendResponseAlert(std::int32_t slotIndex) override;

private:
    void TryReconnect();
    void PrintTable() const;
    void WaitForThreadThenExit(int exitCode, int waitedMs);
    void SendAlert(void (TEmailAlert::*send)(TAlertMailer&) const);

    const THeadlessOptions Options;
    const int IntervalSeconds;
    TAlertMailer Mailer;
    TConnectionSlot Slot;
    QTimer ReconnectTimer;
    int RefreshCount = 0;
    bool Finishing = false;
};

// Runs the headless monitor from the parsed command line; returns the exit code
// (0 after the refreshes asked for or a stop by SIGINT or SIGTERM, 1 when the first
// connection fails, 2 for a bad command line). A second signal ends it at once.
int RunHeadless(const QCommandLineParser& parser);
// The same with options already read.
int RunHeadlessMonitor(const THeadlessOptions& options);
