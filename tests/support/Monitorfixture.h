#pragma once
// One monitored server as the main window keeps it: a monitor thread, a recording
// owner and the slot's five model objects, connected in the main window's order. The
// thread is stopped and waited for when the fixture goes, before the models.

#include "tests/support/Recordingowner.h"

#include <future>
#include <memory>
#include <string>

class TTorvaneProcessDatabases;
class TTorvaneProcessThreads;
class TTorvaneProcessUserProcesses;
class TTorvaneProcessUsers;
class TTorvaneServerPerformance;
class TTorvaneThread;

class TMonitorFixture
{
public:
    static constexpr int Slot = 3;

    TMonitorFixture();
    ~TMonitorFixture();
    TMonitorFixture(const TMonitorFixture&) = delete;
    TMonitorFixture& operator=(const TMonitorFixture&) = delete;

    // ConnectToServer, then on success the models, the timer interval and, unless
    // told not to, the first refresh. On failure the thread is stopped as the main
    // window does.
    bool Connect(const std::string& serverName, bool windowsAuthentication, const std::string& userName,
                 const std::string& password, int intervalMs = 100000, bool firstRefresh = true);

    // Stop and Wake, as the main window does on destruction; the thread is gone after.
    void Stop();
    // Stop, then destroy the models at once, as the main window does.
    void StopAndDestroyModels();
    // True when the thread function has returned within the time.
    bool WaitUntilFinished(int milliseconds) const;

    TTorvaneThread* Thread() const { return FThread; }
    int Refreshes() const { return Owner.Count("RefreshSlotView"); }

    TRecordingOwner Owner;
    std::unique_ptr<TTorvaneProcessDatabases> Databases;
    std::unique_ptr<TTorvaneProcessUsers> Users;
    std::unique_ptr<TTorvaneProcessUserProcesses> UserProcesses;
    std::unique_ptr<TTorvaneProcessThreads> Threads;
    std::unique_ptr<TTorvaneServerPerformance> ServerPerformance;

private:
    TTorvaneThread* FThread;
    std::shared_future<void> FFinished;
};
