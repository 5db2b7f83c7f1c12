#include "engine/Torvanesnapshot.h"

#include "engine/Dbrowstream.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"
#include "model/Fixedtext.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"
#include "settings/Torvanesettings.h"

#include <algorithm>
#include <cstring>
#include <limits>

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

// The 31 columns of the snapshot by their positions in this statement's result, bound
// the way the snapshot reads them.
struct TSnapshotColumns
{
    explicit TSnapshotColumns(TDbRowStream& stream) : Stream(stream) {}

    int Integer(const char* name) const
    {
        const int column = Stream.Column(name);
        Stream.BindInteger(column);
        return column;
    }
    int Text(const char* name, std::size_t width) const
    {
        const int column = Stream.Column(name);
        Stream.BindText(column, width - 1); // the entry's field holds the terminator
        return column;
    }
    int DateTime(const char* name) const
    {
        const int column = Stream.Column(name);
        Stream.BindDateTime(column);
        return column;
    }

    TDbRowStream& Stream;
    const int Spid = Integer("spid");
    const int Ecid = Integer("ecid");
    const int DatabaseName = Text("databasename", ProcessTextSize::DatabaseName);
    const int LoginName = Text("loginame", ProcessTextSize::LoginName);
    const int HostName = Text("hostname", ProcessTextSize::HostName);
    const int NtDomain = Text("nt_domain", ProcessTextSize::NtDomain);
    const int NtUserName = Text("nt_username", ProcessTextSize::NtUserName);
    const int NetAddress = Text("net_address", ProcessTextSize::NetAddress);
    const int NetLibrary = Text("net_library", ProcessTextSize::NetLibrary);
    const int Command = Text("cmd", ProcessTextSize::Command);
    const int ProgramName = Text("program_name", ProcessTextSize::ProgramName);
    const int Blocked = Integer("blocked");
    const int LoginTime = DateTime("login_time");
    const int LastBatch = DateTime("last_batch");
    const int Cpu = Integer("cpu_usage");
    const int Memory = Integer("memusage");
    const int PhysicalIo = Integer("physical_io");
    const int OpenTran = Integer("open_tran");
    const int WaitTime = Integer("waittime");
    const int LastWaitType = Text("lastwaittype", LastWaitTypeSize);
    const int WaitResource = Text("waitresource", WaitResourceSize);
    const int HostProcess = Text("hostprocess", ProcessTextSize::HostProcess);
    const int CpuBusy = Integer("cpubusy");
    const int CpuIdle = Integer("cpuidle");
    const int PackReceived = Integer("packreceived");
    const int PackSent = Integer("packsent");
    const int PackErrors = Integer("packerrors");
    const int TotalRead = Integer("totalread");
    const int TotalWrite = Integer("totalwrite");
    const int TotalErrors = Integer("totalerrors");
    const int ServerTime = DateTime("servertime");
};

} // namespace

void TProcessSnapshot::Read(TDbConnection& connection, TDateTimeTexts& texts)
{
    Clear();
    texts.NextRefresh();
    try {
        TDbRowStream stream(connection);
        stream.Open(ProcessSnapshotSql);
        const TSnapshotColumns columns(stream);
        if (!stream.Fetch())
            throw EDbError("Either BOF or EOF is True, or the current record has been deleted.", "Torvane");
        // The server-wide counters repeat on every row; the first row's count.
        const auto int32 = [&stream](int column) {
            return static_cast<std::int32_t>(stream.Integer(column));
        };
        ServerCounters.CpuBusy = stream.Integer(columns.CpuBusy);
        ServerCounters.CpuIdle = stream.Integer(columns.CpuIdle);
        ServerCounters.PackSent = int32(columns.PackSent);
        ServerCounters.PackReceived = int32(columns.PackReceived);
        ServerCounters.PackErrors = int32(columns.PackErrors);
        ServerCounters.TotalRead = int32(columns.TotalRead);
        ServerCounters.TotalWrite = int32(columns.TotalWrite);
        ServerCounters.TotalErrors = int32(columns.TotalErrors);
        ServerCounters.ServerTime = stream.DateTime(columns.ServerTime);
        const int textColumns[LoginTime] = {columns.DatabaseName, columns.LoginName,    columns.HostName,
                                            columns.NtDomain,     columns.NtUserName,   columns.NetAddress,
                                            columns.Command,      columns.ProgramName,  columns.NetLibrary,
                                            columns.HostProcess,  columns.LastWaitType, columns.WaitResource};
        // The most a row's texts may take while they are written, its two times too.
        std::size_t rowRoom = 2 * ProcessTextSize::DateTime;
        for (const int column : textColumns)
            rowRoom += stream.TextRoom(column);
        do {
            TRow& row = Rows.emplace_back();
            row.Spid = int32(columns.Spid);
            row.Ecid = int32(columns.Ecid);
            row.Blocked = int32(columns.Blocked);
            row.OpenTran = int32(columns.OpenTran);
            row.WaitTime = int32(columns.WaitTime);
            row.Cpu = stream.Integer(columns.Cpu);
            row.Memory = stream.Integer(columns.Memory);
            row.PhysicalIo = stream.Integer(columns.PhysicalIo);
            row.LoginTime = stream.DateTimeSeconds(columns.LoginTime);
            row.LastBatch = stream.DateTimeSeconds(columns.LastBatch);
            char* const start = TextRoom(rowRoom);
            row.TextStart = static_cast<std::uint32_t>(TextsUsed);
            std::size_t used = 0;
            for (int field = 0; field < LoginTime; ++field) {
                used += stream.WriteText(textColumns[field], start + used);
                row.TextEnd[field] = static_cast<std::uint16_t>(used);
            }
            TextsUsed += used;
            AppendTimeTexts(row, texts);
        } while (stream.Fetch());
    } catch (...) {
        Clear();
        throw;
    }
}

std::int32_t TProcessSnapshot::ProcessCount() const
{
    std::int32_t processes = 0;
    for (std::size_t i = 0; i < Rows.size(); ++i)
        processes += i == 0 || Rows[i].Spid != Rows[i - 1].Spid;
    return processes;
}

void TProcessSnapshot::Clear()
{
    ServerCounters = {};
    Rows.clear();
    TextsUsed = 0;
}

char* TProcessSnapshot::TextRoom(std::size_t bytes)
{
    if (TextsUsed + bytes > TextsCapacity) {
        const std::size_t capacity = std::max(TextsUsed + bytes, 2 * TextsCapacity);
        std::unique_ptr<char[]> grown = std::make_unique_for_overwrite<char[]>(capacity);
        if (TextsUsed > 0)
            std::memcpy(grown.get(), Texts.get(), TextsUsed);
        Texts = std::move(grown);
        TextsCapacity = capacity;
    }
    return Texts.get() + TextsUsed;
}

void TProcessSnapshot::AppendTimeTexts(TRow& row, TDateTimeTexts& texts)
{
    // A spid's two times are remembered at its places; a spid no server sends has none.
    const std::int32_t place = row.Spid >= 0 && row.Spid < 32768 ? 2 * row.Spid : -2;
    const auto append = [&](ETextField field, TDateTimeSeconds seconds, std::int32_t at) {
        const std::string_view text = texts.Text(seconds, at);
        const std::size_t length = Utf8PrefixLength(text, ProcessTextSize::DateTime - 1);
        if (length > 0) // the room was made with the row's
            std::memcpy(Texts.get() + TextsUsed, text.data(), length);
        TextsUsed += length;
        row.TextEnd[field] = static_cast<std::uint16_t>(TextsUsed - row.TextStart);
    };
    append(LoginTime, row.LoginTime, place);
    append(LastBatch, row.LastBatch, place + 1);
}

std::string_view TProcessSnapshot::Text(const TRow& row, ETextField field) const
{
    const std::size_t begin = field == 0 ? 0 : row.TextEnd[field - 1];
    return std::string_view(Texts.get() + row.TextStart + begin, row.TextEnd[field] - begin);
}

void TProcessSnapshot::GetRow(std::int32_t index, TSnapshotRow& into) const
{
    const TRow& row = Rows[static_cast<std::size_t>(index)];
    ProcessRecord& record = into.Record;
    record.spid = row.Spid;
    record.ecid = row.Ecid;
    record.databasename = Text(row, DatabaseName);
    record.loginame = Text(row, LoginName);
    record.hostname = Text(row, HostName);
    record.nt_domain = Text(row, NtDomain);
    record.nt_username = Text(row, NtUserName);
    record.net_address = Text(row, NetAddress);
    record.cmd = Text(row, Command);
    record.program_name = Text(row, ProgramName);
    record.blocked = row.Blocked;
    record.login_time = Text(row, LoginTime);
    record.last_batch = Text(row, LastBatch);
    record.last_batch_value =
        row.LastBatch == NoDateTime ? std::numeric_limits<double>::quiet_NaN() : ValueOfSeconds(row.LastBatch);
    record.cpu_usage = row.Cpu;
    record.memusage = row.Memory;
    record.physical_io = row.PhysicalIo;
    record.open_tran = row.OpenTran;
    record.waittime = row.WaitTime;
    record.net_library = Text(row, NetLibrary);
    record.hostprocess = Text(row, HostProcess);
    into.lastwaittype = Text(row, LastWaitType);
    into.waitresource = Text(row, WaitResource);
}

TDateTimeTextParser TTorvaneThread::DateTimeTextParser() const
{
    return [](std::string_view text) { return TextToDateTime(text); };
}

void TTorvaneThread::ProcessSnapshot()
{
    const TProcessSnapshot& snapshot = Snapshot;
    const TProcessSnapshot::TServerCounters& counters = snapshot.Counters();
    ServerPerformance->Disconnected = false;
    UserProcesses->PrepareRoom(std::move(ProcessRoom));
    Threads->PrepareRoom(std::move(ThreadRoom));
    UserProcesses->PrepareForRows(snapshot.RowCount());
    Threads->PrepareForRows(snapshot.RowCount());
    Users->BeginRefresh();
    Databases->BeginRefresh();
    UserProcesses->BeginRefresh();
    Threads->BeginRefresh();
    ServerPerformance->BeginSample();
    ServerTime = counters.ServerTime;

    TSnapshotRow row;
    for (std::int32_t i = 0; i < snapshot.RowCount(); ++i) {
        snapshot.GetRow(i, row);
        const ProcessRecord& record = row.Record;
        Users->AddProcess(record);
        Databases->AddProcess(record);
        UserProcesses->AddProcess(record);
        Threads->AddThread(record.spid, record.ecid, record.cpu_usage, record.waittime, row.lastwaittype,
                           row.waitresource, record.databasename);
    }

    Users->EndRefresh();
    Databases->EndRefresh();
    UserProcesses->EndRefresh();
    Threads->EndRefresh();
    ServerPerformance->AddSample(ResponseTimeMs, Users->UserCount(), Users->SessionCount(), counters.PackSent,
                                 counters.PackReceived, counters.PackErrors, counters.TotalRead,
                                 counters.TotalWrite, counters.TotalErrors, counters.CpuBusy,
                                 counters.CpuIdle);

    // Sending a mail lets other main-thread work in; a Stop there means the owner is
    // about to destroy the model objects, so nothing of them is touched afterwards.
    // Read once for the three; a change saved by the properties dialog counts from the
    // next refresh on.
    const TRefreshSettings settings = ReadRefreshSettings();
    if (ServerPerformance->CheckCpuAlert(settings.CpuAlert)) {
        OwnerWindow->SendCpuAlert(SlotIndex);
        if (Terminated())
            return;
    }
    if (ServerPerformance->CheckResponseAlert(settings.ResponseAlert)) {
        OwnerWindow->SendResponseAlert(SlotIndex);
        if (Terminated())
            return;
    }
    ServerPerformance->WriteLogLine(settings.Log);
    OwnerWindow->RefreshSlotView(SlotIndex);
}
