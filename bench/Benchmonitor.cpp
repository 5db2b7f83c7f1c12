#include "bench/Benchmonitor.h"

#include "engine/Commonfuncs.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"

#include <QTimer>

#include <chrono>
#include <iostream>
#include <stdexcept>
#include <thread>

namespace {

std::optional<double> ParseDateTimeText(std::string_view text)
{
    return TextToDateTime(text);
}

} // namespace

struct TBenchMonitor::TSlot
{
    TTorvaneThread* Thread = new TTorvaneThread; // deletes itself after Stop and Wake
    std::shared_future<void> Finished = Thread->Finished();
    TTorvaneProcessDatabases Databases{ParseDateTimeText};
    TTorvaneProcessUsers Users{ParseDateTimeText};
    TTorvaneProcessUserProcesses UserProcesses;
    TTorvaneProcessThreads Threads;
    TTorvaneServerPerformance ServerPerformance;

    void Stop()
    {
        if (!Thread)
            return;
        Thread->Stop();
        Thread->Wake();
        Thread = nullptr;
        Finished.wait_for(std::chrono::seconds(60));
    }
};

TBenchMonitor::TBenchMonitor() = default;

TBenchMonitor::~TBenchMonitor()
{
    for (const auto& slot : Slots)
        slot->Stop();
}

void TBenchMonitor::Connect(const std::string& serverName)
{
    auto slot = std::make_unique<TSlot>();
    const auto index = static_cast<std::int32_t>(Slots.size());
    if (!slot->Thread->ConnectToServer(this, index, serverName, false, "sa", "torvane")) {
        slot->Stop();
        throw std::runtime_error("cannot connect to " + serverName);
    }
    TTorvaneThread& thread = *slot->Thread;
    thread.Databases = &slot->Databases;
    thread.Users = &slot->Users;
    thread.UserProcesses = &slot->UserProcesses;
    thread.Threads = &slot->Threads;
    thread.ServerPerformance = &slot->ServerPerformance;
    thread.SetRefreshInterval(100000); // refreshes come when asked for
    Slots.push_back(std::move(slot));
}

void TBenchMonitor::RefreshAll()
{
    Pending = Slots.size();
    for (const auto& slot : Slots)
        slot->Thread->RequestRefresh();
    QTimer::singleShot(std::chrono::minutes(2), &Loop, [this] {
        Lost = true;
        Loop.quit();
    });
    Loop.exec();
    if (Lost)
        throw std::runtime_error("a server was lost or did not refresh");
}

void TBenchMonitor::Settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int32_t TBenchMonitor::Processes(std::size_t server) const
{
    return Slots.at(server)->UserProcesses.Count();
}

void TBenchMonitor::ShowMessageBox(const std::string& text, const std::string&)
{
    std::cerr << text << std::endl;
    Lost = true;
    Loop.quit();
}

void TBenchMonitor::RefreshSlotView(std::int32_t)
{
    if (Pending > 0 && --Pending == 0)
        Loop.quit();
}

void TBenchMonitor::SendDisconnectAlert(std::int32_t)
{
    Lost = true; // the disconnect path's redraw came first
}

void TBenchMonitor::SendCpuAlert(std::int32_t) {}

void TBenchMonitor::SendResponseAlert(std::int32_t) {}
