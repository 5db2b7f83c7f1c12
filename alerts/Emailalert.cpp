#include "alerts/Emailalert.h"

#include "alerts/Alertmailer.h"
#include "engine/Commonfuncs.h"
#include "engine/Torvaneserverperformance.h"
#include "model/Blockingchains.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "settings/Torvanesettings.h"

#include <QDateTime>

const TEmailAlert::TKind TEmailAlert::Disconnect = {
    "Torvane has disconnected from the database server ",
    "Torvane has disconnected from the database server ",
    "Disconnect occurred: ",
    "Disconnect alert",
};
const TEmailAlert::TKind TEmailAlert::HighCpu = {
    "Torvane has detected high CPU usage on ",
    "Torvane has detected high CPU usage on the database server ",
    "High CPU Usage occurred: ",
    "High CPU alert",
};
const TEmailAlert::TKind TEmailAlert::SlowResponse = {
    "Torvane has detected slow response from ",
    "Torvane has detected slow response times from the server ",
    "Slow response occurred: ",
    "Slow response alert",
};

TEmailAlert::TEmailAlert(const TTorvaneProcessUserProcesses& userProcesses,
                         const TTorvaneServerPerformance& serverPerformance, std::string serverName,
                         const TClock& clock)
    : UserProcesses(userProcesses), ServerPerformance(serverPerformance), ServerName(std::move(serverName)),
      Clock(clock)
{
}

void TEmailAlert::SendDisconnectEmail(TAlertMailer& mailer) const
{
    // A DBA who cleared "Server Disconnect Alert" expects no such mail.
    if (ReadDisconnectAlertEnabled())
        Send(mailer, Disconnect);
}

void TEmailAlert::SendHighCpuEmail(TAlertMailer& mailer) const
{
    Send(mailer, HighCpu);
}

void TEmailAlert::SendSlowResponseEmail(TAlertMailer& mailer) const
{
    Send(mailer, SlowResponse);
}

void TEmailAlert::Send(TAlertMailer& mailer, const TKind& kind) const
{
    const std::optional<TSmtpSettings> smtp = ReadSmtpSettings();
    if (!smtp)
        return;
    const QString server = QString::fromStdString(ServerName);
    mailer.Send(TAlertMail{
        .Host = smtp->Host,
        .UserId = smtp->UserId,
        .Sender = smtp->Sender,
        .Recipient = smtp->Recipient,
        .Subject = QString::fromUtf8(kind.Subject) + server,
        .Body = QString::fromStdString(BodyText(kind)),
        .Description = QString::fromUtf8(kind.Description) + QStringLiteral(" for ") + server,
    });
}

std::string TEmailAlert::BodyText(const TKind& kind) const
{
    std::string body = kind.Headline + ServerName + ".\r\n";
    body += "\r\n";
    body += kind.Occurred + DateTimeToText(Clock.Now());
    body += "\r\nTime\tCPU %\r\n";
    const auto& cpu = ServerPerformance.History()[TTorvaneServerPerformance::SeriesCpuBusy];
    for (int i = TTorvaneServerPerformance::HistoryLength - 1; i >= 0; --i) {
        if (!ServerPerformance.SampleValid()[i])
            continue;
        const TDateTime time = ServerPerformance.SampleTime()[i];
        body += QDateTime(DateOf(time), TimeOf(time))
                    .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                    .toStdString();
        body += '\t' + std::to_string(cpu[i]) + "\r\n";
    }
    body += "\r\n\r\n";
    // The lead blockers are marked: the first thing to look at when a server is slow.
    TBlockingChains chains;
    chains.Build(UserProcesses, nullptr);
    body += UserProcesses.GetProcessTable(&chains);
    return body;
}
