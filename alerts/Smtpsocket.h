#pragma once
// The TCP side of the SMTP client: name lookup, connection, sending, reading reply lines.
// Every wait is bounded: it ends at its time-out, or at the limit set for the whole
// dialogue when that comes first, with the socket error for ETIMEDOUT ("110:Connection
// timed out"), and at once, with the error for ECANCELED, when the
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
    using TDeadline = std::chrono::steady_clock::time_point;
    static TDeadline DeadlineIn(int timeoutMs);

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
    // The next line with its line feed, by deadline; empty when the peer has closed the
    // connection before a line feed came. A line longer than maxLength fails (a plain
    // error): a peer that never sends a line feed cannot grow it forever.
    QByteArray ReadLine(TDeadline deadline, qsizetype maxLength);
    void Close();
    // No wait goes past limit (until set again; the maximum: none).
    void SetLimit(TDeadline limit) { FLimit = limit; }

private:
    // Returns when descriptor has one of the events, the peer hung up or it failed.
    void WaitFor(int descriptor, short events, TDeadline deadline) const;

    const int FCancel;
    int FDescriptor = -1;
    QByteArray FReceived; // read but not yet returned
    bool FPeerClosed = false;
    TDeadline FLimit = TDeadline::max();
};
