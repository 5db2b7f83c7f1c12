#pragma once
// The one-shot commands: for scripts, connect as the headless monitor does, run one
// command on the server, print what it gives and exit. No refresh runs meanwhile.
//   --kill-process SPID [--login-time T]   prints the return code (1, or -1 own connection,
//                                -2 system process); with T, a process that did not log on
//                                then (the spid was reused) is not killed, and that is an error
//   --kill-database NAME         every process attached to the database
//   --kill-user LOGIN [--nt-domain D] [--nt-user U] [--host H]   one user on one host
//   --sql-text SPID [--source inputbuffer|statement]   the description line, then the text

#include "app/Commandline.h"
#include "engine/Processcommands.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

class TTorvaneThread;

enum class EOneShotKind
{
    KillProcess,
    KillDatabase,
    KillUser,
    SqlText
};
enum class ESqlTextSource
{
    InputBuffer,
    Statement
};

struct TOneShotCommand
{
    TConnectionOptions Connection;
    EOneShotKind Kind = EOneShotKind::KillProcess;
    std::int32_t Spid = 0;
    std::optional<TShownProcess> Shown; // --login-time
    std::string DatabaseName;
    std::string LoginName;
    std::string NtDomain;
    std::string NtUserName;
    std::string HostName;
    ESqlTextSource Source = ESqlTextSource::InputBuffer;
};

void AddOneShotOptions(QCommandLineParser& parser);
bool HasOneShotCommand(const QCommandLineParser& parser);
// The command given, or empty with error set to what is missing or contradictory.
std::optional<TOneShotCommand> ReadOneShotCommand(const QCommandLineParser& parser, QString& error);

// Runs the command over a connected thread and writes its output to out. Errors of
// the server (a kill the login may not run, a lost connection) propagate.
void RunOneShotCommand(TTorvaneThread& thread, const TOneShotCommand& command, std::ostream& out);

// From the parsed command line: connect, run, print. Returns 0, 1 after a failure
// (its message on standard error) or 2 for a bad command line.
int RunOneShot(const QCommandLineParser& parser);
