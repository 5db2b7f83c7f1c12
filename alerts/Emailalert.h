#pragma once
// The three alert mails of one server: it has disconnected, its CPU usage stays high, it
// responds slowly. When an alert is due is decided elsewhere (the disconnect path, and
// the statistics' checks with their counts, thresholds and hour of re-arm); this object
// decides whether mail can be sent at all and what it says, and hands it to the mailer.
// It lives for one alert, on the thread of the window, and reads the settings afresh.
//
// A mail is sent only when "EmailAlerts" is on and "SMTPHost", "SMTPSender" and
// "AlertEmails" all exist; the disconnect mail also needs "Server Disconnect Alert".

#include "engine/Torvaneclock.h"

#include <QString>

#include <string>

class TAlertMailer;
class TTorvaneProcessUserProcesses;
class TTorvaneServerPerformance;

class TEmailAlert
{
public:
    // The references must outlive the object; the clock dates the mail.
    TEmailAlert(const TTorvaneProcessUserProcesses& userProcesses,
                const TTorvaneServerPerformance& serverPerformance, std::string serverName,
                const TClock& clock = SystemClock());

    void SendDisconnectEmail(TAlertMailer& mailer) const;
    void SendHighCpuEmail(TAlertMailer& mailer) const;
    void SendSlowResponseEmail(TAlertMailer& mailer) const;

private:
    struct TKind
    {
        const char* Subject;     // the server name follows
        const char* Headline;    // the server name and "." follow
        const char* Occurred;    // the date and time follow
        const char* Description; // " for " and the server name follow
    };
    static const TKind Disconnect;
    static const TKind HighCpu;
    static const TKind SlowResponse;

    void Send(TAlertMailer& mailer, const TKind& kind) const;
    // The mail's text: headline, when it occurred, the CPU history newest first, the
    // process table; lines end with CRLF.
    std::string BodyText(const TKind& kind) const;

    const TTorvaneProcessUserProcesses& UserProcesses;
    const TTorvaneServerPerformance& ServerPerformance;
    const std::string ServerName;
    const TClock& Clock;
};
