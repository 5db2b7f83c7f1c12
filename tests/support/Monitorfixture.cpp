#include "tests/support/Monitorfixture.h"

#include "engine/Commonfuncs.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"

#include <chrono>

namespace {

std::optional<double> ParseText(std::string_view text)
{
    return TextToDateTime(text);
}

} // namespace

TMonitorFixture::TMonitorFixture()
    : FThread(new TTorvaneThread), FFinished(FThread->Finished())
{
}

TMonitorFixture::~TMonitorFixture()
{
    Stop();
    // A thread in the middle of a request ends with its time-out at the latest.
    WaitUntilFinished(120000);
}

bool TMonitorFixture::Connect(const std::string& serverName, bool windowsAuthentication, const std::string& userName,
                              const std::string& password, int intervalMs, bool firstRefresh)
{
    if (!FThread->ConnectToServer(&Owner, Slot, serverName, windowsAuthentication, userName, password)) {
        Stop();
        return false;
    }
    Databases = std::make_unique<TTorvaneProcessDatabases>(ParseText);
    Users = std::make_unique<TTorvaneProcessUsers>(ParseText);
    UserProcesses = std::make_unique<TTorvaneProcessUserProcesses>();
    Threads = std::make_unique<TTorvaneProcessThreads>();
    ServerPerformance = std::make_unique<TTorvaneServerPerformance>();
    ServerPerformance->SetServerName(serverName);
    FThread->Databases = Databases.get();
    FThread->Users = Users.get();
    FThread->UserProcesses = UserProcesses.get();
    FThread->Threads = Threads.get();
    FThread->ServerPerformance = ServerPerformance.get();
    FThread->SetRefreshInterval(intervalMs);
    if (firstRefresh)
        FThread->RequestRefresh();
    return true;
}

void TMonitorFixture::Stop()
{
    if (FThread) {
        FThread->Stop();
        FThread->Wake();
        FThread = nullptr;
    }
}

void TMonitorFixture::StopAndDestroyModels()
{
    Stop();
    Databases.reset();
    Users.reset();
    UserProcesses.reset();
    Threads.reset();
    ServerPerformance.reset();
}

bool TMonitorFixture::WaitUntilFinished(int milliseconds) const
{
    return FFinished.wait_for(std::chrono::milliseconds(milliseconds)) == std::future_status::ready;
}
