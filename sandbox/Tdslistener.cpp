#include "sandbox/Tdslistener.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace sandbox {

struct TTdsListener::Connection
{
    TTdsSocket socket; // closed under FMutex when the handler returns
    std::thread thread;
    bool finished = false;
};

TTdsListener::TTdsListener(Handler handler) : FHandler(std::move(handler)) {}

TTdsListener::~TTdsListener()
{
    Close();
    DropAll();
}

void TTdsListener::Listen(std::uint16_t port)
{
    const std::lock_guard control(FControlMutex);
    if (IsListening())
        return;
    TTdsSocket socket = TTdsSocket::Listen(port);
    const std::lock_guard lock(FMutex);
    FPort = socket.LocalPort();
    FSocket = std::move(socket);
    FListening = true;
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

std::uint16_t TTdsListener::Port() const
{
    const std::lock_guard lock(FMutex);
    return FPort;
}

bool TTdsListener::IsListening() const
{
    const std::lock_guard lock(FMutex);
    return FListening;
}

void TTdsListener::Close()
{
    const std::lock_guard control(FControlMutex);
    {
        const std::lock_guard lock(FMutex);
        FListening = false;
        FSocket.Shutdown();
    }
    if (FAcceptThread.joinable())
        FAcceptThread.join();
    const std::lock_guard lock(FMutex);
    FSocket = {};
}

void TTdsListener::DropAll()
{
    const std::lock_guard control(FControlMutex);
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

int TTdsListener::ConnectionCount() const
{
    const std::lock_guard lock(FMutex);
    return static_cast<int>(
        std::count_if(FConnections.begin(), FConnections.end(), [](const auto& c) { return !c->finished; }));
}

void TTdsListener::AcceptLoop()
{
    // FSocket stays open until this thread has been joined, so it is read unlocked.
    for (;;) {
        TTdsSocket client = FSocket.Accept();
        if (!client)
            return;
        std::unique_lock lock(FMutex);
        ReapFinished(lock);
        if (!FListening)
            return;
        auto connection = std::make_unique<Connection>();
        connection->socket = std::move(client);
        Connection* const raw = connection.get();
        try {
            raw->thread = std::thread([this, raw] {
                FHandler(raw->socket);
                const std::lock_guard done(FMutex);
                raw->finished = true;
                raw->socket = {};
            });
        } catch (const std::system_error&) {
            continue; // no thread for this client: its connection closes, the server carries on
        }
        FConnections.push_back(std::move(connection));
    }
}

void TTdsListener::ReapFinished(std::unique_lock<std::mutex>& lock)
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
