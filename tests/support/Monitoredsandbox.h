#pragma once
// A sandbox server monitored through a connection slot, as the window keeps a server,
// for the view tests. The monitor's timer is set far out: Refresh asks for one snapshot
// and runs events until it has been handed over, and the owner's redraw runs OnRedraw,
// where a test refills its views as the connection frame does.

#include "tests/support/Monitorfixture.h"
#include "tests/support/Sandboxfixture.h"

#include <functional>
#include <string>

class TMonitoredSandbox
{
public:
    explicit TMonitoredSandbox(const std::string& scenarioJson,
                               const std::string& login = TSandboxFixture::Login,
                               const std::string& password = TSandboxFixture::Password);

    // Started and connected; Error() says why not.
    bool Ready() const { return FReady; }
    std::string Error() const;
    TConnectionSlot* Slot() const { return &Monitor.ConnectionSlot(); }
    // One snapshot, handed over and redrawn; false when none came within a minute.
    bool Refresh();
    // The batches the server received that contain text.
    int BatchesContaining(const std::string& text);
    // The SPID of the monitor's own connection on the server.
    int OwnSpid();

    TSandboxFixture Sandbox; // goes last: the monitor ends before the server
    TMonitorFixture Monitor;
    std::function<void()> OnRedraw;

private:
    bool FReady = false;
};
