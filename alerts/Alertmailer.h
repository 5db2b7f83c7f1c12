#pragma once
// The sender of the alert mails of every server: an SMTP client on a thread of its own per
// mail server, so a mail server that is slow or gone delays no refresh, no click and no
// alert meant for another mail server (the settings may name a new one while the old one
// hangs). Alerts for one mail server that come while one is being sent wait their turn,
// up to QueueBound of them: one disconnect alert from each of the 25 servers at once (a
// network outage) still fits. An alert beyond that is reported as not sent rather than
// dropped silently. Each reply may take timeOutMs, each alert's whole dialogue
// mailTimeOutMs, so a server that keeps answering slowly still lets the queue move.
//
// Every alert ends in exactly one of the two signals, on the thread that owns the mailer.

#include "alerts/Smtpthread.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

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
    static constexpr int DefaultMailTimeOut = 120000;

    explicit TAlertMailer(int timeOutMs = TQuorSMTP::DefaultTimeOut, int mailTimeOutMs = DefaultMailTimeOut,
                          QObject* parent = nullptr);

    void Send(const TAlertMail& mail);
    // Alerts taken and not yet reported by one of the signals.
    int Pending() const { return FPending; }

Q_SIGNALS:
    // One line: the alert's description, " sent to " and the recipient.
    void MailSent(const QString& line);
    // One line: the alert's description, " not sent: " and the reason.
    void MailFailed(const QString& line);

private:
    struct TSender
    {
        std::unique_ptr<TSmtpThread> Thread;
        int Pending = 0;
    };

    const int FTimeOut;
    const int FMailTimeOut;
    int FPending = 0;
    // By mail server ("SMTPHost" as written); a sender with nothing pending is ended when
    // an alert for another mail server comes.
    std::map<QString, TSender> FSenders;
};
