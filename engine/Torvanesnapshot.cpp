#include "engine/Torvanesnapshot.h"

#include "engine/Commonfuncs.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"
#include "model/Fixedtext.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"

#include <vector>

const char* const ProcessSnapshotSql =
    "SELECT spid as spid,\r\n"
    "       ecid as ecid,\r\n"
    "       case when dbid = 0 then '<SystemProcess>' else rtrim(db_name(dbid)) end as databasename,\r\n"
    "       rtrim(loginame) as loginame,\r\n"
    "       isnull(rtrim(hostname),'') as hostname,\r\n"
    "       isnull(rtrim(nt_domain),'') as nt_domain,\r\n"
    "       isnull(rtrim(nt_username),'') as nt_username,\r\n"
    "       isnull(rtrim(net_address),'') as net_address,\r\n"
    "       isnull(rtrim(net_library),'') as net_library,\r\n"
    "       isnull(rtrim(cmd),'') AS cmd,\r\n"
    "       case when isnull(rtrim(program_name),'') like 'VelquinMonitor%' then 'VelquinMonitor' "
    "else isnull(rtrim(program_name),'') end AS program_name,\r\n"
    "       isnull(rtrim(blocked),0) AS blocked,\r\n"
    "       login_time  AS login_time,\r\n"
    "       last_batch  AS last_batch,\r\n"
    "       isnull(cpu,0) AS cpu_usage,\r\n"
    "       isnull(memusage,0) AS memusage,\r\n"
    "       isnull(physical_io,0) AS physical_io,\r\n"
    "       isnull(open_tran,0) AS open_tran,\r\n"
    "       isnull(waittime,0) AS waittime,\r\n"
    "       isnull(rtrim(lastwaittype),'') as lastwaittype,\r\n"
    "       isnull(rtrim(waitresource),'') as waitresource,\r\n"
    "       isnull(rtrim(hostprocess),'') as hostprocess,\r\n"
    "       @@cpu_busy as cpubusy,\r\n"
    "       @@Idle as cpuidle,\r\n"
    "       @@pack_received as packreceived,\r\n"
    "       @@pack_sent as packsent,\r\n"
    "       @@packet_errors as packerrors,\r\n"
    "       @@total_read as totalread,\r\n"
    "       @@total_write as totalwrite,\r\n"
    "       @@total_errors as totalerrors,\r\n"
    "       getdate() as servertime\r\n"
    "FROM dbo.sysprocesses AS sysprocesses";

namespace {

template <std::size_t N> void ReadText(const TDbQuery& query, const char* column, char (&buffer)[N])
{
    CopyFixedText(buffer, query.AsString(column));
}

template <std::size_t N> void ReadDateTimeText(const TDbQuery& query, const char* column, char (&buffer)[N])
{
    CopyFixedText(buffer, query.IsNull(column) ? std::string() : DateTimeToText(query.AsDateTime(column)));
}

} // namespace

void ReadSnapshotRow(const TDbQuery& query, TSnapshotRow& row)
{
    ProcessRecord& record = row.Record;
    record.spid = query.AsInteger("spid");
    record.ecid = query.AsInteger("ecid");
    ReadText(query, "databasename", record.databasename);
    ReadText(query, "loginame", record.loginame);
    ReadText(query, "hostname", record.hostname);
    ReadText(query, "nt_domain", record.nt_domain);
    ReadText(query, "nt_username", record.nt_username);
    ReadText(query, "net_address", record.net_address);
    ReadText(query, "cmd", record.cmd);
    ReadText(query, "program_name", record.program_name);
    record.blocked = query.AsInteger("blocked");
    ReadDateTimeText(query, "login_time", record.login_time);
    ReadDateTimeText(query, "last_batch", record.last_batch);
    record.cpu_usage = query.AsLargeInt("cpu_usage");
    record.memusage = query.AsLargeInt("memusage");
    record.physical_io = query.AsLargeInt("physical_io");
    record.open_tran = query.AsInteger("open_tran");
    record.waittime = query.AsInteger("waittime");
    ReadText(query, "net_library", record.net_library);
    ReadText(query, "hostprocess", record.hostprocess);
    ReadText(query, "lastwaittype", row.lastwaittype);
    ReadText(query, "waitresource", row.waitresource);
}

void TTorvaneThread::ProcessSnapshot()
{
    TDbQuery& snapshot = *SnapshotQuery;
    // The server-wide counters repeat on every row; the first row's count.
    const std::int64_t cpubusy = snapshot.AsLargeInt("cpubusy");
    const std::int64_t cpuidle = snapshot.AsLargeInt("cpuidle");
    const std::int32_t packsent = snapshot.AsInteger("packsent");
    const std::int32_t packreceived = snapshot.AsInteger("packreceived");
    const std::int32_t packerrors = snapshot.AsInteger("packerrors");
    const std::int32_t totalread = snapshot.AsInteger("totalread");
    const std::int32_t totalwrite = snapshot.AsInteger("totalwrite");
    const std::int32_t totalerrors = snapshot.AsInteger("totalerrors");
    const TDateTime serverTime = snapshot.AsDateTime("servertime");

    // Every row is read before the first model object is touched: a row that cannot be
    // read fails the refresh while the views still hold the last complete one.
    std::vector<TSnapshotRow> rows;
    while (!snapshot.Eof()) {
        ReadSnapshotRow(snapshot, rows.emplace_back());
        snapshot.Next();
    }

    ServerTime = serverTime;
    ServerPerformance->Disconnected = false;
    Users->BeginRefresh();
    Databases->BeginRefresh();
    UserProcesses->BeginRefresh();
    Threads->BeginRefresh();
    ServerPerformance->BeginSample();
    for (const TSnapshotRow& row : rows) {
        const ProcessRecord& record = row.Record;
        Users->AddProcess(record);
        Databases->AddProcess(record);
        UserProcesses->AddProcess(record);
        Threads->AddThread(record.spid, record.ecid, record.cpu_usage, record.waittime,
                           FixedText(row.lastwaittype), FixedText(row.waitresource),
                           FixedText(record.databasename));
    }

    Users->EndRefresh();
    Databases->EndRefresh();
    UserProcesses->EndRefresh();
    Threads->EndRefresh();
    ServerPerformance->AddSample(ResponseTimeMs, Users->UserCount(), Users->SessionCount(), packsent,
                                 packreceived, packerrors, totalread, totalwrite, totalerrors, cpubusy,
                                 cpuidle);

    // Sending a mail lets other main-thread work in; a Stop there means the owner is
    // about to destroy the model objects, so nothing of them is touched afterwards.
    if (ServerPerformance->CheckCpuAlert()) {
        OwnerWindow->SendCpuAlert(SlotIndex);
        if (Terminated())
            return;
    }
    if (ServerPerformance->CheckResponseAlert()) {
        OwnerWindow->SendResponseAlert(SlotIndex);
        if (Terminated())
            return;
    }
    ServerPerformance->WriteLogLine();
    snapshot.Close();
    OwnerWindow->RefreshSlotView(SlotIndex);
}
