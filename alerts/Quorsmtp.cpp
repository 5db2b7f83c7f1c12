#include "alerts/Quorsmtp.h"

#include "alerts/Smtperror.h"

#include <QSysInfo>

#include <cerrno>
#include <utility>

namespace {

// "host:port" and "[v6address]:port" name their port; a bare host (an IPv6 address
// included) takes defaultPort. A colon without a port, or a port that is not a number
// from 1 to 65535, fails with what is wrong rather than falling back to some port.
std::pair<QString, std::uint16_t> SplitHostPort(const QString& text, std::uint16_t defaultPort)
{
    QString host = text.trimmed();
    QString port;
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        if (close < 0 || (host.size() > close + 1 && host[close + 1] != u':'))
            throw ESmtpSocketError(QStringLiteral("The SMTP host \"%1\" is not an address in brackets "
                                                  "with an optional \":port\"").arg(text));
        if (host.size() > close + 1)
            port = host.mid(close + 2);
        host = host.mid(1, close - 1);
    } else if (const qsizetype colon = host.indexOf(u':'); colon >= 0 && host.count(u':') == 1) {
        port = host.mid(colon + 1);
        host.truncate(colon);
    } else {
        return std::pair(host, defaultPort);
    }
    if (port.isEmpty())
        throw ESmtpSocketError(QStringLiteral("The SMTP host \"%1\" names no port after its colon").arg(text));
    bool number = false;
    const uint value = port.toUInt(&number);
    if (!number || value == 0 || value > 65535)
        throw ESmtpSocketError(
            QStringLiteral("The SMTP host \"%1\" names port \"%2\": a port is a number from 1 to 65535")
                .arg(text, port));
    return std::pair(host, static_cast<std::uint16_t>(value));
}

// The code of a reply line "NNN text", "NNN-text" or "NNN"; -1 for anything else.
int ReplyLineCode(const QByteArray& line)
{
    if (line.size() < 3 || line[0] < '2' || line[0] > '5' || line[1] < '0' || line[1] > '9' || line[2] < '0' ||
        line[2] > '9')
        return -1;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-' && line[3] != '\r' && line[3] != '\n')
        return -1;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// A line the server sent, for an error text: its start, control characters as '?'.
QString Shown(const QByteArray& line)
{
    QByteArray shown = line.left(80);
    while (shown.endsWith('\n') || shown.endsWith('\r'))
        shown.chop(1);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return QString::fromUtf8(shown) + (line.size() > 80 ? QStringLiteral("...") : QString());
}

QByteArray OneLine(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\r', ' ').replace('\n', ' ');
    return bytes;
}

// The HELO argument. Servers refuse a bare "HELO" (501), so without a user id the client
// greets with this machine's name, as the protocol asks.
QByteArray GreetingName(const QString& userId)
{
    if (!userId.isEmpty())
        return OneLine(userId);
    const QString machine = QSysInfo::machineHostName();
    return machine.isEmpty() ? QByteArray("localhost") : OneLine(machine);
}

} // namespace

void TQuorSMTP::Transaction(const QByteArray& command)
{
    FReplyCode = 0;
    try {
        FSocket.Write(command + "\r\n", TimeOut);
    } catch (const ESmtpFailure&) {
        FSocket.Close();
        throw;
    }
    ReadReply();
}

void TQuorSMTP::ReadReply()
{
    FReplyCode = 0;
    FReplyText.clear();
    const TSmtpSocket::TDeadline deadline = TSmtpSocket::DeadlineIn(TimeOut);
    try {
        for (qsizetype length = 0;;) {
            FReplyText = FSocket.ReadLine(deadline, MaxReplyLength - length);
            if (FReplyText.isEmpty())
                throw ESmtpSocketError(QStringLiteral("The mail server closed the connection without a reply"));
            length += FReplyText.size();
            const int code = ReplyLineCode(FReplyText);
            if (code < 0)
                throw ESmtpError(QStringLiteral("The mail server's reply is not SMTP: ") + Shown(FReplyText));
            if (FReplyText.size() < 4 || FReplyText[3] != '-') {
                FReplyCode = code;
                return;
            }
        }
    } catch (const ESmtpFailure&) {
        FSocket.Close();
        throw;
    }
}

void TQuorSMTP::FailWithReply() const
{
    QByteArray line = FReplyText;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    throw ESmtpError(QString::fromUtf8(line));
}

void TQuorSMTP::Connect()
{
    FSocket.Close();
    const auto [host, port] = SplitHostPort(Host, Port);
    std::vector<TSocketAddress> addresses = FSocket.LookUp(host, port, TimeOut);
    if (addresses.empty() && OnInvalidHost) {
        bool handled = false;
        OnInvalidHost(handled);
        if (handled)
            addresses = FSocket.LookUp(host, port, TimeOut);
    }
    if (addresses.empty())
        throw ESmtpSocketError(QStringLiteral("Null Remote Address"));
    FSocket.Connect(addresses, TimeOut);
    try {
        ReadReply();
        if (FReplyCode >= 300)
            FailWithReply();
        Transaction("HELO " + GreetingName(UserID));
        if (FReplyCode >= 300)
            throw ESmtpError(QStringLiteral("Authentication failed"));
    } catch (const ESmtpFailure&) {
        FSocket.Close();
        throw;
    }
}

void TQuorSMTP::Send()
{
    const QByteArray text = MessageText(PostMessage, Charset, QDateTime::currentDateTime(),
                                        NewMessageId(PostMessage.FromAddress));
    if (!Connected())
        throw ESmtpError(QStringLiteral("Not Connected"));
    if (PostMessage.FromAddress.isEmpty() || PostMessage.ToAddress.isEmpty())
        throw ESmtpError(QStringLiteral("Incomplete Header"));
    Transaction("RSET");
    if (FReplyCode >= 300)
        FailWithReply();
    Transaction("MAIL FROM:<" + OneLine(PostMessage.FromAddress) + '>');
    if (FReplyCode >= 300)
        FailWithReply();
    // A refused recipient is simply not one; with none left, DATA is refused.
    for (const QString& entry : PostMessage.ToAddress) {
        if (const QString address = RecipientAddress(entry); !address.isEmpty())
            Transaction("RCPT TO:<" + OneLine(address) + '>');
    }
    Transaction("DATA");
    if (FReplyCode / 100 != 3)
        FailWithReply();
    try {
        FSocket.Write(text, TimeOut);
    } catch (const ESmtpFailure&) {
        FSocket.Close();
        throw;
    }
    Transaction(".");
    if (FReplyCode != 250)
        FailWithReply();
    if (ClearParams)
        PostMessage.ToAddress.clear();
}

void TQuorSMTP::Disconnect()
{
    if (!Connected())
        throw ESmtpSocketError::FromCode(ENOTCONN);
    try {
        Transaction("QUIT");
    } catch (const ESmtpFailure&) {
        FSocket.Close();
        throw;
    }
    FSocket.Close();
    if (FReplyCode > 339)
        FailWithReply();
}
