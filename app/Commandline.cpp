#include "app/Commandline.h"

#include <QProcessEnvironment>

void AddConnectionOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("server"),
                      QStringLiteral("The SQL Server: host, host\\instance, host,port or an address."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("user"),
                      QStringLiteral("Log on with this SQL Server login; the password is read from "
                                     "the environment variable TORVANE_PASSWORD."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("windows-auth"),
                      QStringLiteral("Log on with Windows authentication (the Kerberos ticket of kinit).")});
}

std::optional<TConnectionOptions> ReadConnectionOptions(const QCommandLineParser& parser, QString& error)
{
    TConnectionOptions options;
    options.Server = parser.value(QStringLiteral("server"));
    options.WindowsAuthentication = parser.isSet(QStringLiteral("windows-auth"));
    options.UserName = parser.value(QStringLiteral("user"));
    if (!parser.isSet(QStringLiteral("server")) || options.Server.trimmed().isEmpty()) {
        error = QStringLiteral("Name the server with --server.");
        return std::nullopt;
    }
    if (options.WindowsAuthentication == parser.isSet(QStringLiteral("user"))) {
        error = QStringLiteral("Give either --user NAME (password in TORVANE_PASSWORD) or --windows-auth.");
        return std::nullopt;
    }
    if (!options.WindowsAuthentication)
        options.Password = QProcessEnvironment::systemEnvironment().value(QStringLiteral("TORVANE_PASSWORD"));
    return options;
}

void AddHeadlessOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("headless"), QStringLiteral("Monitor one server without a window.")});
    parser.addOption({QStringLiteral("interval"),
                      QStringLiteral("Seconds between refreshes, 1 to 100 (default: the saved setting)."),
                      QStringLiteral("seconds")});
    parser.addOption({QStringLiteral("refreshes"), QStringLiteral("Stop after this many refreshes."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("show"),
                      QStringLiteral("Print this table after every refresh: users, databases, processes or stats."),
                      QStringLiteral("table")});
}

namespace {

std::optional<int> ReadNumber(const QCommandLineParser& parser, const QString& name, int lowest, int highest,
                              QString& error)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < lowest || value > highest) {
        error = QStringLiteral("--%1 takes a whole number from %2 to %3.").arg(name).arg(lowest).arg(highest);
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<THeadlessOptions> ReadHeadlessOptions(const QCommandLineParser& parser, QString& error)
{
    THeadlessOptions options;
    const auto connection = ReadConnectionOptions(parser, error);
    if (!connection)
        return std::nullopt;
    options.Connection = *connection;
    if (parser.isSet(QStringLiteral("interval"))) {
        options.IntervalSeconds = ReadNumber(parser, QStringLiteral("interval"), 1, 100, error);
        if (!options.IntervalSeconds)
            return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("refreshes"))) {
        const auto refreshes = ReadNumber(parser, QStringLiteral("refreshes"), 1, 1000000000, error);
        if (!refreshes)
            return std::nullopt;
        options.Refreshes = *refreshes;
    }
    if (parser.isSet(QStringLiteral("show"))) {
        const QString table = parser.value(QStringLiteral("show"));
        if (table == QLatin1String("users"))
            options.Show = EHeadlessTable::Users;
        else if (table == QLatin1String("databases"))
            options.Show = EHeadlessTable::Databases;
        else if (table == QLatin1String("processes"))
            options.Show = EHeadlessTable::Processes;
        else if (table == QLatin1String("stats"))
            options.Show = EHeadlessTable::Stats;
        else {
            error = QStringLiteral("--show takes users, databases, processes or stats.");
            return std::nullopt;
        }
    }
    return options;
}
