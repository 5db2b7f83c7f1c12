#include "sandbox/Tdssocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace sandbox {

namespace {
[[noreturn]] void ThrowErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}
} // namespace

TTdsSocket::~TTdsSocket()
{
    if (FFd >= 0)
        ::close(FFd);
}

TTdsSocket::TTdsSocket(TTdsSocket&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}

TTdsSocket& TTdsSocket::operator=(TTdsSocket&& other) noexcept
{
    if (this != &other) {
        if (FFd >= 0)
            ::close(FFd);
        FFd = std::exchange(other.FFd, -1);
    }
    return *this;
}

TTdsSocket TTdsSocket::Listen(std::uint16_t port)
{
    TTdsSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket)
        ThrowErrno("socket");
    const int on = 1;
    ::setsockopt(socket.FFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(socket.FFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        ThrowErrno("bind");
    if (::listen(socket.FFd, SOMAXCONN) != 0)
        ThrowErrno("listen");
    return socket;
}

std::uint16_t TTdsSocket::LocalPort() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(FFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

std::string TTdsSocket::PeerAddress() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    char text[INET_ADDRSTRLEN] = {};
    if (::getpeername(FFd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        !::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text))
        return {};
    return text;
}

TTdsSocket TTdsSocket::Accept() const
{
    for (;;) {
        const int fd = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return TTdsSocket(fd);
        }
        // A client that gave up before being accepted is not the listener's failure.
        if (errno != EINTR && errno != ECONNABORTED && errno != EPROTO)
            return {};
    }
}

bool TTdsSocket::WaitReadable(int timeoutMs) const
{
    pollfd entry{FFd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, timeoutMs);
        if (ready >= 0)
            return ready > 0;
        if (errno != EINTR)
            return true; // let the next Receive report the failure
    }
}

std::ptrdiff_t TTdsSocket::Receive(std::span<std::uint8_t> buffer) const
{
    for (;;) {
        const ssize_t got = ::recv(FFd, buffer.data(), buffer.size(), 0);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

bool TTdsSocket::SendAll(std::span<const std::uint8_t> bytes) const
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

void TTdsSocket::Shutdown() const
{
    if (FFd >= 0)
        ::shutdown(FFd, SHUT_RDWR);
}

} // namespace sandbox
