#include "ui/Killcommands.h"

#include "engine/Connectionslot.h"
#include "engine/Torvanethread.h"
#include "ui/Messagebox.h"

#include <QPointer>
#include <QWidget>

namespace {

const QString KillProcessCaption = QStringLiteral("Kill Process");
const QString KillAllCaption = QStringLiteral("Kill Database Processes");

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

bool Confirmed(QWidget* parent, const QString& question, const QString& caption)
{
    return ShowMessage(parent, {question, caption, TMessageButtons::YesNo, TMessageIcon::None}) ==
           TMessageResult::Yes;
}

// The parent may be gone when the answer comes back; the box then stands alone.
void Report(const QPointer<QWidget>& parent, const QString& text, const QString& caption, TMessageIcon icon)
{
    ShowMessage(parent.data(), {text, caption, TMessageButtons::Ok, icon});
}

// The server refused the batch: its own words, as for any other failed command.
template <typename T>
bool ReportedError(const QPointer<QWidget>& parent, const TCommandResult<T>& result, const QString& caption)
{
    if (result.Succeeded())
        return false;
    Report(parent, Text(result.Error), caption, TMessageIcon::Error);
    return true;
}

} // namespace

void KillProcessAfterQuestion(QWidget* parent, TConnectionSlot* slot, std::int32_t spid)
{
    if (!slot || !slot->Thread())
        return;
    const QString id = QString::number(spid);
    if (!Confirmed(parent, QStringLiteral("Do you want to kill process id ") + id + QLatin1Char('?'),
                   KillProcessCaption))
        return;
    slot->RunCommand<std::int32_t>(
        [spid](TTorvaneThread& thread) { return thread.KillProcess(spid); },
        [parent = QPointer<QWidget>(parent), id](const TCommandResult<std::int32_t>& result) {
            if (ReportedError(parent, result, KillProcessCaption))
                return;
            if (*result.Value == -1)
                Report(parent,
                       QStringLiteral("Process id ") + id +
                           QStringLiteral(" was not killed: it is this monitor's own connection."),
                       KillProcessCaption, TMessageIcon::Information);
            else if (*result.Value == -2)
                Report(parent,
                       QStringLiteral("Process id ") + id +
                           QStringLiteral(" was not killed: it is a system process."),
                       KillProcessCaption, TMessageIcon::Information);
        });
}

void KillDatabaseProcessesAfterQuestion(QWidget* parent, TConnectionSlot* slot,
                                        const std::string& databaseName)
{
    if (!slot || !slot->Thread())
        return;
    if (!Confirmed(parent,
                   QStringLiteral("Do you want to kill all processes connected to database ") +
                       Text(databaseName) + QLatin1Char('?'),
                   KillAllCaption))
        return;
    slot->RunCommand<bool>(
        [databaseName](TTorvaneThread& thread) {
            thread.KillDatabaseProcesses(databaseName);
            return true;
        },
        [parent = QPointer<QWidget>(parent)](const TCommandResult<bool>& result) {
            ReportedError(parent, result, KillAllCaption);
        });
}

void KillUserProcessesAfterQuestion(QWidget* parent, TConnectionSlot* slot, const std::string& loginName,
                                    const std::string& ntDomain, const std::string& ntUserName,
                                    const std::string& hostName)
{
    if (!slot || !slot->Thread())
        return;
    QString question = QStringLiteral("Do you want to kill all processes for user ") + Text(loginName);
    if (!hostName.empty())
        question += QStringLiteral(" running on host ") + Text(hostName);
    question += QLatin1Char('?');
    if (!Confirmed(parent, question, KillAllCaption))
        return;
    slot->RunCommand<bool>(
        [=](TTorvaneThread& thread) {
            thread.KillUserProcesses(loginName, ntDomain, ntUserName, hostName);
            return true;
        },
        [parent = QPointer<QWidget>(parent)](const TCommandResult<bool>& result) {
            ReportedError(parent, result, KillAllCaption);
        });
}
