#pragma once
// A loopback listener that serves each accepted connection on its own thread with
// the given handler, and can stop accepting and drop every open connection. The
// TDS server and the control port are both built on it. Thread-safe, except that
// a handler must not close or drop the listener that runs it.

#include "sandbox/Tdssocket.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace sandbox {

class TTdsListener
{
public:
    // Runs on the connection's own thread until the client leaves or is dropped.
    using Handler = std::function<void(const TTdsSocket& connection)>;

    explicit TTdsListener(Handler handler);
    ~TTdsListener();
    TTdsListener(const TTdsListener&) = delete;
    TTdsListener& operator=(const TTdsListener&) = delete;

    // Starts accepting on 127.0.0.1:port (0 picks one); throws std::system_error.
    void Listen(std::uint16_t port);
    // The port of the last Listen, kept after Close.
    std::uint16_t Port() const;
    bool IsListening() const;
    // Stops accepting: the port is closed and new clients are refused.
    void Close();
    // Ends every open connection and waits for its handler to return.
    void DropAll();
    int ConnectionCount() const;

private:
    struct Connection;

    void AcceptLoop();
    void ReapFinished(std::unique_lock<std::mutex>& lock);

    const Handler FHandler;
    // FControlMutex orders Listen/Close/DropAll; FMutex guards the members below.
    std::mutex FControlMutex;
    mutable std::mutex FMutex;
    std::uint16_t FPort = 0;
    bool FListening = false;
    TTdsSocket FSocket;
    std::thread FAcceptThread;
    std::list<std::unique_ptr<Connection>> FConnections;
};

} // namespace sandbox
