#include "support/Monitorbatches.h"

namespace {

const char* const SnapshotLines[] = {
    "SELECT spid as spid,",
    "       ecid as ecid,",
    "       case when dbid = 0 then '<SystemProcess>' else rtrim(db_name(dbid)) end as databasename,",
    "       rtrim(loginame) as loginame,",
    "       isnull(rtrim(hostname),'') as hostname,",
    "       isnull(rtrim(nt_domain),'') as nt_domain,",
    "       isnull(rtrim(nt_username),'') as nt_username,",
    "       isnull(rtrim(net_address),'') as net_address,",
    "       isnull(rtrim(net_library),'') as net_library,",
    "       isnull(rtrim(cmd),'') AS cmd,",
    "       case when isnull(rtrim(program_name),'') like 'VelquinMonitor%' then 'VelquinMonitor' else "
    "isnull(rtrim(program_name),'') end AS program_name,",
    "       isnull(rtrim(blocked),0) AS blocked,",
    "       login_time  AS login_time,",
    "       last_batch  AS last_batch,",
    "       isnull(cpu,0) AS cpu_usage,",
    "       isnull(memusage,0) AS memusage,",
    "       isnull(physical_io,0) AS physical_io,",
    "       isnull(open_tran,0) AS open_tran,",
    "       isnull(waittime,0) AS waittime,",
    "       isnull(rtrim(lastwaittype),'') as lastwaittype,",
    "       isnull(rtrim(waitresource),'') as waitresource,",
    "       isnull(rtrim(hostprocess),'') as hostprocess,",
    "       @@cpu_busy as cpubusy,",
    "       @@Idle as cpuidle,",
    "       @@pack_received as packreceived,",
    "       @@pack_sent as packsent,",
    "       @@packet_errors as packerrors,",
    "       @@total_read as totalread,",
    "       @@total_write as totalwrite,",
    "       @@total_errors as totalerrors,",
    "       getdate() as servertime",
    "FROM dbo.sysprocesses AS sysprocesses",
};

const char* const StatementFirstLines[] = {
    "declare @sql varchar(1200)",
    "declare @nsql  nvarchar(1200)",
    "declare @databasename varchar(100)",
    "declare @hasdbaccess int",
    "declare @hastext char(1)",
    "set @hastext = 'N'",
    "select @databasename = db_name(dbid),",
    "@hastext = case when sql_handle = 0x0000000000000000000000000000000000000000 then 'N' else 'Y' end",
    "from sysprocesses where spid = ",
};

const char* const StatementSecondLines[] = {
    "  and ecid = 0",
    "if @hastext = 'Y'",
    "begin",
    "set @hasdbaccess = has_dbaccess(@DatabaseName)",
    "set @sql = 'declare @sql_handle binary(20)' + char(13) + char(10) +",
    "'declare @stmt_start int'  + char(13) + char(10) +",
    "'declare @stmt_end int' + char(13) + char(10) +",
    "'declare @dbid int' + char(13) + char(10) +",
    "'declare @objectid int' + char(13) + char(10) +",
    "'declare @number int' + char(13) + char(10) +",
    "'declare @encrypted bit' + char(13) + char(10) +",
    "'declare @SQLText varchar(8000)' + char(13) + char(10) +",
    "'declare @GetNameSQL nvarchar(400)' + char(13) + char(10) +",
    "'declare @DatabaseName varchar(127)' + char(13) + char(10) ",
    "if @hasdbaccess = 1 ",
    "set @sql = @sql + 'use ' + quotename(@DatabaseName) + char(13) + char(10)",
    "set @sql = @sql + 'select @stmt_start = ceiling(cast(stmt_start as float)/2)+1,' + char(13) + char(10) "
    "+",
    "'@stmt_end = ceiling(cast(stmt_end as float)/2),' + char(13) + char(10) +",
    "'@SQL_Handle = sql_handle' + char(13) + char(10) +",
    "'from master.dbo.sysprocesses' + char(13) + char(10) +",
    "'where spid = ",
};

const char* const StatementThirdLines[] = {
    "' + char(13) + char(10) +",
    "'and ecid = 0' + char(13) + char(10) +",
    "'if @@rowcount = 1' + char(13) + char(10) +",
    "'SELECT @dbid = dbid,' + char(13) + char(10) +",
    "'@DatabaseName = DB_Name(dbid),' + char(13) + char(10) +",
    "'@objectid = objectid,' + char(13) + char(10) +",
    "'@number = number,' + char(13) + char(10) +",
    "'@encrypted = encrypted,' + char(13) + char(10) +",
    "'@SQLText = SUBSTRING(text,' + char(13) + char(10) +",
    "'CASE WHEN @stmt_start < 1 THEN 1 ELSE @stmt_start END,' + char(13) + char(10) +",
    "'CASE @stmt_end' + char(13) + char(10) +",
    "'WHEN -1' + char(13) + char(10) +",
    "'THEN DATALENGTH(text)' + char(13) + char(10) +",
    "'ELSE' + char(13) + char(10) +",
    "'case when (@stmt_end - @stmt_start) < 1 then DATALENGTH(text) else (@stmt_end - @stmt_start + 2) end' "
    "+ "
    "char(13) + char(10) + ",
    "'END)' + char(13) + char(10) +",
    "'FROM ' + char(58) + char(58) + 'fn_get_sql(@SQL_Handle)' + char(13) + char(10) +",
    "'SELECT isnull(@stmt_start,0) as stmt_start,' + char(13) + char(10) +",
    "'isnull(@stmt_end,0) as stmt_end,' + char(13) + char(10) ",
    "if @hasdbaccess = 1 ",
    "set @sql = @sql + 'isnull(object_name(@objectid),''<BATCH>'') as objectname,' + char(13) + char(10) ",
    "else",
    "set @sql = @sql + '''<Insufficient Rights>'' as objectname,' + char(13) + char(10)",
    "set @sql = @sql + 'case when @encrypted = 1 then ''Y'' else ''N'' end as encrypted,' +",
    "'isnull(@SQLText,''<NONE>'') as sqltext' + char(13) + char(10) + ",
    "'use master'",
    "set @nsql = cast(@sql as nvarchar(1200))",
    "exec sp_executesql @nsql",
    "end",
    "else",
    "select  0 as stmt_start, 0 as stmt_end, '<NONE>' as objectname, 'N' as encrypted, '<NONE>' as sqltext",
};

const char* const KillProcessLines[] = {
    "declare @returncode int",
    "if @@spid = {spid}",
    "    set @returncode = -1",
    "else if (select top 1 case when login_time = (select min(login_time) from sysprocesses where spid < 10)",
    "                     then 'Y'",
    "                     else 'N'",
    "                end",
    "         from sysprocesses",
    "         where spid = {spid}) = 'Y'",
    "    set @returncode = -2",
    "else",
    "begin",
    "    if exists(select 1 from sysprocesses where spid = {spid})",
    "        kill {spid}",
    "    set @returncode = 1",
    "end",
    "select @returncode as returncode",
};

const char* const KillOpeningLines[] = {
    "declare @spid int",
    "declare @sql varchar(16)",
    "declare @nsql nvarchar(16)",
    "declare getspid cursor for",
    "select distinct spid from sysprocesses",
    "where spid <> @@spid",
    "and login_time > (select min(login_time) from sysprocesses where spid < 10)",
};

const char* const KillClosingLines[] = {
    "open getspid",
    "fetch getspid into @spid",
    "while @@fetch_status = 0",
    "begin",
    "    set @nsql = cast('kill ' + cast(@spid as varchar(10)) as nvarchar(16))",
    "    execute sp_executesql @nsql",
    "    fetch getspid into @spid",
    "end",
    "close getspid",
    "deallocate getspid",
    "select 1 as aaa",
};

template <std::size_t N> std::string Join(const char* const (&lines)[N])
{
    std::string text;
    for (const char* line : lines)
        text += (text.empty() ? "" : "\r\n") + std::string(line);
    return text;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A filter value as the kills write it: N'...' (the caller doubles its quotes), '' when empty.
std::string Literal(const std::string& value)
{
    return value.empty() ? "''" : "N'" + value + "'";
}

} // namespace

std::string SnapshotQuery()
{
    return Join(SnapshotLines);
}

std::string StatementTextBatch(int spid)
{
    const std::string id = std::to_string(spid);
    return Join(StatementFirstLines) + id + Join(StatementSecondLines) + id + Join(StatementThirdLines);
}

std::string InputBufferBatch(int spid)
{
    return "DBCC INPUTBUFFER (" + std::to_string(spid) +
           ")\r\nIF @@RowCount = 0\r\nSELECT 'NONE' EventType,0 Parameters,'<No SQL Found>' EventInfo";
}

std::string KillProcessBatch(int spid)
{
    return Replaced(Join(KillProcessLines), "{spid}", std::to_string(spid));
}

std::string KillDatabaseBatch(const std::string& database)
{
    return Join(KillOpeningLines) + "\r\nand dbid = db_id(" + Literal(database) + ")\r\n" +
           Join(KillClosingLines);
}

std::string KillUserBatch(const std::string& login, const std::string& ntDomain,
                          const std::string& ntUserName, const std::string& hostName)
{
    std::string text = Join(KillOpeningLines) + "\r\nand loginame = " + Literal(login) + "\r\n";
    text += ntDomain.empty() ? "and isnull(nt_domain,'') = ''"
                             : "and isnull(nt_domain,'') = " + Literal(ntDomain);
    text += "\r\n";
    text += ntUserName.empty() ? "and isnull(nt_username,'') = ''"
                               : "and isnull(nt_username, '') = " + Literal(ntUserName);
    text += "\r\n";
    text +=
        hostName.empty() ? "and isnull(hostname,'') = ''" : "and isnull(hostname,'') = " + Literal(hostName);
    return text + "\r\n" + Join(KillClosingLines);
}
