#include "tests/support/Monitoredsandbox.h"

#include "engine/Torvanethread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <algorithm>

TMonitoredSandbox::TMonitoredSandbox(const std::string& scenarioJson, const std::string& login,
                                     const std::string& password)
    : Sandbox(scenarioJson)
{
    Monitor.Owner.OnCall = [this](const std::string& call) {
        if (call == "RefreshSlotView" && OnRedraw)
            OnRedraw();
    };
    FReady = Sandbox.Started() &&
             Monitor.Connect(Sandbox.ServerName(), false, login, password, 3600 * 1000, false);
}

std::string TMonitoredSandbox::Error() const
{
    if (!Sandbox.Started())
        return Sandbox.Error();
    return Monitor.Owner.MessageBoxes.empty() ? "not connected" : Monitor.Owner.MessageBoxes.back().Text;
}

bool TMonitoredSandbox::Refresh()
{
    // A request that comes while the thread ends its previous refresh is absorbed by
    // it, so it is repeated until the refresh comes; one that arrives while a refresh
    // runs is absorbed too, so no second refresh follows.
    const int before = Monitor.Refreshes();
    const QDeadlineTimer deadline(60000);
    while (Monitor.Refreshes() == before && !deadline.hasExpired()) {
        Monitor.Thread()->RequestRefresh();
        const QDeadlineTimer retry(250);
        while (Monitor.Refreshes() == before && !retry.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return Monitor.Refreshes() > before;
}

int TMonitoredSandbox::BatchesContaining(const std::string& text)
{
    const auto log = Sandbox.Simulation().BatchLog();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const auto& entry) {
        return entry.text.find(text) != std::string::npos;
    }));
}

int TMonitoredSandbox::OwnSpid()
{
    // The monitor logs on with its own application name; the sandbox lists every
    // connection it has, the monitor's being the one with that program name.
    for (const auto& process : Sandbox.Simulation().Processes()) {
        if (process.client && process.ecid == 0 && process.programName.rfind("VelquinMonitor", 0) == 0)
            return process.spid;
    }
    return 0;
}
