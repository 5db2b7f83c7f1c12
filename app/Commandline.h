#pragma once
// The command line of the torvane program. Connection options are shared by every mode
// that talks to a server (the headless monitor and the one-shot commands); each mode
// adds its own options next to them.

#include <QCommandLineParser>
#include <QString>

#include <optional>
#include <vector>

// How to reach and log on to one server. The password is never taken from the command
// line (other users could read it in the process list) but from TORVANE_PASSWORD. A
// --server given without --user or --windows-auth logs on as the logon dialog last did
// (the server's saved logon details in the user hive), with the saved password or,
// when none was saved, TORVANE_PASSWORD.
struct TConnectionOptions
{
    QString Server;
    bool WindowsAuthentication = false;
    QString UserName;
    QString Password;
};

// --server NAME, --user NAME, --windows-auth.
void AddConnectionOptions(QCommandLineParser& parser);
// The saved logon details of a server, or empty with error naming the server.
std::optional<TConnectionOptions> SavedConnectionOptions(const QString& server, QString& error);
// The options given, or empty with error set to what is missing or contradictory.
std::optional<TConnectionOptions> ReadConnectionOptions(const QCommandLineParser& parser, QString& error);

// --headless, --interval SECONDS, --refreshes N,
// --show users|databases|processes|stats|blocking, --filter TEXT, --metrics-listen HOST:PORT.
void AddHeadlessOptions(QCommandLineParser& parser);

enum class EHeadlessTable
{
    None,
    Users,
    Databases,
    Processes,
    Stats,
    Blocking
};

// Where the Prometheus metrics are served: an IPv4 address or host name, and a port
// (0: any free one).
struct TListenAddress
{
    QString Host;
    quint16 Port = 0;
};

struct THeadlessOptions
{
    std::vector<TConnectionOptions> Servers; // 1 to TConnectionSlot::MaxSlots, each once
    std::optional<int> IntervalSeconds;      // empty: the settings store's, else 1
    int Refreshes = 0;                       // of every server; 0 = until stopped
    EHeadlessTable Show = EHeadlessTable::None;
    QString Filter; // the rows of the users, databases and processes tables that contain it
    std::optional<TListenAddress> MetricsListen;
};
// The options of the parsed command line; the servers are read from arguments, in
// order, as ReadServerList reads them.
std::optional<THeadlessOptions> ReadHeadlessOptions(const QCommandLineParser& parser,
                                                    const QStringList& arguments, QString& error);

// The servers of the window's command line in the order given: each --server takes
// the --user or --windows-auth that follows it before the next --server, or else its
// saved logon details. Empty with error set when a server has both, or neither and no
// saved details. SQL logins share TORVANE_PASSWORD.
std::optional<std::vector<TConnectionOptions>> ReadServerList(const QStringList& arguments, QString& error);

// What the headless monitor asks of its servers: at least one, at most
// TConnectionSlot::MaxSlots, none named twice (ignoring case and blanks at the ends: it
// would be monitored twice and its series would collide). False with error set.
bool CheckServerList(const std::vector<TConnectionOptions>& servers, QString& error);
