#include "engine/Connectionslot.h"

#include "engine/Commonfuncs.h"
#include "engine/Dbaccess.h"
#include "engine/Dberror.h"
#include "engine/Mainthreadcall.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

// The command thread's queue. It outlives the slot while the command thread runs, and
// the command thread gives the monitor thread its last Wake, so the thread object (and
// its connection) stays until no command uses it any more.
struct TConnectionSlot::TCommandQueue
{
    struct TJob
    {
        TWork Work;
        std::function<void()> Done;
    };

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TJob> Jobs;
    bool Stopping = false;
};

namespace {

// Runs done on the main thread unless the slot that asked has gone by then.
void PostResult(const std::shared_ptr<bool>& alive, std::function<void()> done)
{
    PostToMainThread([alive, done = std::move(done)] {
        if (*alive)
            done();
    });
}

// A failed connection as a DBA reads it: the server as typed, then what went wrong.
std::string ConnectFailureText(const std::string& serverName, const EDbError& error, int loginSeconds)
{
    std::string what;
    switch (error.Failure) {
    case TDbFailure::NoAnswer:
        what = "no answer within " + std::to_string(loginSeconds) + " s";
        break;
    case TDbFailure::Refused:
        what =
            "the connection was refused (no SQL Server listens there, or there is no instance of that name)";
        break;
    case TDbFailure::UnknownHost:
        what = "the host name is not known (check the name and the DNS)";
        break;
    case TDbFailure::LoginFailed:
    case TDbFailure::Other:
        what = error.Message;
        break;
    }
    return "Could not connect to " + serverName + ": " + what;
}

} // namespace

int TConnectionSlot::ClampRefreshInterval(int seconds)
{
    return std::clamp(seconds, MinRefreshIntervalSeconds, MaxRefreshIntervalSeconds);
}

TConnectionSlot::TConnectionSlot() : Alive(std::make_shared<bool>(true)) {}

TConnectionSlot::~TConnectionSlot()
{
    *Alive = false;
    Stop();
}

void TConnectionSlot::CaptureError(std::string& error, std::string& source)
{
    try {
        throw;
    } catch (const EDbError& failure) {
        error = failure.Message;
        source = failure.Source;
    } catch (const std::exception& failure) {
        error = failure.what();
    } catch (...) {
        error = "Unknown error";
    }
}

void TConnectionSlot::Connect(TTorvaneOwner* owner, int slotIndex, const std::string& serverName,
                              bool useWindowsAuthentication, const std::string& userName,
                              const std::string& password, int refreshIntervalSeconds,
                              std::function<void(bool)> done, bool firstRefresh)
{
    MonitorThread = new TTorvaneThread;
    Finished = MonitorThread->Finished();
    Commands = std::make_shared<TCommandQueue>();
    ConnectPending = true;
    IntervalSeconds = ClampRefreshInterval(refreshIntervalSeconds);

    std::thread([queue = Commands, thread = MonitorThread] {
        for (;;) {
            TCommandQueue::TJob job;
            {
                std::unique_lock lock(queue->Lock);
                queue->Changed.wait(lock, [&] { return queue->Stopping || !queue->Jobs.empty(); });
                if (queue->Stopping)
                    break;
                job = std::move(queue->Jobs.front());
                queue->Jobs.pop_front();
            }
            job.Work(*thread);
            job.Done();
        }
        thread->Wake();
    }).detach();

    auto result = std::make_shared<TCommandResult<bool>>();
    Post(
        [=](TTorvaneThread& thread) {
            Capture(*result, [&] {
                try {
                    thread.OpenConnection(owner, slotIndex, serverName, useWindowsAuthentication, userName,
                                          password);
                } catch (const EDbError& error) {
                    throw EDbError(
                        ConnectFailureText(serverName, error, thread.Connection->Timeouts().LoginSeconds),
                        error.Source, error.Failure);
                }
                result->Value = true;
            });
        },
        [this, owner, serverName, firstRefresh, result, done = std::move(done)] {
            ConnectPending = false;
            if (Stopped) {
                done(false);
                return;
            }
            if (!result->Succeeded()) {
                Stop();
                owner->ShowMessageBox(result->Error, result->ErrorSource);
                done(false);
                return;
            }
            Server = serverName;
            MonitorThread->StartRefreshTimer();
            CreateModels();
            Connected = true;
            SetRefreshInterval(IntervalSeconds);
            if (firstRefresh)
                RequestRefresh();
            done(true);
        });
}

void TConnectionSlot::CreateModels()
{
    // The summaries compare their rows' last batch texts by value; the monitor thread
    // knows the values of the texts it made.
    const TDateTimeTextParser parse = MonitorThread->DateTimeTextParser();
    FDatabases = std::make_unique<TTorvaneProcessDatabases>(parse);
    FUsers = std::make_unique<TTorvaneProcessUsers>(parse);
    FUserProcesses = std::make_unique<TTorvaneProcessUserProcesses>();
    FThreads = std::make_unique<TTorvaneProcessThreads>();
    FServerPerformance = std::make_unique<TTorvaneServerPerformance>();
    FServerPerformance->SetServerName(Server);
    MonitorThread->Databases = FDatabases.get();
    MonitorThread->Users = FUsers.get();
    MonitorThread->UserProcesses = FUserProcesses.get();
    MonitorThread->Threads = FThreads.get();
    MonitorThread->ServerPerformance = FServerPerformance.get();
}

void TConnectionSlot::SetRefreshInterval(int seconds)
{
    IntervalSeconds = ClampRefreshInterval(seconds);
    if (Connected && !Stopped)
        MonitorThread->SetRefreshInterval(IntervalSeconds * 1000);
}

void TConnectionSlot::RequestRefresh()
{
    if (Connected && !Stopped)
        MonitorThread->RequestRefresh();
}

void TConnectionSlot::Reconnect(std::function<void(bool)> done)
{
    if (!Connected || Stopped || ReconnectPending)
        return;
    ReconnectPending = true;
    auto reopened = std::make_shared<bool>(false);
    Post([reopened](TTorvaneThread& thread) { *reopened = thread.ReopenConnection(); },
         [this, reopened, done = std::move(done)] {
             ReconnectPending = false;
             if (*reopened && !Stopped) {
                 MonitorThread->ResumeAfterReconnect();
                 MonitorThread->RequestRefresh();
             }
             done(*reopened && !Stopped);
         });
}

void TConnectionSlot::Post(TWork work, std::function<void()> done)
{
    if (!Commands || Stopped)
        return;
    {
        const std::lock_guard guard(Commands->Lock);
        Commands->Jobs.push_back({std::move(work), [alive = Alive, done = std::move(done)]() mutable {
                                      PostResult(alive, std::move(done));
                                  }});
    }
    Commands->Changed.notify_one();
}

void TConnectionSlot::Stop()
{
    if (!MonitorThread || Stopped)
        return;
    Stopped = true;
    MonitorThread->Stop();
    {
        // Requests not yet begun are dropped; the one under way ends with its time-out.
        const std::lock_guard guard(Commands->Lock);
        Commands->Stopping = true;
        Commands->Jobs.clear();
    }
    Commands->Changed.notify_one();
}

bool TConnectionSlot::WaitUntilFinished(std::chrono::milliseconds timeout) const
{
    return !Finished.valid() || Finished.wait_for(timeout) == std::future_status::ready;
}
