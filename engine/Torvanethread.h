#pragma once
// Members live in Torvanethread.cpp (the thread and refresh cycle) and
// Torvanethreadcommands.cpp (statement text, input buffer and kills).
//
// The monitor thread of one connected server. It owns the server connection, the
// snapshot and the refresh timer. The refresh timer (main thread) asks for a refresh;
// the monitor thread wakes, times the one-row probe, reads the whole snapshot and hands
// over to the main thread (Synchronize), where ProcessSnapshot feeds the aggregations,
// the statistics, the alerts and the views. Only the main thread touches the model
// objects, the timer and the owner.
//
// A database error in a refresh, on either thread, is a lost server: the disconnect path
// runs. Any other error is the program's own: it is reported on standard error, the
// step ends where it failed, and the server's state is left alone.
//
// Lifetime: construction starts the monitor thread, which waits for a wake-up. After
// Stop and Wake the thread function returns and the object deletes itself; its owner
// forgets it and never deletes it. Once Stop has been called the thread reaches no
// model object and no owner call again, even when the stop falls inside a refresh.

#include "engine/Autoresetevent.h"
#include "engine/Commonfuncs.h"
#include "engine/Datetimetexts.h"
#include "engine/Dbaccess.h"
#include "engine/Torvaneowner.h"
#include "engine/Torvanesnapshot.h"
#include "model/Torvaneprocesscategories.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>

class QTimer;
class TTorvaneProcessDatabases;
class TTorvaneProcessUsers;
class TTorvaneServerPerformance;

class TTorvaneThread
{
public:
    TTorvaneThread();
    TTorvaneThread(const TTorvaneThread&) = delete;
    TTorvaneThread& operator=(const TTorvaneThread&) = delete;

    // Opens the connection, checks what the server offers for statement texts, reads
    // the server's start time, prepares the snapshot and starts the refresh timer
    // (1000 ms; the owner sets its interval). On any database error the owner is shown
    // the error's message with its source as caption and false is returned; the caller
    // then calls Stop and Wake.
    bool ConnectToServer(TTorvaneOwner* ownerWindow, std::int32_t slotIndex, const std::string& serverName,
                         bool useWindowsAuthentication, const std::string& userName,
                         const std::string& password);

    // ConnectToServer in its two halves, so that a window never waits for a server:
    // OpenConnection does everything that talks to the server and may run on any
    // thread (it throws EDbError and leaves the connection closed on failure);
    // StartRefreshTimer runs on the main thread once it has succeeded.
    void OpenConnection(TTorvaneOwner* ownerWindow, std::int32_t slotIndex, const std::string& serverName,
                        bool useWindowsAuthentication, const std::string& userName,
                        const std::string& password);
    void StartRefreshTimer();

    // The OLE DB connection string ConnectToServer uses. With Windows authentication
    // the user name and password are left out. A value holding a ; or a quote, or
    // with blanks at its ends, is put in double quotes so that it reaches the server
    // as typed; every other value is inserted as it is.
    static std::string BuildConnectionString(const std::string& serverName, bool useWindowsAuthentication,
                                             const std::string& userName, const std::string& password);

    void RequestRefresh();
    void RefreshTimerTick();
    void Wake();
    // Asks the thread to end: the timer stops and goes, a hand-over not yet begun on
    // the main thread is dropped, and a refresh under way ends without reaching the
    // model objects. Call Wake afterwards.
    void Stop();
    // Reopens the connection after a disconnect: false (nothing changes) while the
    // server cannot be reached; true re-enables the timer.
    bool Reconnect();
    // Reconnect in its two halves: ReopenConnection talks to the server and may run on
    // any thread; ResumeAfterReconnect (main thread) follows a successful reopen.
    bool ReopenConnection();
    void ResumeAfterReconnect();
    // The refresh timer's interval; the main window sets the user's refresh interval.
    void SetRefreshInterval(int milliseconds);
    bool RefreshTimerActive() const;

    // "Running for D days, H hours, M minutes and S seconds" from ServerStartTime to
    // ServerTime.
    std::string GetRunningTimeText() const;

    // Ready when the thread function has returned and the object is gone; an owner
    // that must not leave threads behind (program exit) waits on it after Stop and Wake.
    std::shared_future<void> Finished() const { return FinishedFuture; }

    // Statement texts and kills over this thread's connection, for the views (main
    // thread). Defined with the process commands.
    std::string GetStatementText(std::int32_t spid, std::string& objectName, std::string& encrypted,
                                 std::int32_t& stmtStart, std::int32_t& stmtEnd);
    std::string GetInputBuffer(std::int32_t spid, std::string& eventType);
    std::int32_t KillProcess(std::int32_t spid);
    void KillDatabaseProcesses(const std::string& databaseName);
    void KillUserProcesses(const std::string& loginName, const std::string& ntDomain,
                           const std::string& ntUserName, const std::string& hostName);

    // The connection, shared by the monitor thread and the main thread's commands; its
    // request lock keeps them to one request at a time.
    const std::unique_ptr<TDbConnection> Connection;
    std::atomic<bool> Disconnected = false;
    bool SqlTextAvailable = false;
    std::string SqlTextUnavailableMessage;

    // Not owned; set by the owner after a successful ConnectToServer, destroyed by it
    // after Stop.
    TTorvaneProcessDatabases* Databases = nullptr;
    TTorvaneProcessUsers* Users = nullptr;
    TTorvaneProcessUserProcesses* UserProcesses = nullptr;
    TTorvaneProcessThreads* Threads = nullptr;
    TTorvaneServerPerformance* ServerPerformance = nullptr;

    // The value of a date-time text, for the summaries' latest activity where a record
    // brings the text alone (the snapshot's records bring the value too).
    TDateTimeTextParser DateTimeTextParser() const;

    TTorvaneOwner* OwnerWindow = nullptr;
    std::int32_t SlotIndex = 0;
    std::atomic<std::int32_t> ResponseTimeMs = 0;
    TDateTime ServerStartTime = 0;
    TDateTime ServerTime = 0;

private:
    struct TSyncState;
    struct TSyncCall;
    using TMainThreadStep = void (TTorvaneThread::*)();
    enum class ESyncResult
    {
        Done,
        DatabaseError, // the step raised EDbError
        ProgramError,  // the step raised anything else, reported as the program's error
        NotRun,        // the thread was stopped first
    };

    ~TTorvaneThread();
    static void ThreadFunction(TTorvaneThread* thread, std::promise<void> finished);

    void Execute();
    void RunRefresh();
    void FailRefresh();
    void ProcessSnapshot();
    void HandleDisconnect();
    void DisconnectOnMainThread();
    // Runs step on the main thread and waits for it.
    ESyncResult Synchronize(TMainThreadStep step);
    bool Terminated() const;

    std::unique_ptr<QTimer> RefreshTimer; // main thread only
    // Filled by the monitor thread, read by the main thread during the hand-over only.
    TProcessSnapshot Snapshot;
    // The memory of the process and thread tables that the first snapshot fills, made
    // ready by the monitor thread (a first refresh of tens of thousands of rows writes
    // tens of megabytes of fresh pages, which the main thread need not wait for). Handed
    // over like the snapshot.
    TTorvaneProcessUserProcesses::TRoom ProcessRoom;
    TTorvaneProcessThreads::TRoom ThreadRoom;
    bool RoomsMade = false; // monitor thread only
    TDateTimeTexts DateTimeTexts; // monitor thread only
    TAutoResetEvent WakeEvent;
    std::atomic<std::int32_t> RefreshRequest = 0;
    const std::shared_ptr<TSyncState> Sync;
    std::shared_future<void> FinishedFuture;
};
