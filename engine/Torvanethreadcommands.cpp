// The per-process commands of TTorvaneThread: statement text, input buffer and the
// three kills. They run on the main thread over the monitor thread's connection, each
// with a query object of its own; the connection's request lock keeps them from
// interleaving with the probe and the snapshot.

#include "engine/Dbconnectionstring.h"
#include "engine/Processcommands.h"
#include "engine/Torvanethread.h"

#include <mutex>

namespace {

// The server as the user named it, from the connection string ConnectToServer built.
std::string DataSource(const TDbConnection& connection)
{
    for (const auto& [name, value] : ParseOleDbConnectionString(connection.ConnectionString())) {
        if (name == "Data Source")
            return value;
    }
    return {};
}

// A kill is never sent over a connection the probe has given up on; the user is told
// which server is not connected rather than that some object is closed.
void RequireConnection(const TTorvaneThread& thread)
{
    if (thread.Disconnected || !thread.Connection->IsOpen())
        throw EDbError("Not connected to " + DataSource(*thread.Connection) + ".", "Torvane");
}

void MarkStatementUnavailable(std::string& objectName, std::string& encrypted, std::int32_t& stmtStart,
                              std::int32_t& stmtEnd)
{
    // assign(count, char) rather than = "?": GCC 12 at -O3 warns falsely (-Wrestrict)
    // about the string-literal assignment when this is inlined.
    objectName.assign(1, '?');
    encrypted.assign(1, '?');
    stmtStart = 0;
    stmtEnd = 0;
}

} // namespace

std::string TTorvaneThread::GetStatementText(std::int32_t spid, std::string& objectName, std::string& encrypted,
                                             std::int32_t& stmtStart, std::int32_t& stmtEnd)
{
    if (Disconnected)
        return {};
    // Held from the open test to the end of the request, so that a failing probe
    // cannot close the connection in between.
    const std::lock_guard lock(Connection->RequestLock());
    if (!Connection->IsOpen())
        return {};
    if (!SqlTextAvailable) {
        MarkStatementUnavailable(objectName, encrypted, stmtStart, stmtEnd);
        return SqlTextUnavailableMessage;
    }
    try {
        TDbQuery query(*Connection);
        query.SetCommandText(StatementTextBatch(spid));
        query.Open();
        if (query.Eof()) {
            MarkStatementUnavailable(objectName, encrypted, stmtStart, stmtEnd);
            return {};
        }
        std::string text = query.AsString("sqltext");
        objectName = query.AsString("objectname");
        encrypted = query.AsString("encrypted");
        stmtStart = query.AsInteger("stmt_start");
        stmtEnd = query.AsInteger("stmt_end");
        return text;
    } catch (const EDbError&) {
        MarkStatementUnavailable(objectName, encrypted, stmtStart, stmtEnd);
        return {};
    }
}

std::string TTorvaneThread::GetInputBuffer(std::int32_t spid, std::string& eventType)
{
    if (Disconnected)
        return {};
    const std::lock_guard lock(Connection->RequestLock());
    if (Connection->IsOpen()) {
        try {
            TDbQuery query(*Connection);
            query.SetCommandText(InputBufferBatch(spid));
            query.Open();
            if (!query.Eof()) {
                eventType = query.IsNull("EventType") ? "NONE" : query.AsString("EventType");
                return query.IsNull("EventInfo") ? "<No SQL Found>" : query.AsString("EventInfo");
            }
        } catch (const EDbError&) {
            // A batch the server refuses shows as a process without SQL; the view
            // has no place for the error.
        }
    }
    eventType = "NONE";
    return "<No SQL Found>";
}

std::int32_t TTorvaneThread::KillProcess(std::int32_t spid)
{
    return KillShownProcess(*this, spid, std::nullopt);
}

std::int32_t KillShownProcess(TTorvaneThread& thread, std::int32_t spid, const std::optional<TShownProcess>& shown,
                              TDateTime* loggedOnAt)
{
    const std::lock_guard lock(thread.Connection->RequestLock());
    RequireConnection(thread);
    TDbQuery query(*thread.Connection);
    query.SetCommandText(KillProcessBatch(spid, shown));
    query.Open();
    if (shown && loggedOnAt && !query.IsNull("logintime"))
        *loggedOnAt = query.AsDateTime("logintime");
    return query.AsInteger("returncode");
}

void TTorvaneThread::KillDatabaseProcesses(const std::string& databaseName)
{
    const std::lock_guard lock(Connection->RequestLock());
    RequireConnection(*this);
    TDbQuery query(*Connection);
    query.SetCommandText(KillDatabaseProcessesBatch(databaseName));
    query.Open();
}

void TTorvaneThread::KillUserProcesses(const std::string& loginName, const std::string& ntDomain,
                                       const std::string& ntUserName, const std::string& hostName)
{
    const std::lock_guard lock(Connection->RequestLock());
    RequireConnection(*this);
    TDbQuery query(*Connection);
    query.SetCommandText(KillUserProcessesBatch(loginName, ntDomain, ntUserName, hostName));
    query.Open();
}
