#pragma once
// The TCP side of the SMTP client: name lookup, connection, sending, reading reply lines.
// Every wait is bounded: it ends at its time-out with the socket error for ETIMEDOUT
// ("110:Connection timed out"), and at once, with the error for ECANCELED, when the
// cancel descriptor (an eventfd, or -1 for none) becomes readable, so the thread that
// owns the client can be stopped while a mail server keeps it waiting. Used by one
// thread at a time.

#include <QByteArray>
#include <QString>

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <vector>

struct TSocketAddress
{
    sockaddr_storage Address{};
    socklen_t Length = 0;
};

class TSmtpSocket
{
public:
    explicit TSmtpSocket(int cancelDescriptor = -1) : FCancel(cancelDescriptor) {}
    ~TSmtpSocket() { Close(); }
    TSmtpSocket(const TSmtpSocket&) = delete;
    TSmtpSocket& operator=(const TSmtpSocket&) = delete;

    // The addresses of a numeric address or a host name; empty when the name gives none.
    // The lookup runs on a thread of its own that is left to finish by itself when the
    // wait ends first.
    std::vector<TSocketAddress> LookUp(const QString& host, std::uint16_t port, int timeoutMs) const;

    // Tries the addresses in turn until one accepts. Fails with "Connection Failed" when
    // every one refuses or fails.
    void Connect(const std::vector<TSocketAddress>& addresses, int timeoutMs);

    // Open, and the peer has not closed its side (nothing is consumed to find out).
    bool Connected();
    void Write(const QByteArray& bytes, int timeoutMs);
    // The next line with its line feed; empty when the peer has closed the connection.
    QByteArray ReadLine(int timeoutMs);
    void Close();

private:
    using TDeadline = std::chrono::steady_clock::time_point;
    static TDeadline DeadlineIn(int timeoutMs);
    // Returns when descriptor has one of the events, the peer hung up or it failed.
    void WaitFor(int descriptor, short events, TDeadline deadline) const;

    const int FCancel;
    int FDescriptor = -1;
    QByteArray FReceived; // read but not yet returned
    bool FPeerClosed = false;
};
