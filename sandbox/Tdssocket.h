#pragma once
// A TCP socket on the loopback interface, closed when the object goes. Blocking
// calls in one thread can be woken from another with Shutdown(), which is how the
// server drops connections and stops listening.

#include <cstdint>
#include <span>
#include <string>

namespace sandbox {

class TTdsSocket
{
public:
    TTdsSocket() = default;
    explicit TTdsSocket(int fd) : FFd(fd) {}
    ~TTdsSocket();
    TTdsSocket(TTdsSocket&& other) noexcept;
    TTdsSocket& operator=(TTdsSocket&& other) noexcept;
    TTdsSocket(const TTdsSocket&) = delete;
    TTdsSocket& operator=(const TTdsSocket&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port). Throws std::system_error.
    static TTdsSocket Listen(std::uint16_t port);

    explicit operator bool() const { return FFd >= 0; }
    std::uint16_t LocalPort() const;
    std::string PeerAddress() const;

    // The next client, or an invalid socket once the listener is shut down.
    TTdsSocket Accept() const;
    // Waits up to timeoutMs (negative: no limit) for data or the end of the stream.
    bool WaitReadable(int timeoutMs) const;
    // Some bytes; 0 when the peer closed or the socket was shut down, -1 on error.
    std::ptrdiff_t Receive(std::span<std::uint8_t> buffer) const;
    // Everything or nothing useful: false once the connection is gone.
    bool SendAll(std::span<const std::uint8_t> bytes) const;
    // Ends both directions; blocked calls in other threads return.
    void Shutdown() const;

private:
    int FFd = -1;
};

} // namespace sandbox
