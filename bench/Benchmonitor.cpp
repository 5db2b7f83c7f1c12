#include "bench/Benchmonitor.h"

#include "engine/Connectionslot.h"
#include "model/Torvaneprocessuserprocesses.h"

#include <chrono>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <thread>

TBenchMonitor::TBenchMonitor()
{
    Deadline.setSingleShot(true);
    Deadline.setInterval(std::chrono::minutes(2));
    QObject::connect(&Deadline, &QTimer::timeout, &Loop, [this] {
        Lost = true;
        Loop.quit();
    });
}

TBenchMonitor::~TBenchMonitor()
{
    for (const auto& slot : Slots)
        slot->Stop();
    for (const auto& slot : Slots)
        slot->WaitUntilFinished(std::chrono::minutes(1));
}

void TBenchMonitor::Connect(const std::string& serverName)
{
    auto slot = std::make_unique<TConnectionSlot>();
    std::optional<bool> connected;
    slot->Connect(
        this, static_cast<int>(Slots.size()), serverName, false, "sa", "torvane",
        TConnectionSlot::MaxRefreshIntervalSeconds,
        [&](bool outcome) {
            connected = outcome;
            Loop.quit();
        },
        false);
    if (!connected)
        Loop.exec();
    if (!connected.value_or(false))
        throw std::runtime_error("cannot connect to " + serverName);
    Slots.push_back(std::move(slot));
}

void TBenchMonitor::RefreshAll()
{
    Pending = Slots.size();
    for (const auto& slot : Slots)
        slot->RequestRefresh();
    Deadline.start();
    Loop.exec();
    Deadline.stop();
    if (Lost)
        throw std::runtime_error("a server was lost or did not refresh");
}

void TBenchMonitor::Settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int32_t TBenchMonitor::Processes(std::size_t server) const
{
    return Slots.at(server)->UserProcesses()->Count();
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
