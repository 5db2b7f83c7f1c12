#pragma once
// The headless monitor: one server watched by the same engine as the window, for
// servers reached over SSH and for scripts. It owns the slot's model objects, prints
// the chosen table after every refresh, announces a disconnect on standard error and
// tries Reconnect once per interval, since nobody is there to press the button.

#include "app/Commandline.h"
#include "engine/Torvaneowner.h"

#include <QObject>
#include <QTimer>

#include <future>
#include <memory>

class QCommandLineParser;
class TTorvaneProcessDatabases;
class TTorvaneProcessThreads;
class TTorvaneProcessUserProcesses;
class TTorvaneProcessUsers;
class TTorvaneServerPerformance;
class TTorvaneThread;

class THeadlessMonitor : public QObject, public TTorvaneOwner
{
public:
    explicit THeadlessMonitor(const THeadlessOptions& options);
    // Stops the thread if it still runs and waits for it (at most the time a request
    // to a server that stopped answering can take) before the model objects go.
    ~THeadlessMonitor() override;

    // Connects and asks for the first refresh. False when the connection failed; the
    // error's message is then on standard error.
    bool Start();
    // Stops the monitor thread and leaves the event loop with the exit code.
    void Finish(int exitCode);

    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void RefreshSlotView(std::int32_t slotIndex) override;
    void SendDisconnectAlert(std::int32_t slotIndex) override;
    void SendCpuAlert(std::int32_t slotIndex) override;
    void SendResponseAlert(std::int32_t slotIndex) override;

private:
    void StopThread();
    void TryReconnect();
    void PrintTable() const;

    const THeadlessOptions Options;
    const int IntervalSeconds;
    std::unique_ptr<TTorvaneProcessDatabases> Databases;
    std::unique_ptr<TTorvaneProcessUsers> Users;
    std::unique_ptr<TTorvaneProcessUserProcesses> UserProcesses;
    std::unique_ptr<TTorvaneProcessThreads> Threads;
    std::unique_ptr<TTorvaneServerPerformance> ServerPerformance;
    TTorvaneThread* Thread = nullptr; // deletes itself after Stop and Wake
    std::shared_future<void> ThreadFinished;
    QTimer ReconnectTimer;
    int RefreshCount = 0;
};

// Runs the headless monitor from the parsed command line; returns the exit code
// (0 after the refreshes asked for or a stop by SIGINT or SIGTERM, 1 when the first
// connection fails, 2 for a bad command line).
int RunHeadless(const QCommandLineParser& parser);
