#include "sandbox/Browseresponder.h"

#include "sandbox/Tdslogin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <system_error>

namespace sandbox {

namespace {

constexpr std::uint8_t ClientBroadcastEx = 0x02;
constexpr std::uint8_t ClientUnicastEx = 0x03;
constexpr std::uint8_t ServerResponse = 0x05;
const char* const NamedInstance = "SANDBOX";

std::string LocalHostName()
{
    std::array<char, HOST_NAME_MAX + 1> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name.data();
}

std::string Datagram(const std::string& data, std::size_t lengthField)
{
    std::string datagram(1, static_cast<char>(ServerResponse));
    datagram += static_cast<char>(lengthField & 0xff);
    datagram += static_cast<char>((lengthField >> 8) & 0xff);
    return datagram + data;
}

std::string InstanceRecord(const std::string& host, const std::string& instance, std::uint16_t tdsPort)
{
    const TTdsServerVersion version;
    char versionText[32];
    std::snprintf(versionText, sizeof versionText, "%u.%02u.%u.00", version.major, version.minor,
                  version.build);
    return "ServerName;" + host + ";InstanceName;" + instance + ";IsClustered;No;Version;" + versionText +
           ";tcp;" + std::to_string(tdsPort) + ";;";
}

} // namespace

TBrowseResponder::TBrowseResponder() : FHostName(LocalHostName()) {}

TBrowseResponder::~TBrowseResponder()
{
    Stop();
}

void TBrowseResponder::Listen(std::uint16_t port, std::uint16_t tdsPort)
{
    const std::lock_guard lock(FMutex);
    if (FThread.joinable())
        return;
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        throw std::system_error(errno, std::generic_category(), "browse socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int stopEvent = ::eventfd(0, EFD_CLOEXEC);
    if (stopEvent < 0 || ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(socket);
        if (stopEvent >= 0)
            ::close(stopEvent);
        throw std::system_error(error, std::generic_category(), "browse bind");
    }
    FSocket = socket;
    FStopEvent = stopEvent;
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this, socket, stopEvent, tdsPort] { Serve(socket, stopEvent, tdsPort); });
}

std::uint16_t TBrowseResponder::Port() const
{
    const std::lock_guard lock(FMutex);
    return FPort;
}

void TBrowseResponder::Stop()
{
    const std::lock_guard lock(FMutex);
    if (!FThread.joinable())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(FStopEvent, &one, sizeof one);
    FThread.join();
    ::close(FSocket);
    ::close(FStopEvent);
    FSocket = FStopEvent = -1;
}

std::vector<std::string> TBrowseResponder::ServerNames() const
{
    return {FHostName, FHostName + '\\' + NamedInstance};
}

void TBrowseResponder::Serve(int socket, int stopEvent, std::uint16_t tdsPort)
{
    const std::string answer =
        InstanceRecord(FHostName, "MSSQLSERVER", tdsPort) + InstanceRecord(FHostName, NamedInstance, tdsPort);
    std::array<std::uint8_t, 2048> request{};
    for (;;) {
        std::array<pollfd, 2> waiting{{{socket, POLLIN, 0}, {stopEvent, POLLIN, 0}}};
        if (::poll(waiting.data(), waiting.size(), -1) < 0 && errno != EINTR)
            return;
        if (waiting[1].revents != 0)
            return;
        if (waiting[0].revents == 0)
            continue;
        sockaddr_storage client{};
        socklen_t clientLength = sizeof client;
        const ssize_t size = ::recvfrom(socket, request.data(), request.size(), 0,
                                        reinterpret_cast<sockaddr*>(&client), &clientLength);
        if (size < 1 || (request[0] != ClientBroadcastEx && request[0] != ClientUnicastEx))
            continue;
        const auto send = [&](const std::string& datagram) {
            ::sendto(socket, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&client),
                     clientLength);
        };
        if (FMalformed) {
            const std::string data = InstanceRecord(FHostName, "MALFORMED", 1433);
            send(Datagram(data, data.size() + 16));
        }
        send(Datagram(answer, answer.size()));
    }
}

} // namespace sandbox
