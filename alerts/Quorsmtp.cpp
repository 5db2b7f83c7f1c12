#include "alerts/Quorsmtp.h"

#include "alerts/Smtperror.h"

#include <QSysInfo>

#include <cerrno>
#include <utility>

namespace {

// "host:port" and "[v6address]:port" name their port; a bare host (an IPv6 address
// included) takes defaultPort. Empty when the port is not a number from 1 to 65535.
std::optional<std::pair<QString, std::uint16_t>> SplitHostPort(const QString& text, std::uint16_t defaultPort)
{
    QString host = text.trimmed();
    QString port;
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        if (host.size() > close + 1) {
            if (host[close + 1] != u':')
                return std::nullopt;
            port = host.mid(close + 2);
        }
        host = host.mid(1, close - 1);
    } else if (host.count(u':') == 1) {
        port = host.section(u':', 1);
        host = host.section(u':', 0, 0);
    }
    if (port.isNull())
        return std::pair(host, defaultPort);
    bool number = false;
    const uint value = port.toUInt(&number);
    if (!number || value == 0 || value > 65535)
        return std::nullopt;
    return std::pair(host, static_cast<std::uint16_t>(value));
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
    FSocket.Write(command + "\r\n", TimeOut);
    ReadReply();
}

void TQuorSMTP::ReadReply()
{
    FReplyText = FSocket.ReadLine(TimeOut);
    FReplyCode = 0;
    for (qsizetype i = 0; i < FReplyText.size() && i < 10 && FReplyText[i] >= '0' && FReplyText[i] <= '9';
         ++i)
        FReplyCode = FReplyCode * 10 + (FReplyText[i] - '0');
}

void TQuorSMTP::ReadContinuationLines()
{
    const std::int64_t code = FReplyCode;
    while (!FReplyText.isEmpty() &&
           (FReplyText.startsWith(' ') || (FReplyText.size() > 3 && FReplyText[3] == '-')))
        FReplyText = FSocket.ReadLine(TimeOut);
    FReplyCode = code;
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
    const auto hostPort = SplitHostPort(Host, Port);
    if (!hostPort)
        throw ESmtpSocketError(QStringLiteral("Null Remote Address"));
    const auto& [host, port] = *hostPort;
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
        ReadContinuationLines();
        if (FReplyCode >= 400)
            FailWithReply();
        Transaction("HELO " + GreetingName(UserID));
        ReadContinuationLines();
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
    if (FReplyCode >= 400)
        FailWithReply();
    Transaction("MAIL FROM:<" + OneLine(PostMessage.FromAddress) + '>');
    if (FReplyCode >= 400)
        FailWithReply();
    // A refused recipient is simply not one; with none left, DATA is refused.
    for (const QString& entry : PostMessage.ToAddress) {
        if (const QString address = RecipientAddress(entry); !address.isEmpty())
            Transaction("RCPT TO:<" + OneLine(address) + '>');
    }
    Transaction("DATA");
    if (FReplyCode >= 400)
        FailWithReply();
    FSocket.Write(text, TimeOut);
    Transaction(".");
    if (FReplyCode >= 400)
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
