#pragma once
// One monitored server, as every owner of monitor threads keeps it (the main window's
// 25 slots, the headless monitor, the one-shot commands, the tests): the monitor
// thread, the five model objects in their order (databases, users, user processes,
// threads, server statistics) linked to it, the refresh interval, and a command
// thread that carries everything else the owner asks of the server (connecting,
// reconnecting, statement texts, kills) so the main thread never waits on a server.
//
// Lifetime: Stop asks the monitor thread to end and lets the command thread finish
// its current request; the monitor thread object goes once both are done. Results of
// commands reach the main thread as queued calls and are dropped once the slot is gone.
// A thread still blocked inside the driver when the program ends is abandoned, never
// awaited (see WaitUntilFinished).

#include "engine/Torvaneowner.h"

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

class TTorvaneProcessDatabases;
class TTorvaneProcessThreads;
class TTorvaneProcessUserProcesses;
class TTorvaneProcessUsers;
class TTorvaneServerPerformance;
class TTorvaneThread;

// What a command run on the command thread gave: its value, or the error it raised
// (a database error's message and source, or any other failure's text).
template <typename T> struct TCommandResult
{
    std::optional<T> Value;
    std::string Error;
    std::string ErrorSource;
    bool Succeeded() const { return Value.has_value(); }
};

class TConnectionSlot
{
public:
    // Servers one program monitors at once: the window's slots, the headless monitor's.
    static constexpr int MaxSlots = 25;
    static constexpr int MinRefreshIntervalSeconds = 1;
    static constexpr int MaxRefreshIntervalSeconds = 100;
    // The one place the refresh interval is brought into its range.
    static int ClampRefreshInterval(int seconds);

    TConnectionSlot();
    ~TConnectionSlot();
    TConnectionSlot(const TConnectionSlot&) = delete;
    TConnectionSlot& operator=(const TConnectionSlot&) = delete;

    // Connects on the command thread; done runs on the main thread with the outcome.
    // On success the five model objects exist and are linked, the timer runs with the
    // interval and, unless told not to, the first refresh is requested. On failure
    // the owner was shown the error through ShowMessageBox ("Could not connect to
    // SERVER: " and what failed, in plain words where the driver's diagnostics say what
    // it was), the threads are stopped and the slot is free again. Stopped before the
    // outcome, the slot reports false and shows nothing. Call once per slot object.
    void Connect(TTorvaneOwner* owner, int slotIndex, const std::string& serverName,
                 bool useWindowsAuthentication, const std::string& userName, const std::string& password,
                 int refreshIntervalSeconds, std::function<void(bool)> done, bool firstRefresh = true);
    bool InUse() const { return Connected; }
    bool Connecting() const { return ConnectPending; }
    const std::string& ServerName() const { return Server; }
    TTorvaneThread* Thread() const { return MonitorThread; }
    TTorvaneProcessDatabases* Databases() const { return FDatabases.get(); }
    TTorvaneProcessUsers* Users() const { return FUsers.get(); }
    TTorvaneProcessUserProcesses* UserProcesses() const { return FUserProcesses.get(); }
    TTorvaneProcessThreads* Threads() const { return FThreads.get(); }
    TTorvaneServerPerformance* ServerPerformance() const { return FServerPerformance.get(); }

    void SetRefreshInterval(int seconds);
    int RefreshIntervalSeconds() const { return IntervalSeconds; }
    void RequestRefresh();

    // Reopens a lost connection on the command thread; done(true) on the main thread
    // once the timer runs again. A reconnect already under way is not started twice.
    void Reconnect(std::function<void(bool)> done);
    bool Reconnecting() const { return ReconnectPending; }

    // Runs work with the monitor thread (its connection) on the command thread, then
    // done with the result on the main thread, in the order they were asked for.
    template <typename T>
    void RunCommand(std::function<T(TTorvaneThread&)> work,
                    std::function<void(const TCommandResult<T>&)> done)
    {
        auto result = std::make_shared<TCommandResult<T>>();
        Post([work = std::move(work),
              result](TTorvaneThread& thread) { Capture(*result, [&] { result->Value = work(thread); }); },
             [done = std::move(done), result] { done(*result); });
    }

    // Asks both threads to end. The slot keeps its model objects until it goes.
    void Stop();
    // True when the monitor thread has ended within the time (after Stop).
    bool WaitUntilFinished(std::chrono::milliseconds timeout) const;

private:
    struct TCommandQueue;
    using TWork = std::function<void(TTorvaneThread&)>;

    template <typename T, typename F> static void Capture(TCommandResult<T>& result, F&& run)
    {
        try {
            run();
        } catch (...) {
            CaptureError(result.Error, result.ErrorSource);
        }
    }
    static void CaptureError(std::string& error, std::string& source);
    void Post(TWork work, std::function<void()> done);
    void CreateModels();

    TTorvaneThread* MonitorThread = nullptr; // deletes itself after Stop
    std::shared_future<void> Finished;
    std::shared_ptr<TCommandQueue> Commands;
    std::shared_ptr<bool> Alive; // main thread only: queued results check it
    std::string Server;
    int IntervalSeconds = MinRefreshIntervalSeconds;
    bool Connected = false;
    bool ConnectPending = false;
    bool ReconnectPending = false;
    bool Stopped = false;
    std::unique_ptr<TTorvaneProcessDatabases> FDatabases;
    std::unique_ptr<TTorvaneProcessUsers> FUsers;
    std::unique_ptr<TTorvaneProcessUserProcesses> FUserProcesses;
    std::unique_ptr<TTorvaneProcessThreads> FThreads;
    std::unique_ptr<TTorvaneServerPerformance> FServerPerformance;
};
