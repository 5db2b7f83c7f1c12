#include "alerts/Smtpsocket.h"

#include "alerts/Smtperror.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

class TDescriptor
{
public:
    explicit TDescriptor(int descriptor) : FDescriptor(descriptor) {}
    ~TDescriptor()
    {
        if (FDescriptor >= 0)
            ::close(FDescriptor);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return FDescriptor; }

private:
    int FDescriptor;
};

// What a lookup thread hands back. Shared by the thread and the waiter, so whichever
// finishes last frees it.
struct TLookup
{
    TDescriptor Ready{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::mutex Lock;
    std::vector<TSocketAddress> Addresses;
};

std::vector<TSocketAddress> NumericAddress(const QByteArray& host, std::uint16_t port)
{
    TSocketAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.Address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.Address);
    if (::inet_pton(AF_INET, host.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.Length = sizeof(sockaddr_in);
        return {address};
    }
    if (::inet_pton(AF_INET6, host.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.Length = sizeof(sockaddr_in6);
        return {address};
    }
    return {};
}

std::vector<TSocketAddress> Resolve(const QByteArray& host, std::uint16_t port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return {};
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, ::freeaddrinfo);
    std::vector<TSocketAddress> addresses;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        TSocketAddress address;
        std::memcpy(&address.Address, a->ai_addr, a->ai_addrlen);
        address.Length = a->ai_addrlen;
        addresses.push_back(address);
    }
    return addresses;
}

bool WouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

TSmtpSocket::TDeadline TSmtpSocket::DeadlineIn(int timeoutMs)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

void TSmtpSocket::WaitFor(int descriptor, short events, TDeadline deadline) const
{
    deadline = std::min(deadline, FLimit);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw ESmtpSocketError::FromCode(ETIMEDOUT);
        pollfd waits[2] = {{descriptor, events, 0}, {FCancel, POLLIN, 0}};
        const int ready = ::poll(waits, FCancel >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            throw ESmtpSocketError::FromCode(errno);
        if (FCancel >= 0 && waits[1].revents != 0)
            throw ESmtpSocketError::FromCode(ECANCELED);
        if (waits[0].revents != 0)
            return;
    }
}

std::vector<TSocketAddress> TSmtpSocket::LookUp(const QString& host, std::uint16_t port, int timeoutMs) const
{
    const QByteArray name = host.toUtf8();
    if (std::vector<TSocketAddress> numeric = NumericAddress(name, port); !numeric.empty())
        return numeric;
    if (name.isEmpty() || name.contains('\0'))
        return {};
    const auto lookup = std::make_shared<TLookup>();
    if (lookup->Ready.Get() < 0)
        throw ESmtpSocketError::FromCode(errno);
    try {
        std::thread([lookup, name, port] {
            std::vector<TSocketAddress> addresses = Resolve(name, port);
            {
                const std::lock_guard guard(lookup->Lock);
                lookup->Addresses = std::move(addresses);
            }
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(lookup->Ready.Get(), &one, sizeof one);
        }).detach();
    } catch (const std::system_error& error) {
        throw ESmtpSocketError::FromCode(error.code().value());
    }
    WaitFor(lookup->Ready.Get(), POLLIN, DeadlineIn(timeoutMs));
    const std::lock_guard guard(lookup->Lock);
    return lookup->Addresses;
}

void TSmtpSocket::Connect(const std::vector<TSocketAddress>& addresses, int timeoutMs)
{
    Close();
    const TDeadline deadline = DeadlineIn(timeoutMs);
    for (const TSocketAddress& address : addresses) {
        const int descriptor =
            ::socket(address.Address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (descriptor < 0)
            throw ESmtpSocketError::FromCode(errno);
        FDescriptor = descriptor;
        if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address.Address), address.Length) == 0)
            return;
        if (errno == EINPROGRESS) {
            try {
                WaitFor(descriptor, POLLOUT, deadline);
            } catch (const ESmtpSocketError&) {
                Close();
                throw;
            }
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
                return;
        }
        Close();
    }
    throw ESmtpSocketError(QStringLiteral("Connection Failed"));
}

bool TSmtpSocket::Connected()
{
    if (FDescriptor < 0)
        return false;
    if (!FPeerClosed) {
        char next;
        const ssize_t n = ::recv(FDescriptor, &next, 1, MSG_PEEK | MSG_DONTWAIT);
        FPeerClosed = n == 0 || (n < 0 && !WouldBlock(errno));
    }
    if (FPeerClosed)
        Close();
    return FDescriptor >= 0;
}

void TSmtpSocket::Write(const QByteArray& bytes, int timeoutMs)
{
    if (FDescriptor < 0)
        throw ESmtpSocketError::FromCode(ENOTCONN);
    const TDeadline deadline = DeadlineIn(timeoutMs);
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::send(FDescriptor, bytes.constData() + done,
                                 static_cast<size_t>(bytes.size() - done), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            done += n;
            continue;
        }
        if (!WouldBlock(errno))
            throw ESmtpSocketError::FromCode(errno);
        WaitFor(FDescriptor, POLLOUT, deadline);
    }
}

QByteArray TSmtpSocket::ReadLine(TDeadline deadline, qsizetype maxLength)
{
    if (FDescriptor < 0)
        throw ESmtpSocketError::FromCode(ENOTCONN);
    for (;;) {
        const qsizetype end = FReceived.indexOf('\n');
        if (end >= maxLength || (end < 0 && FReceived.size() > maxLength))
            throw ESmtpError(QStringLiteral("The mail server's reply is too long"));
        if (end >= 0) {
            const QByteArray line = FReceived.left(end + 1);
            FReceived.remove(0, end + 1);
            return line;
        }
        if (FPeerClosed)
            return {};
        char chunk[1024];
        const ssize_t n = ::recv(FDescriptor, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            FReceived.append(chunk, n);
        } else if (n == 0) {
            FPeerClosed = true;
        } else if (WouldBlock(errno)) {
            WaitFor(FDescriptor, POLLIN, deadline);
        } else {
            throw ESmtpSocketError::FromCode(errno);
        }
    }
}

void TSmtpSocket::Close()
{
    if (FDescriptor >= 0)
        ::close(FDescriptor);
    FDescriptor = -1;
    FReceived.clear();
    FPeerClosed = false;
}
