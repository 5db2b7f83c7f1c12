#include "Tdsserver.h"

#include "Tdssession.h"

#include <algorithm>
#include <vector>

namespace sandbox {

struct TTdsServer::Connection
{
    TTdsSocket socket; // closed under FMutex when the session ends
    std::thread thread;
    bool finished = false;
};

TTdsServer::TTdsServer(Backend& backend, TTdsServerIdentity identity)
    : FBackend(backend), FIdentity(std::move(identity))
{
}

TTdsServer::~TTdsServer()
{
    Stop();
}

void TTdsServer::Start(std::uint16_t port)
{
    const std::lock_guard control(FControlMutex);
    {
        const std::lock_guard lock(FMutex);
        FPort = port;
    }
    StartListening();
}

std::uint16_t TTdsServer::Port() const
{
    const std::lock_guard lock(FMutex);
    return FPort;
}

void TTdsServer::Hang(int seconds)
{
    FHangGate.Hang(seconds);
}

void TTdsServer::Resume()
{
    FHangGate.Resume();
}

void TTdsServer::GoDown()
{
    const std::lock_guard control(FControlMutex);
    StopListening();
    std::vector<std::unique_ptr<Connection>> dropped;
    {
        const std::lock_guard lock(FMutex);
        for (auto& connection : FConnections) {
            if (!connection->finished)
                connection->socket.Shutdown();
            dropped.push_back(std::move(connection));
        }
        FConnections.clear();
    }
    for (const auto& connection : dropped)
        connection->thread.join();
}

void TTdsServer::ComeBack()
{
    const std::lock_guard control(FControlMutex);
    if (IsDown())
        StartListening();
}

bool TTdsServer::IsDown() const
{
    const std::lock_guard lock(FMutex);
    return FDown;
}

void TTdsServer::Stop()
{
    GoDown();
}

int TTdsServer::ConnectionCount() const
{
    const std::lock_guard lock(FMutex);
    return static_cast<int>(std::count_if(FConnections.begin(), FConnections.end(),
                                          [](const auto& c) { return !c->finished; }));
}

void TTdsServer::StartListening()
{
    TTdsSocket listener = TTdsSocket::Listen(Port());
    const std::lock_guard lock(FMutex);
    FPort = listener.LocalPort();
    FListener = std::move(listener);
    FDown = false;
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

void TTdsServer::StopListening()
{
    {
        const std::lock_guard lock(FMutex);
        FDown = true;
        FListener.Shutdown();
    }
    if (FAcceptThread.joinable())
        FAcceptThread.join();
    const std::lock_guard lock(FMutex);
    FListener = {};
}

void TTdsServer::AcceptLoop()
{
    // FListener stays open until this thread has been joined, so it is read unlocked.
    for (;;) {
        TTdsSocket client = FListener.Accept();
        if (!client)
            return;
        std::unique_lock lock(FMutex);
        ReapFinished(lock);
        if (FDown)
            return;
        auto connection = std::make_unique<Connection>();
        connection->socket = std::move(client);
        Connection* const raw = connection.get();
        FConnections.push_back(std::move(connection));
        raw->thread = std::thread([this, raw] {
            TTdsSession session(raw->socket, FBackend, FIdentity, FHangGate);
            session.Run();
            const std::lock_guard done(FMutex);
            raw->finished = true;
            raw->socket = {};
        });
    }
}

void TTdsServer::ReapFinished(std::unique_lock<std::mutex>& lock)
{
    std::vector<std::unique_ptr<Connection>> finished;
    for (auto it = FConnections.begin(); it != FConnections.end();) {
        if ((*it)->finished) {
            finished.push_back(std::move(*it));
            it = FConnections.erase(it);
        } else {
            ++it;
        }
    }
    lock.unlock();
    for (const auto& connection : finished)
        connection->thread.join();
    lock.lock();
}

} // namespace sandbox
