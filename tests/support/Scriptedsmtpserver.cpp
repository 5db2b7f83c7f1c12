#include "tests/support/Scriptedsmtpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>

TScriptedSmtpServer::~TScriptedSmtpServer()
{
    {
        const std::lock_guard guard(FLock);
        FStopping = true;
        if (FConnection >= 0)
            ::shutdown(FConnection, SHUT_RDWR);
    }
    FChanged.notify_all();
    if (FListener >= 0)
        ::shutdown(FListener, SHUT_RDWR);
    if (FThread.joinable())
        FThread.join();
    if (FListener >= 0)
        ::close(FListener);
}

bool TScriptedSmtpServer::Start()
{
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FListener < 0 || ::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListener, 1) != 0 ||
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this] { Serve(); });
    return true;
}

QString TScriptedSmtpServer::Host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(FPort);
}

std::vector<std::string> TScriptedSmtpServer::Commands() const
{
    const std::lock_guard guard(FLock);
    return FCommands;
}

std::vector<std::string> TScriptedSmtpServer::DataLines() const
{
    const std::lock_guard guard(FLock);
    return FDataLines;
}

bool TScriptedSmtpServer::WaitForConnection(int timeoutMs) const
{
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FAccepted; });
}

bool TScriptedSmtpServer::ClosedByClient(int timeoutMs) const
{
    std::unique_lock lock(FLock);
    FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FDone; });
    return FClientClosed;
}

void TScriptedSmtpServer::Answer(int connection, const std::string& verb)
{
    if (verb == DripVerb) {
        static constexpr std::string_view line = "250-still working\r\n";
        std::unique_lock lock(FLock);
        while (!FStopping && ::send(connection, line.data(), line.size(), MSG_NOSIGNAL) > 0)
            FChanged.wait_for(lock, std::chrono::milliseconds(DripIntervalMs), [this] { return FStopping; });
        return;
    }
    const auto reply = Replies.find(verb);
    if (reply != Replies.end() && !reply->second.empty())
        ::send(connection, reply->second.data(), reply->second.size(), MSG_NOSIGNAL);
}

void TScriptedSmtpServer::Serve()
{
    const int connection = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    {
        const std::lock_guard guard(FLock);
        FConnection = connection;
        FAccepted = connection >= 0;
    }
    FChanged.notify_all();
    bool clientClosed = false;
    if (connection >= 0) {
        if (!Greeting.empty())
            ::send(connection, Greeting.data(), Greeting.size(), MSG_NOSIGNAL);
        std::string received;
        bool inData = false;
        for (bool open = true; open;) {
            const std::size_t end = received.find('\n');
            if (end == std::string::npos) {
                char chunk[1024];
                const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    clientClosed = n == 0;
                    break;
                }
                received.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            std::string line = received.substr(0, end);
            received.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::string verb = line.substr(0, line.find_first_of(" :"));
            std::transform(verb.begin(), verb.end(), verb.begin(),
                           [](unsigned char c) { return std::toupper(c); });
            if (inData && line != ".") {
                const std::lock_guard guard(FLock);
                FDataLines.push_back(line);
                continue;
            }
            inData = false;
            {
                const std::lock_guard guard(FLock);
                FCommands.push_back(line);
            }
            Answer(connection, verb);
            const auto reply = Replies.find(verb);
            inData = verb == "DATA" && reply != Replies.end() && reply->second.rfind("354", 0) == 0;
            open = verb != CloseAfter;
        }
    }
    const std::lock_guard guard(FLock);
    if (connection >= 0)
        ::close(connection);
    FConnection = -1;
    FClientClosed = clientClosed;
    FDone = true;
    FChanged.notify_all();
}
