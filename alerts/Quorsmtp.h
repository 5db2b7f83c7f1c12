#pragma once
// The SMTP client: connects to a mail server, greets it, sends one plain-text message at
// a time and says goodbye. Its operations block until the server has answered, each
// wait bounded by TimeOut, so it runs on a thread of its own (TSmtpThread), never on
// the thread of the window. Failures are raised as ESmtpSocketError or ESmtpError (see
// alerts/Smtperror.h); the client shows nothing itself.
//
// Connect: look up Host (it may name a port as "host:port"; otherwise Port is used),
// connect, read the greeting, send "HELO" with UserID, or with this machine's name when
// UserID is empty. Send: RSET, MAIL FROM, RCPT TO for each recipient, DATA, the message
// (alerts/Smtpmessage.h), ".". Disconnect: QUIT and close.
//
// A command is answered only by a whole reply: every line "NNN-text" up to the last one,
// "NNN text", at most MaxReplyLength bytes in all, within TimeOut. A reply that breaks
// off (the server closed the connection), is not of that form, is longer, or comes too
// late fails the operation and closes the connection, since the dialogue is out of step
// from there on. The message counts as sent only when the server answered 250 to ".".

#include "alerts/Smtpmessage.h"
#include "alerts/Smtpsocket.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

class TQuorSMTP
{
public:
    static constexpr std::uint16_t DefaultPort = 25;
    static constexpr int DefaultTimeOut = 30000;
    static constexpr qsizetype MaxReplyLength = 65536;

    // cancelDescriptor: an eventfd that, once readable, ends every wait at once (-1: none).
    explicit TQuorSMTP(int cancelDescriptor = -1) : FSocket(cancelDescriptor) {}

    QString Host;                                 // name or address, optionally ":port"
    std::uint16_t Port = DefaultPort;             // when Host names none
    QString UserID;                               // the argument of HELO
    int TimeOut = DefaultTimeOut;                 // milliseconds, for every reply as a whole
    QString Charset = QStringLiteral("us-ascii"); // of messages in plain ASCII
    bool ClearParams = true;                      // forget the recipients after a message
    TPostMessage PostMessage;
    // Called on this client's thread when Host gives no address; setting handled to true
    // looks the name up once more.
    std::function<void(bool& handled)> OnInvalidHost;

    // Fails with a socket error (a Host naming no port or a port out of range, "Null
    // Remote Address", "Connection Failed", a code) or a plain error (the refused
    // greeting, "Authentication failed"); the connection is closed again on failure.
    void Connect();
    // Sends PostMessage over the open connection: "Not Connected", "Incomplete Header",
    // or the reply line of a refused command. The connection stays open on failure.
    void Send();
    // QUIT, then close in every case. On a connection that is not open (or that the
    // server has closed) fails with the socket error for ENOTCONN.
    void Disconnect();
    // The connection is open and the server has not closed it.
    bool Connected() { return FSocket.Connected(); }

    // No wait of any operation goes past deadline, until it is set again.
    void SetDeadline(TSmtpSocket::TDeadline deadline) { FSocket.SetLimit(deadline); }

    std::int64_t ReplyCode() const { return FReplyCode; }
    const QByteArray& ReplyText() const { return FReplyText; } // its last line, with its line end

private:
    void Transaction(const QByteArray& command);
    void ReadReply();
    // The reply line of the last command as a plain error.
    [[noreturn]] void FailWithReply() const;

    TSmtpSocket FSocket;
    std::int64_t FReplyCode = 0;
    QByteArray FReplyText;
};
