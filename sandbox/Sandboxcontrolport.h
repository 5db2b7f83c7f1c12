#pragma once
// The control commands (Sandboxcontrol.h) over a line-based text connection on
// 127.0.0.1, for tests and scripts that drive the standalone sandbox. Each client
// is served on its own thread; a command's answer ends with a line feed.

#include "sandbox/Sandboxcontrol.h"
#include "sandbox/Tdslistener.h"

#include <cstdint>
#include <mutex>

namespace sandbox {

class TSandboxControlPort
{
public:
    explicit TSandboxControlPort(TSandboxControl& control);

    // Throws std::system_error when the port cannot be had.
    void Listen(std::uint16_t port) { FListener.Listen(port); }
    std::uint16_t Port() const { return FListener.Port(); }
    void Stop();

private:
    void Serve(const TTdsSocket& connection);

    TSandboxControl& FControl;
    // Commands from several control clients run one at a time.
    std::mutex FCommandMutex;
    TTdsListener FListener; // last: its threads use the members above
};

} // namespace sandbox
