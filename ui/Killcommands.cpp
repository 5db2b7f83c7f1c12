#include "ui/Killcommands.h"

#include "engine/Connectionslot.h"
#include "engine/Processcommands.h"
#include "engine/Torvanethread.h"
#include "model/Fixedtext.h"
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

// The process the views show under spid, as the latest refresh read it; empty when
// they show none or its login time is unknown (the kill then goes by spid alone).
std::optional<TShownProcess> ShownProcess(const TConnectionSlot& slot, std::int32_t spid)
{
    const TTorvaneProcessUserProcesses* const processes = slot.UserProcesses();
    if (!processes)
        return std::nullopt;
    // The entries are in SPID order.
    std::int32_t low = 0;
    std::int32_t high = processes->Count();
    while (low < high) {
        const std::int32_t middle = low + (high - low) / 2;
        if (processes->Entry(middle).Spid < spid)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == processes->Count() || processes->Entry(low).Spid != spid)
        return std::nullopt;
    const ProcessEntry* const entry = &processes->Entry(low);
    const std::optional<TDateTime> loginTime = TextToDateTime(FixedText(entry->LoginTime));
    if (!loginTime)
        return std::nullopt;
    return TShownProcess{*loginTime, std::string(FixedText(entry->LoginName))};
}

struct TKillAnswer
{
    std::int32_t ReturnCode = 0;
    TDateTime LoggedOnAt = 0;
};

} // namespace

void KillProcessAfterQuestion(QWidget* parent, TConnectionSlot* slot, std::int32_t spid)
{
    if (!slot || !slot->Thread())
        return;
    const QString id = QString::number(spid);
    // Taken before the question: refreshes go on while it is open, and the kill is for
    // the process the user was looking at.
    const std::optional<TShownProcess> shown = ShownProcess(*slot, spid);
    if (!Confirmed(parent, QStringLiteral("Do you want to kill process id ") + id + QLatin1Char('?'),
                   KillProcessCaption))
        return;
    slot->RunCommand<TKillAnswer>(
        [spid, shown](TTorvaneThread& thread) {
            TKillAnswer answer;
            answer.ReturnCode = KillShownProcess(thread, spid, shown, &answer.LoggedOnAt);
            return answer;
        },
        [parent = QPointer<QWidget>(parent), id, spid](const TCommandResult<TKillAnswer>& result) {
            if (ReportedError(parent, result, KillProcessCaption))
                return;
            if (result.Value->ReturnCode == -3)
                Report(parent, Text(ReusedSpidMessage(spid, result.Value->LoggedOnAt)), KillProcessCaption,
                       TMessageIcon::Information);
            else if (result.Value->ReturnCode == -1)
                Report(parent,
                       QStringLiteral("Process id ") + id +
                           QStringLiteral(" was not killed: it is this monitor's own connection."),
                       KillProcessCaption, TMessageIcon::Information);
            else if (result.Value->ReturnCode == -2)
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
