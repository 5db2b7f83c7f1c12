#include "app/Commandline.h"

#include "app/Secrets.h"
#include "engine/Connectionslot.h"
#include "settings/Savedservers.h"

#include <QRegularExpression>
#include <QSet>

namespace {

// Taken out of the environment once, on first use, whichever way the user logs on.
QString PasswordFromEnvironment()
{
    static const QString password = TakePasswordFromEnvironment();
    return password;
}

} // namespace

void AddConnectionOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("server"), QStringLiteral("host, host\\instance or host,port."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("user"),
                      QStringLiteral("SQL Server login (password from TORVANE_PASSWORD)."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("windows-auth"),
                      QStringLiteral("Log on with Windows authentication (kinit's ticket).")});
}

std::optional<TConnectionOptions> ReadConnectionOptions(const QCommandLineParser& parser, QString& error)
{
    TConnectionOptions options;
    // Taken out of the environment whichever way the user logs on.
    const QString password = PasswordFromEnvironment();
    options.Server = parser.value(QStringLiteral("server"));
    options.WindowsAuthentication = parser.isSet(QStringLiteral("windows-auth"));
    options.UserName = parser.value(QStringLiteral("user"));
    if (!parser.isSet(QStringLiteral("server")) || options.Server.trimmed().isEmpty()) {
        error = QStringLiteral("Name the server with --server.");
        return std::nullopt;
    }
    if (options.WindowsAuthentication && parser.isSet(QStringLiteral("user"))) {
        error = QStringLiteral("Give either --user NAME (password in TORVANE_PASSWORD) or --windows-auth.");
        return std::nullopt;
    }
    if (!options.WindowsAuthentication && !parser.isSet(QStringLiteral("user")))
        return SavedConnectionOptions(options.Server, error);
    if (!options.WindowsAuthentication)
        options.Password = password;
    return options;
}

std::optional<TConnectionOptions> SavedConnectionOptions(const QString& server, QString& error)
{
    const std::optional<TSavedLogon> saved = TSavedServers().Load(server);
    if (!saved || (!saved->UseWindowsNT && !saved->UserID)) {
        error = QStringLiteral("No logon is saved for the server %1: give --user NAME (password in "
                               "TORVANE_PASSWORD) or --windows-auth.")
                    .arg(server);
        return std::nullopt;
    }
    TConnectionOptions options;
    options.Server = server;
    options.WindowsAuthentication = saved->UseWindowsNT == 1;
    if (!options.WindowsAuthentication) {
        options.UserName = saved->UserID.value_or(QString());
        options.Password = saved->Password ? *saved->Password : PasswordFromEnvironment();
    }
    return options;
}

void AddHeadlessOptions(QCommandLineParser& parser)
{
    parser.addOption(
        {QStringLiteral("headless"), QStringLiteral("Monitor up to 25 servers without a window.")});
    parser.addOption({QStringLiteral("interval"), QStringLiteral("Seconds between refreshes, 1 to 100."),
                      QStringLiteral("seconds")});
    parser.addOption({QStringLiteral("refreshes"), QStringLiteral("Stop after this many refreshes."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("show"),
                      QStringLiteral("Print users|databases|processes|stats|blocking."),
                      QStringLiteral("table")});
    parser.addOption({QStringLiteral("filter"),
                      QStringLiteral("Print only rows containing this text (any case)."),
                      QStringLiteral("text")});
    parser.addOption({QStringLiteral("metrics-listen"),
                      QStringLiteral("Serve Prometheus metrics at http://ADDR/metrics."),
                      QStringLiteral("addr")});
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

std::optional<TListenAddress> ReadListenAddress(const QString& text, QString& error)
{
    static const QRegularExpression Pattern(QStringLiteral("^([A-Za-z0-9.-]+):([0-9]{1,5})$"));
    const QRegularExpressionMatch match = Pattern.match(text);
    const uint port = match.hasMatch() ? match.captured(2).toUInt() : 0;
    if (!match.hasMatch() || port > 65535) {
        error =
            QStringLiteral("--metrics-listen takes HOST:PORT: an IPv4 address or host name, and a port from "
                           "0 to 65535 (0 picks a free one).");
        return std::nullopt;
    }
    return TListenAddress{match.captured(1), static_cast<quint16>(port)};
}

} // namespace

std::optional<THeadlessOptions> ReadHeadlessOptions(const QCommandLineParser& parser,
                                                    const QStringList& arguments, QString& error)
{
    THeadlessOptions options;
    auto servers = ReadServerList(arguments, error);
    if (!servers || !CheckServerList(*servers, error))
        return std::nullopt;
    options.Servers = std::move(*servers);
    if (parser.isSet(QStringLiteral("metrics-listen"))) {
        options.MetricsListen = ReadListenAddress(parser.value(QStringLiteral("metrics-listen")), error);
        if (!options.MetricsListen)
            return std::nullopt;
    }
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
        else if (table == QLatin1String("blocking"))
            options.Show = EHeadlessTable::Blocking;
        else {
            error = QStringLiteral("--show takes users, databases, processes, stats or blocking.");
            return std::nullopt;
        }
    }
    if (parser.isSet(QStringLiteral("filter"))) {
        options.Filter = parser.value(QStringLiteral("filter"));
        if (options.Show != EHeadlessTable::Users && options.Show != EHeadlessTable::Databases &&
            options.Show != EHeadlessTable::Processes) {
            error = QStringLiteral("--filter goes with --show users, databases or processes.");
            return std::nullopt;
        }
    }
    return options;
}

std::optional<std::vector<TConnectionOptions>> ReadServerList(const QStringList& arguments, QString& error)
{
    std::vector<TConnectionOptions> servers;
    std::vector<int> credentials; // per server: how many of --user / --windows-auth it took
    const QString password = PasswordFromEnvironment();
    const auto valueOf = [&](qsizetype& index, const QString& option) -> std::optional<QString> {
        const QString& argument = arguments[index];
        if (argument.startsWith(option + QLatin1Char('=')))
            return argument.mid(option.size() + 1);
        if (argument == option && index + 1 < arguments.size())
            return arguments[++index];
        return std::nullopt;
    };
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments[index];
        if (argument == QLatin1String("--server") || argument.startsWith(QLatin1String("--server="))) {
            const auto name = valueOf(index, QStringLiteral("--server"));
            if (!name || name->trimmed().isEmpty()) {
                error = QStringLiteral("--server needs the name of a server.");
                return std::nullopt;
            }
            servers.push_back({*name, false, {}, {}});
            credentials.push_back(0);
        } else if (argument == QLatin1String("--user") || argument.startsWith(QLatin1String("--user="))) {
            const auto user = valueOf(index, QStringLiteral("--user"));
            if (servers.empty() || !user) {
                error = QStringLiteral("--user goes after the --server it logs on to.");
                return std::nullopt;
            }
            servers.back().UserName = *user;
            servers.back().Password = password;
            ++credentials.back();
        } else if (argument == QLatin1String("--windows-auth")) {
            if (servers.empty()) {
                error = QStringLiteral("--windows-auth goes after the --server it logs on to.");
                return std::nullopt;
            }
            servers.back().WindowsAuthentication = true;
            ++credentials.back();
        }
    }
    for (std::size_t i = 0; i < servers.size(); ++i) {
        if (credentials[i] == 0) {
            const auto saved = SavedConnectionOptions(servers[i].Server, error);
            if (!saved)
                return std::nullopt;
            servers[i] = *saved;
        } else if (credentials[i] != 1) {
            error = QStringLiteral("Give the server %1 either --user NAME (password in TORVANE_PASSWORD) or "
                                   "--windows-auth.")
                        .arg(servers[i].Server);
            return std::nullopt;
        }
    }
    return servers;
}

bool CheckServerList(const std::vector<TConnectionOptions>& servers, QString& error)
{
    if (servers.empty()) {
        error = QStringLiteral("Name the server with --server.");
        return false;
    }
    if (servers.size() > static_cast<std::size_t>(TConnectionSlot::MaxSlots)) {
        error = QStringLiteral("At most %1 servers can be monitored at once.").arg(TConnectionSlot::MaxSlots);
        return false;
    }
    QSet<QString> seen;
    for (const TConnectionOptions& server : servers) {
        const QString key = server.Server.trimmed().toCaseFolded();
        if (seen.contains(key)) {
            error = QStringLiteral("The server %1 is named more than once.").arg(server.Server);
            return false;
        }
        seen.insert(key);
    }
    return true;
}
