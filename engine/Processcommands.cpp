#include "engine/Processcommands.h"

#include <QDateTime>

namespace {

// The fn_get_sql batch is sent in three pieces around the two places that take the
// spid. The outer batch spells @databasename and the inner one @sql_handle exactly as
// they are declared: variable names follow the server's collation, so a mixed
// spelling does not compile on a case-sensitive server.
// The database's name enters the built statement through quotename, as an identifier:
// pasted in bare, a name with a blank breaks the statement and a crafted one runs as
// SQL in the monitoring login's session. The server reports stmt_end as the byte
// offset of the statement's last character, so the statement is end - start + 2
// characters long in the positions the built statement computes.
constexpr const char* StatementTextHead =
    "declare @sql varchar(1200)\r\n"
    "declare @nsql  nvarchar(1200)\r\n"
    "declare @databasename varchar(100)\r\n"
    "declare @hasdbaccess int\r\n"
    "declare @hastext char(1)\r\n"
    "set @hastext = 'N'\r\n"
    "select @databasename = db_name(dbid),\r\n"
    "@hastext = case when sql_handle = 0x0000000000000000000000000000000000000000 then 'N' else 'Y' end\r\n"
    "from sysprocesses where spid = ";

constexpr const char* StatementTextMiddle =
    "  and ecid = 0\r\n"
    "if @hastext = 'Y'\r\n"
    "begin\r\n"
    "set @hasdbaccess = has_dbaccess(@databasename)\r\n"
    "set @sql = 'declare @sql_handle binary(20)' + char(13) + char(10) +\r\n"
    "'declare @stmt_start int'  + char(13) + char(10) +\r\n"
    "'declare @stmt_end int' + char(13) + char(10) +\r\n"
    "'declare @dbid int' + char(13) + char(10) +\r\n"
    "'declare @objectid int' + char(13) + char(10) +\r\n"
    "'declare @number int' + char(13) + char(10) +\r\n"
    "'declare @encrypted bit' + char(13) + char(10) +\r\n"
    "'declare @SQLText varchar(8000)' + char(13) + char(10) +\r\n"
    "'declare @GetNameSQL nvarchar(400)' + char(13) + char(10) +\r\n"
    "'declare @DatabaseName varchar(127)' + char(13) + char(10) \r\n"
    "if @hasdbaccess = 1 \r\n"
    "set @sql = @sql + 'use ' + quotename(@databasename) + char(13) + char(10)\r\n"
    "set @sql = @sql + 'select @stmt_start = ceiling(cast(stmt_start as float)/2)+1,' + char(13) + char(10) +\r\n"
    "'@stmt_end = ceiling(cast(stmt_end as float)/2),' + char(13) + char(10) +\r\n"
    "'@sql_handle = sql_handle' + char(13) + char(10) +\r\n"
    "'from master.dbo.sysprocesses' + char(13) + char(10) +\r\n"
    "'where spid = ";

constexpr const char* StatementTextTail =
    "' + char(13) + char(10) +\r\n"
    "'and ecid = 0' + char(13) + char(10) +\r\n"
    "'if @@rowcount = 1' + char(13) + char(10) +\r\n"
    "'SELECT @dbid = dbid,' + char(13) + char(10) +\r\n"
    "'@DatabaseName = DB_Name(dbid),' + char(13) + char(10) +\r\n"
    "'@objectid = objectid,' + char(13) + char(10) +\r\n"
    "'@number = number,' + char(13) + char(10) +\r\n"
    "'@encrypted = encrypted,' + char(13) + char(10) +\r\n"
    "'@SQLText = SUBSTRING(text,' + char(13) + char(10) +\r\n"
    "'CASE WHEN @stmt_start < 1 THEN 1 ELSE @stmt_start END,' + char(13) + char(10) +\r\n"
    "'CASE @stmt_end' + char(13) + char(10) +\r\n"
    "'WHEN -1' + char(13) + char(10) +\r\n"
    "'THEN DATALENGTH(text)' + char(13) + char(10) +\r\n"
    "'ELSE' + char(13) + char(10) +\r\n"
    "'case when (@stmt_end - @stmt_start) < 1 then DATALENGTH(text) else (@stmt_end - @stmt_start + 2) end' + char(13) + char(10) + \r\n"
    "'END)' + char(13) + char(10) +\r\n"
    "'FROM ' + char(58) + char(58) + 'fn_get_sql(@sql_handle)' + char(13) + char(10) +\r\n"
    "'SELECT isnull(@stmt_start,0) as stmt_start,' + char(13) + char(10) +\r\n"
    "'isnull(@stmt_end,0) as stmt_end,' + char(13) + char(10) \r\n"
    "if @hasdbaccess = 1 \r\n"
    "set @sql = @sql + 'isnull(object_name(@objectid),''<BATCH>'') as objectname,' + char(13) + char(10) \r\n"
    "else\r\n"
    "set @sql = @sql + '''<Insufficient Rights>'' as objectname,' + char(13) + char(10)\r\n"
    "set @sql = @sql + 'case when @encrypted = 1 then ''Y'' else ''N'' end as encrypted,' +\r\n"
    "'isnull(@SQLText,''<NONE>'') as sqltext' + char(13) + char(10) + \r\n"
    "'use master'\r\n"
    "set @nsql = cast(@sql as nvarchar(1200))\r\n"
    "exec sp_executesql @nsql\r\n"
    "end\r\n"
    "else\r\n"
    "select  0 as stmt_start, 0 as stmt_end, '<NONE>' as objectname, 'N' as encrypted, '<NONE>' as sqltext";

// The kill batches visit their processes with a cursor that skips the caller's own
// connection and the system processes, which logged in when the server started.
constexpr const char* KillCursorHead =
    "declare @spid int\r\n"
    "declare @sql varchar(16)\r\n"
    "declare @nsql nvarchar(16)\r\n"
    "declare getspid cursor for\r\n"
    "select distinct spid from sysprocesses\r\n"
    "where spid <> @@spid\r\n"
    "and login_time > (select min(login_time) from sysprocesses where spid < 10)\r\n";

constexpr const char* KillCursorTail =
    "open getspid\r\n"
    "fetch getspid into @spid\r\n"
    "while @@fetch_status = 0\r\n"
    "begin\r\n"
    "    set @nsql = cast('kill ' + cast(@spid as varchar(10)) as nvarchar(16))\r\n"
    "    execute sp_executesql @nsql\r\n"
    "    fetch getspid into @spid\r\n"
    "end\r\n"
    "close getspid\r\n"
    "deallocate getspid\r\n"
    "select 1 as aaa";

// One filter line of the user kill; an empty value matches an empty or NULL column.
std::string IsNullFilter(const std::string& emptyForm, const std::string& valueForm,
                         const std::string& value)
{
    if (value.empty())
        return emptyForm + " = ''\r\n";
    return valueForm + " = " + SqlUnicodeLiteral(value) + "\r\n";
}

} // namespace

std::string SqlUnicodeLiteral(const std::string& text)
{
    if (text.empty())
        return "''";
    std::string quoted;
    quoted.reserve(text.size() + 3);
    quoted += "N'";
    for (const char c : text) {
        quoted += c;
        if (c == '\'')
            quoted += '\'';
    }
    quoted += '\'';
    return quoted;
}

std::string StatementTextBatch(std::int32_t spid)
{
    const std::string id = std::to_string(spid);
    return StatementTextHead + id + StatementTextMiddle + id + StatementTextTail;
}

std::string InputBufferBatch(std::int32_t spid)
{
    return "DBCC INPUTBUFFER (" + std::to_string(spid)
        + ")\r\nIF @@RowCount = 0\r\nSELECT 'NONE' EventType,0 Parameters,'<No SQL Found>' EventInfo";
}

std::string KillProcessBatch(std::int32_t spid, const std::optional<TShownProcess>& shown)
{
    const std::string id = std::to_string(spid);
    std::string sameProcess;
    if (shown) {
        // The second the view showed, written as the server reads it whatever its
        // language and date format.
        const QTime time = TimeOf(shown->LoginTime);
        const QDateTime second(DateOf(shown->LoginTime), QTime(time.hour(), time.minute(), time.second()));
        const QString format = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
        sameProcess = "else if exists(select 1 from sysprocesses where spid = " + id + ")\r\n"
                      "     and not exists(select 1 from sysprocesses where spid = " + id + "\r\n"
                      "                    and login_time >= '" + second.toString(format).toStdString() + "'\r\n"
                      "                    and login_time < '" + second.addSecs(1).toString(format).toStdString() + "'" +
                      (shown->LoginName.empty() ? std::string()
                                                : "\r\n                    and loginame = " + SqlUnicodeLiteral(shown->LoginName)) +
                      ")\r\n"
                      "begin\r\n"
                      "    select @logintime = login_time from sysprocesses where spid = " + id + " and ecid = 0\r\n"
                      "    set @returncode = -3\r\n"
                      "end\r\n";
    }
    return "declare @returncode int\r\n"
           + std::string(shown ? "declare @logintime datetime\r\n" : "") +
           "if @@spid = " + id + "\r\n"
           "    set @returncode = -1\r\n"
           "else if (select top 1 case when login_time = (select min(login_time) from sysprocesses where spid < 10)\r\n"
           "                     then 'Y'\r\n"
           "                     else 'N'\r\n"
           "                end\r\n"
           "         from sysprocesses\r\n"
           "         where spid = " + id + ") = 'Y'\r\n"
           "    set @returncode = -2\r\n"
           + sameProcess +
           "else\r\n"
           "begin\r\n"
           "    if exists(select 1 from sysprocesses where spid = " + id + ")\r\n"
           "        kill " + id + "\r\n"
           "    set @returncode = 1\r\n"
           "end\r\n"
           "select @returncode as returncode" + std::string(shown ? ", @logintime as logintime" : "");
}

std::string ReusedSpidMessage(std::int32_t spid, TDateTime loggedOnAt)
{
    return "Process " + std::to_string(spid) + " is no longer the one shown (it logged on again at " +
           DateTimeToText(loggedOnAt) + "); nothing was killed.";
}

std::string KillDatabaseProcessesBatch(const std::string& databaseName)
{
    return KillCursorHead + ("and dbid = db_id(" + SqlUnicodeLiteral(databaseName) + ")\r\n")
        + KillCursorTail;
}

std::string KillUserProcessesBatch(const std::string& loginName, const std::string& ntDomain,
                                   const std::string& ntUserName, const std::string& hostName)
{
    return KillCursorHead + ("and loginame = " + SqlUnicodeLiteral(loginName) + "\r\n")
        + IsNullFilter("and isnull(nt_domain,'')", "and isnull(nt_domain,'')", ntDomain)
        + IsNullFilter("and isnull(nt_username,'')", "and isnull(nt_username, '')", ntUserName)
        + IsNullFilter("and isnull(hostname,'')", "and isnull(hostname,'')", hostName)
        + KillCursorTail;
}

std::string StatementDescription(const std::string& objectName, const std::string& encrypted,
                                 std::int32_t stmtStart, std::int32_t stmtEnd)
{
    std::string description = objectName;
    if (encrypted == "Y")
        description += " (Encrypted)";
    if (static_cast<std::int64_t>(stmtStart) + stmtEnd > 0)
        description += " [pos " + std::to_string(stmtStart) + ":" + std::to_string(stmtEnd) + "]";
    return description;
}
