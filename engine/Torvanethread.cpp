#include "engine/Torvanethread.h"

#include "engine/Connectionsecurity.h"

#include "engine/Dbconnectionstring.h"
#include "engine/Mainthreadcall.h"
#include "engine/Odbcdriver.h"
#include "engine/Packetsize.h"
#include "engine/Torvaneclock.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanesnapshot.h"

#include <QCoreApplication>
#include <QTimer>

#include <iostream>
#include <thread>

// The hand-over between the monitor thread and the main thread. It outlives the thread
// object as long as a queued hand-over refers to it, so a hand-over that reaches the
// main thread after a Stop finds out without touching the object.
struct TTorvaneThread::TSyncState
{
    std::mutex Lock;
    std::condition_variable Changed;
    bool Terminated = false;
    bool WokenAfterStop = false; // the owner's last call is done: the object may go
};

// One step handed to the main thread; guarded by the hand-over's lock.
struct TTorvaneThread::TSyncCall
{
    bool Running = false;
    bool Done = false;
    ESyncResult Result = ESyncResult::NotRun;
};

namespace {

constexpr const char* ApplicationName = "VelquinMonitor";

} // namespace

TTorvaneThread::TTorvaneThread()
    : Connection(std::make_unique<TDbConnection>()), Sync(std::make_shared<TSyncState>())
{
    std::promise<void> finished;
    FinishedFuture = finished.get_future().share();
    std::thread(&TTorvaneThread::ThreadFunction, this, std::move(finished)).detach();
}

TTorvaneThread::~TTorvaneThread() = default;

void TTorvaneThread::ThreadFunction(TTorvaneThread* thread, std::promise<void> finished)
{
    thread->Execute();
    const std::shared_ptr<TSyncState> sync = thread->Sync;
    {
        // Stop and Wake are the owner's last calls; the object stays until both are done.
        std::unique_lock lock(sync->Lock);
        sync->Changed.wait(lock, [&] { return sync->WokenAfterStop; });
    }
    delete thread;
    finished.set_value();
}

std::string TTorvaneThread::BuildConnectionString(const std::string& serverName,
                                                  bool useWindowsAuthentication, const std::string& userName,
                                                  const std::string& password)
{
    const std::string tail = ";Initial Catalog=master;Data Source=" + QuoteOleDbValue(serverName) +
                             ";Application Name=" + ApplicationName;
    if (useWindowsAuthentication)
        return "Provider=SQLOLEDB.1;Persist Security Info=False;Integrated Security=SSPI" + tail;
    return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=" + QuoteOleDbValue(userName) +
           ";Password=" + QuoteOleDbValue(password) + tail;
}

bool TTorvaneThread::ConnectToServer(TTorvaneOwner* ownerWindow, std::int32_t slotIndex,
                                     const std::string& serverName, bool useWindowsAuthentication,
                                     const std::string& userName, const std::string& password)
{
    try {
        OpenConnection(ownerWindow, slotIndex, serverName, useWindowsAuthentication, userName, password);
    } catch (const EDbError& error) {
        OwnerWindow->ShowMessageBox(error.Message, error.Source);
        return false;
    }
    StartRefreshTimer();
    return true;
}

void TTorvaneThread::OpenConnection(TTorvaneOwner* ownerWindow, std::int32_t slotIndex,
                                    const std::string& serverName, bool useWindowsAuthentication,
                                    const std::string& userName, const std::string& password)
{
    OwnerWindow = ownerWindow;
    SlotIndex = slotIndex;
    Connection->SetConnectionString(
        BuildConnectionString(serverName, useWindowsAuthentication, userName, password));
    Connection->SetDriver(ChosenOdbcDriver());
    Connection->SetSecurity(ChosenConnectionSecurity());
    Connection->SetPacketSize(ChosenPacketSize());
    try {
        Connection->Open();
        // A failure after the logon is handled like a failed logon: the caller then
        // stops the thread, which closes the connection, instead of keeping a half-made one.
        TDbQuery query(*Connection);
        query.SetCommandText(
            "select count(*) as counter \r\n from syscolumns \r\n where name = 'stmt_start' \r\n"
            " and object_name(id) = 'sysprocesses'");
        query.Open();
        SqlTextAvailable = query.AsInteger("counter") == 1;
        query.Close();
        if (!SqlTextAvailable) {
            SqlTextUnavailableMessage = "This feature requires SQL Server 2000 SP 3 or greater";
        } else {
            query.SetCommandText(
                "select permissions(id)&0x20 as permission from sysobjects where name = 'fn_get_sql'");
            query.Open();
            SqlTextAvailable = query.AsInteger("permission") > 0;
            query.Close();
            if (!SqlTextAvailable)
                SqlTextUnavailableMessage = "You do not have permission to run the fn_get_sql function";
        }
        query.SetCommandText("SELECT @@SPID AS spid, MIN(login_time) AS serverstarttime FROM sysprocesses");
        query.Open();
        ServerStartTime = query.AsDateTime("serverstarttime");
        query.Close();
    } catch (const EDbError&) {
        Connection->Close();
        throw;
    }
}

void TTorvaneThread::StartRefreshTimer()
{
    RefreshTimer = std::make_unique<QTimer>();
    RefreshTimer->setInterval(1000);
    QObject::connect(RefreshTimer.get(), &QTimer::timeout, RefreshTimer.get(),
                     [this] { RefreshTimerTick(); });
    RefreshTimer->start();
}

void TTorvaneThread::RequestRefresh()
{
    RefreshRequest = 1;
    WakeEvent.Set();
}

void TTorvaneThread::RefreshTimerTick()
{
    RequestRefresh();
}

void TTorvaneThread::Wake()
{
    const std::shared_ptr<TSyncState> sync = Sync;
    WakeEvent.Set();
    {
        const std::lock_guard guard(sync->Lock);
        if (!sync->Terminated)
            return;
        sync->WokenAfterStop = true;
    }
    sync->Changed.notify_all();
}

void TTorvaneThread::Stop()
{
    RefreshTimer.reset();
    {
        const std::lock_guard guard(Sync->Lock);
        Sync->Terminated = true;
    }
    Sync->Changed.notify_all();
    WakeEvent.Set();
}

bool TTorvaneThread::Terminated() const
{
    const std::lock_guard guard(Sync->Lock);
    return Sync->Terminated;
}

bool TTorvaneThread::Reconnect()
{
    if (!ReopenConnection())
        return false;
    ResumeAfterReconnect();
    return true;
}

bool TTorvaneThread::ReopenConnection()
{
    try {
        Connection->Open();
    } catch (const EDbError&) {
        return false;
    }
    return true;
}

void TTorvaneThread::ResumeAfterReconnect()
{
    Disconnected = false;
    if (RefreshTimer)
        RefreshTimer->start();
}

void TTorvaneThread::SetRefreshInterval(int milliseconds)
{
    if (RefreshTimer)
        RefreshTimer->setInterval(milliseconds);
}

bool TTorvaneThread::RefreshTimerActive() const
{
    return RefreshTimer && RefreshTimer->isActive();
}

std::string TTorvaneThread::GetRunningTimeText() const
{
    return RunningTimeText(ServerTime, ServerStartTime);
}

void TTorvaneThread::Execute()
{
    while (!Terminated()) {
        WakeEvent.Wait();
        if (Terminated())
            break;
        while (RefreshRequest == 1 && !Terminated()) {
            RunRefresh();
            RefreshRequest = 0;
        }
    }
}

void TTorvaneThread::RunRefresh()
{
    if (!Connection->IsOpen()) {
        FailRefresh();
        return;
    }
    try {
        {
            // The probe is timed from its sending: a main-thread command that holds the
            // connection is waited for first, so it does not count as the server's time.
            const std::lock_guard lock(Connection->RequestLock());
            TDbQuery probe(*Connection);
            probe.SetCommandText("SELECT 1");
            const std::uint32_t start = SystemClock().TickCount();
            probe.Open();
            ResponseTimeMs = static_cast<std::int32_t>(SystemClock().TickCount() - start);
        }
        // A thread being stopped spares the server the snapshot and ends sooner.
        if (Terminated())
            return;
        Snapshot.Read(*Connection, DateTimeTexts);
        if (!RoomsMade) {
            RoomsMade = true;
            ProcessRoom = TTorvaneProcessUserProcesses::MakeRoom(Snapshot.ProcessCount());
            ThreadRoom = TTorvaneProcessThreads::MakeRoom(Snapshot.RowCount());
        }
    } catch (const EDbError&) {
        FailRefresh();
        return;
    } catch (const std::exception& failure) {
        // Not the server's fault (memory ran out reading a huge snapshot): the program's
        // own error, and the next refresh tries again.
        std::cerr << "Torvane: internal error while reading a snapshot: " << failure.what() << std::endl;
        return;
    }
    if (Synchronize(&TTorvaneThread::ProcessSnapshot) == ESyncResult::DatabaseError && !Terminated())
        FailRefresh();
}

// The probe, the snapshot or its hand-over failed with a database error: the server
// counts as lost until Reconnect. The timer belongs to the main thread, so the hand-over
// turns it off.
void TTorvaneThread::FailRefresh()
{
    Disconnected = true;
    Connection->Close();
    Synchronize(&TTorvaneThread::DisconnectOnMainThread);
}

void TTorvaneThread::DisconnectOnMainThread()
{
    if (RefreshTimer)
        RefreshTimer->stop();
    HandleDisconnect();
}

void TTorvaneThread::HandleDisconnect()
{
    if (ServerPerformance)
        ServerPerformance->Disconnected = true;
    OwnerWindow->RefreshSlotView(SlotIndex);
    // The redraw may let other main-thread work in, a Stop among it.
    if (!Terminated())
        OwnerWindow->SendDisconnectAlert(SlotIndex);
}

TTorvaneThread::ESyncResult TTorvaneThread::Synchronize(TMainThreadStep step)
{
    QCoreApplication* const application = QCoreApplication::instance();
    const std::shared_ptr<TSyncState> sync = Sync;
    const auto call = std::make_shared<TSyncCall>();
    // The call is posted under the lock, and the main thread takes the lock before it
    // runs it: so everything this thread did before posting, the call's own memory
    // among it, is ordered before the main thread's work and before it frees the call,
    // in a way ThreadSanitizer sees (Qt's own queue is not instrumented).
    std::unique_lock lock(sync->Lock);
    if (!application || sync->Terminated)
        return ESyncResult::NotRun;
    PostToMainThread([this, step, sync, call] {
        {
            const std::lock_guard guard(sync->Lock);
            if (sync->Terminated)
                return; // the monitor thread has left the hand-over; the object may be gone
            call->Running = true;
        }
        ESyncResult outcome = ESyncResult::Done;
        try {
            (this->*step)();
        } catch (const EDbError&) {
            // Only the server's failure counts as a lost server.
            outcome = ESyncResult::DatabaseError;
        } catch (const std::exception& failure) {
            // A fault of the program (a view, a mail) is reported as such and leaves
            // the server's state alone.
            outcome = ESyncResult::ProgramError;
            std::cerr << "Torvane: internal error after a refresh: " << failure.what() << std::endl;
        } catch (...) {
            outcome = ESyncResult::ProgramError;
            std::cerr << "Torvane: internal error after a refresh" << std::endl;
        }
        {
            const std::lock_guard guard(sync->Lock);
            call->Running = false;
            call->Done = true;
            call->Result = outcome;
        }
        sync->Changed.notify_all();
    });
    sync->Changed.wait(lock, [&] { return call->Done || (sync->Terminated && !call->Running); });
    return call->Result;
}
