#pragma once
// The sender of the alert mails of every server: one SMTP client on its own thread, so a
// mail server that is slow or gone delays no refresh and no click. Alerts that come while
// one is being sent wait their turn, up to QueueBound of them: one disconnect alert from
// each of the 25 servers at once (a network outage) still fits. An alert beyond that is
// reported as not sent rather than dropped silently.
//
// Every alert ends in exactly one of the two signals, on the thread that owns the mailer.

#include "alerts/Smtpthread.h"

#include <QObject>
#include <QString>

struct TAlertMail
{
    QString Host;      // "SMTPHost", optionally "host:port"
    QString UserId;    // "SMTPUser"
    QString Sender;    // "SMTPSender"
    QString Recipient; // "AlertEmails", the one recipient entry
    QString Subject;
    QString Body;
    QString Description; // what the alert is, for the failure line: "Disconnect alert for X"
};

class TAlertMailer : public QObject
{
    Q_OBJECT

public:
    static constexpr int QueueBound = 32;

    // timeOutMs bounds every single wait on the mail server.
    explicit TAlertMailer(int timeOutMs = TQuorSMTP::DefaultTimeOut, QObject* parent = nullptr);

    void Send(const TAlertMail& mail);
    // Alerts taken and not yet reported by one of the signals.
    int Pending() const { return FPending; }

Q_SIGNALS:
    void MailSent(const QString& subject);
    // One line: the alert's description, " not sent: " and the reason.
    void MailFailed(const QString& line);

private:
    const int FTimeOut;
    int FPending = 0;
    TSmtpThread FThread;
};
