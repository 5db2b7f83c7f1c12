#pragma once
// The TDS listener on 127.0.0.1: one thread accepts clients, each client gets a
// TTdsSession on its own thread, so a slow or hung session never holds up another.
// The server can hang (read but answer nothing), go down (drop every connection and
// stop listening) and come back on the same port. All methods are thread-safe.

#include "Sandboxtypes.h"
#include "Tdshanggate.h"
#include "Tdsresponse.h"
#include "Tdssocket.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace sandbox {

class TTdsServer
{
public:
    explicit TTdsServer(Backend& backend, TTdsServerIdentity identity = {});
    ~TTdsServer();
    TTdsServer(const TTdsServer&) = delete;
    TTdsServer& operator=(const TTdsServer&) = delete;

    // Listens on port (0 picks a free one). Throws std::system_error when it cannot.
    void Start(std::uint16_t port = 0);
    // The port listened on, also while down (it is reused by ComeBack).
    std::uint16_t Port() const;

    // Keeps connections open but answers nothing for seconds (0: until Resume).
    void Hang(int seconds);
    void Resume();
    // Drops every connection and closes the listener; new clients are refused.
    void GoDown();
    // Listens again on the same port. Throws std::system_error when it cannot.
    void ComeBack();
    bool IsDown() const;
    // Drops everything for good; also done by the destructor.
    void Stop();

    // Clients connected now (for tests that wait for a drop to complete).
    int ConnectionCount() const;

private:
    struct Connection;

    void AcceptLoop();
    void StartListening();
    void StopListening();
    void ReapFinished(std::unique_lock<std::mutex>& lock);

    Backend& FBackend;
    const TTdsServerIdentity FIdentity;
    TTdsHangGate FHangGate;

    // FControlMutex orders Start/GoDown/ComeBack/Stop; FMutex guards the members below.
    mutable std::mutex FControlMutex;
    mutable std::mutex FMutex;
    std::uint16_t FPort = 0;
    bool FDown = true;
    TTdsSocket FListener;
    std::thread FAcceptThread;
    std::list<std::unique_ptr<Connection>> FConnections;
};

} // namespace sandbox
