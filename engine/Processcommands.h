#pragma once
// The SQL batches of the per-process commands (statement text, input buffer and the
// three kills), built as plain text so that their exact wording can be checked
// without a server. Lines end with CR LF and no batch ends with a line break.
// Process ids are written in plain decimal; text arguments are Unicode literals with
// every quote inside them doubled, so a name such as O'Brien stays one literal.

#include "engine/Commonfuncs.h"

#include <cstdint>
#include <optional>
#include <string>

// N'text' with each single quote doubled, and '' for an empty text: a T-SQL literal
// holding text. A plain '...' literal is converted to the server's code page, where a
// name outside it (Cyrillic, CJK, many accented names) no longer equals itself.
std::string SqlUnicodeLiteral(const std::string& text);

// Reads the statement a process is executing through fn_get_sql. Its single row has
// stmt_start, stmt_end, objectname, encrypted and sqltext.
std::string StatementTextBatch(std::int32_t spid);

// Reads the last input batch of a process; a process that no longer exists gives
// the row "NONE", 0, "<No SQL Found>" (columns EventType, Parameters, EventInfo).
std::string InputBufferBatch(std::int32_t spid);

// The process a view showed under its spid: its login time to the second (as the views
// show it) and, unless empty, its login. A spid is reused once its process logs off.
struct TShownProcess
{
    TDateTime LoginTime = 0;
    std::string LoginName;
};

// Kills one process unless it is the caller's own connection or a system process, or,
// given the process shown, the spid now belongs to another process (another login
// time or login). Its single row has returncode: -1 own connection, -2 system process,
// -3 another process, 1 done; given the process shown, also logintime (for -3 the login
// time of the process that has the spid now). Without it the batch is the plain kill.
std::string KillProcessBatch(std::int32_t spid, const std::optional<TShownProcess>& shown = std::nullopt);

class TTorvaneThread;

// Runs KillProcessBatch over the thread's connection, as TTorvaneThread::KillProcess does,
// and returns its return code; for -3, loggedOnAt (when given) gets the login time of the
// process that has the spid now.
std::int32_t KillShownProcess(TTorvaneThread& thread, std::int32_t spid, const std::optional<TShownProcess>& shown,
                              TDateTime* loggedOnAt = nullptr);

// What the user is told when the kill found another process under the spid (-3):
// "Process 60 is no longer the one shown (it logged on again at ...); nothing was killed."
std::string ReusedSpidMessage(std::int32_t spid, TDateTime loggedOnAt);

// Kills every process attached to a database except the caller's own connection
// and the system processes; ends with the row "select 1 as aaa".
std::string KillDatabaseProcessesBatch(const std::string& databaseName);

// Kills every process of one user on one host (the four values of a user summary
// entry), sparing the same processes as the database kill. An empty value matches
// an empty or NULL column.
std::string KillUserProcessesBatch(const std::string& loginName, const std::string& ntDomain,
                                   const std::string& ntUserName, const std::string& hostName);

// The description line shown above a statement text: the object name, " (Encrypted)"
// when the flag is exactly "Y", and " [pos start:end]" when start + end > 0.
std::string StatementDescription(const std::string& objectName, const std::string& encrypted,
                                 std::int32_t stmtStart, std::int32_t stmtEnd);
