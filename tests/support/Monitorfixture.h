#pragma once
// One monitored server as the main window keeps it: a connection slot with a recording
// owner. The thread is stopped and waited for when the fixture goes, before the models.

#include "tests/support/Recordingowner.h"

#include <future>
#include <memory>
#include <string>

class TConnectionSlot;
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

    // Connects through the slot and waits (running events) for the outcome. The
    // interval goes to the thread's timer as given, so tests may tick faster than the
    // slot's one-second minimum.
    bool Connect(const std::string& serverName, bool windowsAuthentication, const std::string& userName,
                 const std::string& password, int intervalMs = 100000, bool firstRefresh = true);

    // Stop and Wake, as the main window does on destruction.
    void Stop();
    // Stop, then destroy the models at once, as the main window does.
    void StopAndDestroyModels();
    // True when the thread function has returned within the time.
    bool WaitUntilFinished(int milliseconds) const;

    TTorvaneThread* Thread() const { return FThread; }
    TConnectionSlot& ConnectionSlot() const { return *FSlot; }
    int Refreshes() const { return Owner.Count("RefreshSlotView"); }

    TRecordingOwner Owner;
    TTorvaneProcessDatabases* Databases = nullptr;
    TTorvaneProcessUsers* Users = nullptr;
    TTorvaneProcessUserProcesses* UserProcesses = nullptr;
    TTorvaneProcessThreads* Threads = nullptr;
    TTorvaneServerPerformance* ServerPerformance = nullptr;

private:
    std::unique_ptr<TConnectionSlot> FSlot;
    TTorvaneThread* FThread = nullptr;
    std::shared_future<void> FFinished;
};
