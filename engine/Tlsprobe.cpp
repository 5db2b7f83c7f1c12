#include "engine/Tlsprobe.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t PreloginType = 0x12;
constexpr std::uint8_t EncryptOff = 0x00;
constexpr std::uint8_t EncryptOn = 0x01;
constexpr std::uint8_t EncryptNotSupported = 0x02;
constexpr std::uint8_t EncryptRequired = 0x03;
constexpr std::size_t MaxAnswer = 1 << 20;

// A connected TCP socket with deadlines on every wait.
class TProbeSocket
{
public:
    TProbeSocket(const TServerAddress& address, int timeoutMs) : FTimeoutMs(timeoutMs)
    {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const std::string port = address.Port.empty() ? "1433" : address.Port;
        if (getaddrinfo(address.Host.c_str(), port.c_str(), &hints, &found) != 0)
            return;
        const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, freeaddrinfo);
        for (const addrinfo* entry = found; entry && FFd < 0; entry = entry->ai_next) {
            const int fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0)
                continue;
            if (::connect(fd, entry->ai_addr, entry->ai_addrlen) == 0 ||
                (errno == EINPROGRESS && Wait(fd, POLLOUT) && ConnectError(fd) == 0))
                FFd = fd;
            else
                ::close(fd);
        }
    }
    ~TProbeSocket()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TProbeSocket(const TProbeSocket&) = delete;
    TProbeSocket& operator=(const TProbeSocket&) = delete;

    explicit operator bool() const { return FFd >= 0; }

    bool Send(const Bytes& bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t sent = ::send(FFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (sent > 0)
                done += static_cast<std::size_t>(sent);
            else if (!(sent < 0 && (errno == EAGAIN || errno == EINTR) && Wait(FFd, POLLOUT)))
                return false;
        }
        return true;
    }

    // Exactly count bytes, or nothing when the server closed or kept silent.
    std::optional<Bytes> Receive(std::size_t count) const
    {
        Bytes bytes(count);
        std::size_t done = 0;
        while (done < count) {
            if (!Wait(FFd, POLLIN))
                return std::nullopt;
            const ssize_t got = ::recv(FFd, bytes.data() + done, count - done, 0);
            if (got > 0)
                done += static_cast<std::size_t>(got);
            else if (!(got < 0 && (errno == EAGAIN || errno == EINTR)))
                return std::nullopt;
        }
        return bytes;
    }

    // The payload of one whole TDS message (its packets joined).
    std::optional<Bytes> ReceiveMessage() const
    {
        Bytes payload;
        for (;;) {
            const auto header = Receive(8);
            if (!header)
                return std::nullopt;
            const std::size_t length = (std::size_t{(*header)[2]} << 8) | (*header)[3];
            if (length < 8 || payload.size() + length > MaxAnswer)
                return std::nullopt;
            const auto body = Receive(length - 8);
            if (!body)
                return std::nullopt;
            payload.insert(payload.end(), body->begin(), body->end());
            if ((*header)[1] & 0x01)
                return payload;
        }
    }

private:
    bool Wait(int fd, short events) const
    {
        pollfd entry{fd, events, 0};
        for (;;) {
            const int ready = ::poll(&entry, 1, FTimeoutMs);
            if (ready >= 0 || errno != EINTR)
                return ready > 0;
        }
    }
    static int ConnectError(int fd)
    {
        int error = 0;
        socklen_t length = sizeof error;
        return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : errno;
    }

    int FFd = -1;
    int FTimeoutMs;
};

// Pre-login packets of at most the size every server takes, the last one ending the message.
Bytes Packet(const Bytes& payload)
{
    constexpr std::size_t Chunk = 4096 - 8;
    Bytes packets;
    std::size_t at = 0;
    std::uint8_t number = 1;
    do {
        const std::size_t size = std::min(Chunk, payload.size() - at);
        const std::size_t length = size + 8;
        const bool last = at + size == payload.size();
        packets.insert(packets.end(), {PreloginType, static_cast<std::uint8_t>(last ? 0x01 : 0x00),
                                       static_cast<std::uint8_t>(length >> 8),
                                       static_cast<std::uint8_t>(length), 0, 0, number++, 0});
        packets.insert(packets.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                       payload.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    } while (at < payload.size());
    return packets;
}

Bytes Prelogin(std::uint8_t encryption)
{
    // VERSION (6 bytes) at 11, ENCRYPTION (1 byte) at 17, terminator.
    return Packet({0x00, 0x00, 11, 0x00, 6, 0x01, 0x00, 17, 0x00, 1, 0xFF, 0, 0, 0, 0, 0, 0, encryption});
}

std::optional<std::uint8_t> ServerEncryption(const Bytes& answer)
{
    for (std::size_t at = 0; at + 5 <= answer.size() && answer[at] != 0xFF; at += 5) {
        const std::size_t offset = (std::size_t{answer[at + 1]} << 8) | answer[at + 2];
        const std::size_t length = (std::size_t{answer[at + 3]} << 8) | answer[at + 4];
        if (answer[at] == 0x01 && length >= 1 && offset < answer.size())
            return answer[offset] & 0x03;
    }
    return std::nullopt;
}

std::string OpenSslReason()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "the server closed the connection";
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : "unknown reason";
}

QString Words(const char* text, const std::string& reason)
{
    return QString::fromUtf8(text).arg(QString::fromStdString(reason));
}

// The handshake inside pre-login packets, checking the certificate when asked to.
std::string CheckHandshake(const TProbeSocket& socket, const TServerAddress& address,
                           const TDriverSecurity& security, bool freeTds)
{
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                                    SSL_CTX_free);
    if (!context)
        return {};
    if (security.ValidateCertificate) {
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
        const bool loaded =
            security.FreeTdsCaFile.empty() || security.FreeTdsCaFile == "system"
                ? SSL_CTX_set_default_verify_paths(context.get()) == 1
                : SSL_CTX_load_verify_locations(context.get(), security.FreeTdsCaFile.c_str(), nullptr) == 1;
        if (!loaded)
            return Words(freeTds ? TlsCertificateNotTrustedFreeTds : TlsCertificateNotTrustedSystem,
                         "the CA file " + security.FreeTdsCaFile + " cannot be read: " + OpenSslReason())
                .toStdString();
    }
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (!ssl || !in || !out) {
        BIO_free(in);
        BIO_free(out);
        return {};
    }
    BIO_set_mem_eof_return(in, -1);
    SSL_set_bio(ssl.get(), in, out);
    SSL_set_connect_state(ssl.get());
    // A name is checked as a host name and sent as the server's name; an address is
    // checked as an address, and a server name is never an address.
    const bool isAddress =
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), address.Host.c_str()) == 1;
    if (!isAddress) {
        SSL_set1_host(ssl.get(), address.Host.c_str());
        SSL_set_tlsext_host_name(ssl.get(), address.Host.c_str());
    }
    for (;;) {
        const int rc = SSL_do_handshake(ssl.get());
        const int error = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl.get(), rc);
        if (rc != 1 && error != SSL_ERROR_WANT_READ) {
            const long verified = SSL_get_verify_result(ssl.get());
            if (security.ValidateCertificate && verified != X509_V_OK)
                return Words(freeTds ? TlsCertificateNotTrustedFreeTds : TlsCertificateNotTrustedSystem,
                             X509_verify_cert_error_string(verified))
                    .toStdString();
            return Words(TlsNotAgreed, OpenSslReason()).toStdString();
        }
        Bytes flight(static_cast<std::size_t>(BIO_ctrl_pending(out)));
        if (!flight.empty()) {
            BIO_read(out, flight.data(), static_cast<int>(flight.size()));
            if (!socket.Send(Packet(flight)))
                return {};
        }
        if (rc == 1)
            return {}; // the certificate passes: something else failed
        const auto answer = socket.ReceiveMessage();
        if (!answer)
            return Words(TlsNotAgreed, "the server ended the handshake").toStdString();
        BIO_write(in, answer->data(), static_cast<int>(answer->size()));
    }
}

} // namespace

std::string ExplainTlsFailure(const TServerAddress& address, const TDriverSecurity& security, bool freeTds,
                              int timeoutSeconds)
{
    if (!address.Instance.empty() && address.Port.empty())
        return {};
    const TProbeSocket socket(address, timeoutSeconds * 1000);
    // What the driver offers: FreeTDS switched off cannot encrypt at all, Microsoft's
    // drivers switched off still encrypt the login, and everything when the server insists.
    const std::uint8_t offered = security.Encrypt == EEncrypt::Required         ? EncryptOn
                                 : security.Encrypt == EEncrypt::Off && freeTds ? EncryptNotSupported
                                                                                : EncryptOff;
    if (!socket || !socket.Send(Prelogin(offered)))
        return {};
    const auto answer = socket.ReceiveMessage();
    const auto server = answer ? ServerEncryption(*answer) : std::nullopt;
    if (!server)
        return {};
    if (offered == EncryptNotSupported)
        return *server == EncryptRequired ? TlsServerRequiresEncryption : std::string();
    if (*server == EncryptNotSupported)
        return offered == EncryptOn ? TlsServerCannotEncrypt : std::string();
    TDriverSecurity checked = security;
    // Microsoft's drivers check no certificate when only the login is encrypted.
    if (!freeTds && offered == EncryptOff && *server == EncryptOff)
        checked.ValidateCertificate = false;
    return CheckHandshake(socket, address, checked, freeTds);
}
