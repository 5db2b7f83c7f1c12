#include "app/Oneshotcommands.h"

#include "app/Stopsignals.h"
#include "engine/Connectionslot.h"
#include "engine/Processcommands.h"
#include "engine/Torvanethread.h"

#include <QCoreApplication>
#include <QDateTime>

#include <chrono>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace {

const QString KillProcessOption = QStringLiteral("kill-process");
const QString LoginTimeOption = QStringLiteral("login-time");
const QString KillDatabaseOption = QStringLiteral("kill-database");
const QString KillUserOption = QStringLiteral("kill-user");
const QString SqlTextOption = QStringLiteral("sql-text");

// A connection that fails is reported by the thread through its owner; there is no
// view to redraw and no refresh, so nothing else is ever asked of this owner.
class TOneShotOwner : public TTorvaneOwner
{
public:
    void ShowMessageBox(const std::string& text, const std::string&) override
    {
        std::cerr << text << std::endl;
    }
    void RefreshSlotView(std::int32_t) override {}
    void SendDisconnectAlert(std::int32_t) override {}
    void SendCpuAlert(std::int32_t) override {}
    void SendResponseAlert(std::int32_t) override {}
};

std::optional<std::int32_t> ReadSpid(const QCommandLineParser& parser, const QString& option, QString& error)
{
    bool ok = false;
    const int spid = parser.value(option).toInt(&ok);
    if (!ok || spid < 1 || spid > 32767) {
        error = QStringLiteral("--%1 takes a process id (SPID) from 1 to 32767.").arg(option);
        return std::nullopt;
    }
    return spid;
}

// ISO 8601 to the second ("T" or a blank between date and time), or the text the
// process lists show in this locale.
std::optional<TDateTime> ReadLoginTime(const QString& text)
{
    for (const QString& format : {QStringLiteral("yyyy-MM-ddTHH:mm:ss"), QStringLiteral("yyyy-MM-dd HH:mm:ss")}) {
        const QDateTime value = QDateTime::fromString(text.trimmed(), format);
        if (value.isValid())
            return EncodeDateTime(value.date(), value.time());
    }
    return TextToDateTime(text.trimmed().toStdString());
}

} // namespace

void AddOneShotOptions(QCommandLineParser& parser)
{
    parser.addOption({KillProcessOption, QStringLiteral("Kill one process and print the return code."),
                      QStringLiteral("spid")});
    parser.addOption({LoginTimeOption,
                      QStringLiteral("Only if it logged on then (yyyy-MM-dd hh:mm:ss)."),
                      QStringLiteral("time")});
    parser.addOption({KillDatabaseOption, QStringLiteral("Kill every process attached to a database."),
                      QStringLiteral("name")});
    parser.addOption({KillUserOption, QStringLiteral("Kill one user's processes on one host (see below)."),
                      QStringLiteral("login")});
    parser.addOption({QStringLiteral("nt-domain"),
                      QStringLiteral("The user's Windows domain, for --kill-user."),
                      QStringLiteral("domain")});
    parser.addOption({QStringLiteral("nt-user"),
                      QStringLiteral("The user's Windows user name, for --kill-user."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("host"), QStringLiteral("The user's host name, for --kill-user."),
                      QStringLiteral("name")});
    parser.addOption({SqlTextOption, QStringLiteral("Print a process's description line and SQL."),
                      QStringLiteral("spid")});
    parser.addOption({QStringLiteral("source"),
                      QStringLiteral("For --sql-text: inputbuffer (default) or statement."),
                      QStringLiteral("source")});
}

bool HasOneShotCommand(const QCommandLineParser& parser)
{
    return parser.isSet(KillProcessOption) || parser.isSet(KillDatabaseOption) ||
           parser.isSet(KillUserOption) || parser.isSet(SqlTextOption);
}

std::optional<TOneShotCommand> ReadOneShotCommand(const QCommandLineParser& parser, QString& error)
{
    const int given = int(parser.isSet(KillProcessOption)) + int(parser.isSet(KillDatabaseOption)) +
                      int(parser.isSet(KillUserOption)) + int(parser.isSet(SqlTextOption));
    if (given != 1) {
        error = QStringLiteral("Give one of --kill-process, --kill-database, --kill-user and --sql-text.");
        return std::nullopt;
    }
    const bool userFilter = parser.isSet(QStringLiteral("nt-domain")) ||
                            parser.isSet(QStringLiteral("nt-user")) || parser.isSet(QStringLiteral("host"));
    if (userFilter && !parser.isSet(KillUserOption)) {
        error = QStringLiteral("--nt-domain, --nt-user and --host go with --kill-user.");
        return std::nullopt;
    }
    if (parser.isSet(LoginTimeOption) && !parser.isSet(KillProcessOption)) {
        error = QStringLiteral("--login-time goes with --kill-process.");
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("source")) && !parser.isSet(SqlTextOption)) {
        error = QStringLiteral("--source goes with --sql-text.");
        return std::nullopt;
    }
    const auto connection = ReadConnectionOptions(parser, error);
    if (!connection)
        return std::nullopt;

    TOneShotCommand command;
    command.Connection = *connection;
    if (parser.isSet(KillProcessOption) || parser.isSet(SqlTextOption)) {
        const QString option = parser.isSet(KillProcessOption) ? KillProcessOption : SqlTextOption;
        const auto spid = ReadSpid(parser, option, error);
        if (!spid)
            return std::nullopt;
        command.Spid = *spid;
        command.Kind = parser.isSet(KillProcessOption) ? EOneShotKind::KillProcess : EOneShotKind::SqlText;
        if (parser.isSet(LoginTimeOption)) {
            const auto loginTime = ReadLoginTime(parser.value(LoginTimeOption));
            if (!loginTime) {
                error = QStringLiteral("--login-time takes the time the process logged on, as "
                                       "yyyy-MM-dd hh:mm:ss or as the process list shows it.");
                return std::nullopt;
            }
            command.Shown = TShownProcess{*loginTime, {}};
        }
        const QString source = parser.value(QStringLiteral("source"));
        if (source == QLatin1String("statement"))
            command.Source = ESqlTextSource::Statement;
        else if (!source.isEmpty() && source != QLatin1String("inputbuffer")) {
            error = QStringLiteral("--source takes inputbuffer or statement.");
            return std::nullopt;
        }
    } else if (parser.isSet(KillDatabaseOption)) {
        command.Kind = EOneShotKind::KillDatabase;
        command.DatabaseName = parser.value(KillDatabaseOption).toStdString();
        if (command.DatabaseName.empty()) {
            error = QStringLiteral("--kill-database needs the name of a database.");
            return std::nullopt;
        }
    } else {
        command.Kind = EOneShotKind::KillUser;
        command.LoginName = parser.value(KillUserOption).toStdString();
        if (command.LoginName.empty()) {
            error = QStringLiteral("--kill-user needs a login name.");
            return std::nullopt;
        }
        command.NtDomain = parser.value(QStringLiteral("nt-domain")).toStdString();
        command.NtUserName = parser.value(QStringLiteral("nt-user")).toStdString();
        command.HostName = parser.value(QStringLiteral("host")).toStdString();
    }
    return command;
}

void RunOneShotCommand(TTorvaneThread& thread, const TOneShotCommand& command, std::ostream& out)
{
    switch (command.Kind) {
    case EOneShotKind::KillProcess: {
        TDateTime loggedOnAt = 0;
        const std::int32_t code = KillShownProcess(thread, command.Spid, command.Shown, &loggedOnAt);
        if (code == -3)
            throw std::runtime_error(ReusedSpidMessage(command.Spid, loggedOnAt));
        out << code << '\n';
        break;
    }
    case EOneShotKind::KillDatabase:
        thread.KillDatabaseProcesses(command.DatabaseName);
        break;
    case EOneShotKind::KillUser:
        thread.KillUserProcesses(command.LoginName, command.NtDomain, command.NtUserName, command.HostName);
        break;
    case EOneShotKind::SqlText:
        if (command.Source == ESqlTextSource::InputBuffer) {
            std::string eventType;
            const std::string text = thread.GetInputBuffer(command.Spid, eventType);
            out << eventType << '\n' << text << '\n';
        } else {
            std::string objectName;
            std::string encrypted;
            std::int32_t stmtStart = 0;
            std::int32_t stmtEnd = 0;
            const std::string text =
                thread.GetStatementText(command.Spid, objectName, encrypted, stmtStart, stmtEnd);
            out << StatementDescription(objectName, encrypted, stmtStart, stmtEnd) << '\n' << text << '\n';
        }
        break;
    }
    out.flush();
}

int RunOneShot(const QCommandLineParser& parser)
{
    QString error;
    const auto command = ReadOneShotCommand(parser, error);
    if (!command) {
        std::cerr << error.toStdString() << std::endl;
        return 2;
    }
    // The connection and the command run on the slot's command thread; the event loop
    // stays free for a stop signal, which ends the program within FinishWaitMs
    // whatever the server does.
    constexpr int FinishWaitMs = 1500;
    TOneShotOwner owner;
    TConnectionSlot slot;
    int exitCode = 0;
    const auto finish = [&](int code) {
        exitCode = code;
        slot.Stop();
        QCoreApplication::exit(code);
    };
    const TStopSignals signals([&] { finish(0); });
    const TConnectionOptions& connection = command->Connection;
    slot.Connect(
        &owner, 0, connection.Server.toStdString(), connection.WindowsAuthentication,
        connection.UserName.toStdString(), connection.Password.toStdString(),
        TConnectionSlot::MaxRefreshIntervalSeconds,
        [&](bool connected) {
            if (!connected) {
                finish(1);
                return;
            }
            slot.RunCommand<std::string>(
                [&command](TTorvaneThread& thread) {
                    std::ostringstream out;
                    RunOneShotCommand(thread, *command, out);
                    return out.str();
                },
                [&](const TCommandResult<std::string>& result) {
                    if (!result.Succeeded()) {
                        std::cerr << result.Error << std::endl;
                        finish(1);
                        return;
                    }
                    std::cout << *result.Value;
                    std::cout.flush();
                    finish(0);
                });
        },
        false);
    QCoreApplication::exec();
    if (!slot.WaitUntilFinished(std::chrono::milliseconds(FinishWaitMs)))
        AbandonThreadsAndExit(exitCode);
    return exitCode;
}
