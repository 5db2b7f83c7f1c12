#include "tests/support/Monitorfixture.h"

#include "engine/Connectionslot.h"
#include "engine/Torvanethread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <chrono>
#include <optional>

TMonitorFixture::TMonitorFixture() : FSlot(std::make_unique<TConnectionSlot>()) {}

TMonitorFixture::~TMonitorFixture()
{
    Stop();
    // A thread in the middle of a request ends with its time-out at the latest.
    WaitUntilFinished(120000);
}

bool TMonitorFixture::Connect(const std::string& serverName, bool windowsAuthentication,
                              const std::string& userName, const std::string& password, int intervalMs,
                              bool firstRefresh)
{
    std::optional<bool> outcome;
    FSlot->Connect(
        &Owner, Slot, serverName, windowsAuthentication, userName, password,
        TConnectionSlot::MaxRefreshIntervalSeconds, [&](bool connected) { outcome = connected; }, false);
    FThread = FSlot->Thread();
    FFinished = FThread->Finished();
    const QDeadlineTimer deadline(std::chrono::minutes(2));
    while (!outcome && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    if (!outcome.value_or(false))
        return false;
    Databases = FSlot->Databases();
    Users = FSlot->Users();
    UserProcesses = FSlot->UserProcesses();
    Threads = FSlot->Threads();
    ServerPerformance = FSlot->ServerPerformance();
    FThread->SetRefreshInterval(intervalMs);
    if (firstRefresh)
        FThread->RequestRefresh();
    return true;
}

void TMonitorFixture::Stop()
{
    if (FSlot)
        FSlot->Stop();
}

void TMonitorFixture::StopAndDestroyModels()
{
    FSlot.reset();
    Databases = nullptr;
    Users = nullptr;
    UserProcesses = nullptr;
    Threads = nullptr;
    ServerPerformance = nullptr;
}

bool TMonitorFixture::WaitUntilFinished(int milliseconds) const
{
    return !FFinished.valid() ||
           FFinished.wait_for(std::chrono::milliseconds(milliseconds)) == std::future_status::ready;
}
