#pragma once
// Monitored servers as the window keeps them, for the benchmarks: a connection slot per
// server, refreshed on request. The owner's redraw is
// where a refresh ends: the model holds the snapshot and the hand-over returns.

#include "engine/Torvaneowner.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

class TConnectionSlot;

class TBenchMonitor : public TTorvaneOwner
{
public:
    TBenchMonitor();
    // Stops every thread and waits for them before the models go.
    ~TBenchMonitor() override;
    TBenchMonitor(const TBenchMonitor&) = delete;
    TBenchMonitor& operator=(const TBenchMonitor&) = delete;

    // Connects one more server as "sa" (waiting, running events, for the outcome);
    // throws std::runtime_error when it cannot. Refreshes come only when asked for.
    void Connect(const std::string& serverName);

    // Refreshes every server once and waits until each hand-over has returned; throws
    // std::runtime_error when a server is lost or a refresh does not come.
    void RefreshAll();
    // Waits until the threads are back asleep. A refresh asked for while a thread is
    // still finishing the last one would be absorbed into it, as a timer tick is.
    static void Settle();

    int32_t Processes(std::size_t server) const;

    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void RefreshSlotView(std::int32_t slotIndex) override;
    void SendDisconnectAlert(std::int32_t slotIndex) override;
    void SendCpuAlert(std::int32_t slotIndex) override;
    void SendResponseAlert(std::int32_t slotIndex) override;

private:
    std::vector<std::unique_ptr<TConnectionSlot>> Slots;
    QEventLoop Loop;
    QTimer Deadline; // a refresh that never comes ends the wait
    std::size_t Pending = 0;
    bool Lost = false;
};
