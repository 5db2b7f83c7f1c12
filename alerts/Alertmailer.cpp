#include "alerts/Alertmailer.h"

#include "alerts/Smtperror.h"

namespace {

// The alert's whole dialogue on the mail thread; an empty text when the mail was sent.
QString SendAlert(TQuorSMTP& client, const TAlertMail& mail, int timeOut, int mailTimeOut)
{
    client.SetDeadline(TSmtpSocket::DeadlineIn(mailTimeOut));
    // A client that a failed alert left connected starts over.
    if (client.Connected()) {
        try {
            client.Disconnect();
        } catch (const ESmtpFailure&) {
        }
    }
    client.PostMessage = TPostMessage();
    client.Host = mail.Host;
    client.UserID = mail.UserId;
    client.TimeOut = timeOut;
    // A name server can fail once and answer the next time.
    client.OnInvalidHost = [](bool& handled) { handled = true; };
    QString failure;
    try {
        client.Connect();
        if (!client.Connected())
            throw ESmtpSocketError(QStringLiteral("Could not connect to smtp server"));
        client.PostMessage.FromAddress = mail.Sender;
        client.PostMessage.FromName = QStringLiteral("Torvane Alert");
        client.PostMessage.ToAddress = QStringList{mail.Recipient};
        client.PostMessage.Subject = mail.Subject;
        client.PostMessage.Body = QStringList{mail.Body};
        client.Send();
    } catch (const ESmtpFailure& error) {
        failure = error.Text();
    }
    if (client.Connected()) {
        try {
            client.Disconnect();
        } catch (const ESmtpFailure&) {
            // The message was taken, or its own failure is already known; the goodbye
            // closed the connection either way.
        }
    }
    return failure;
}

} // namespace

TAlertMailer::TAlertMailer(int timeOutMs, int mailTimeOutMs, QObject* parent)
    : QObject(parent), FTimeOut(timeOutMs), FMailTimeOut(mailTimeOutMs)
{
}

void TAlertMailer::Send(const TAlertMail& mail)
{
    // Idle senders of other mail servers go, through the event loop: this may run inside
    // one of their own reports (a slot of MailSent that sends another alert).
    for (auto entry = FSenders.begin(); entry != FSenders.end();) {
        if (entry->second.Pending != 0 || entry->first == mail.Host) {
            ++entry;
            continue;
        }
        entry->second.Thread.release()->deleteLater();
        entry = FSenders.erase(entry);
    }
    TSender& sender = FSenders[mail.Host];
    if (!sender.Thread)
        sender.Thread = std::make_unique<TSmtpThread>(QueueBound);
    const int timeOut = FTimeOut;
    const int mailTimeOut = FMailTimeOut;
    const bool queued = sender.Thread->Post([this, mail, timeOut, mailTimeOut](TQuorSMTP& client) -> TSmtpThread::TResult {
        const QString failure = SendAlert(client, mail, timeOut, mailTimeOut);
        return [this, mail, failure] {
            --FPending;
            --FSenders[mail.Host].Pending;
            if (failure.isEmpty())
                Q_EMIT MailSent(mail.Description + QStringLiteral(" sent to ") + mail.Recipient);
            else
                Q_EMIT MailFailed(mail.Description + QStringLiteral(" not sent: ") + failure);
        };
    });
    if (queued) {
        ++FPending;
        ++sender.Pending;
    } else
        Q_EMIT MailFailed(mail.Description +
                          QStringLiteral(" not sent: %1 alert mails are already waiting").arg(QueueBound));
}
