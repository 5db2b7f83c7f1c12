// The server's catalog as the statement runner sees it: the system tables it can
// read (sysprocesses, syscolumns, sysobjects, sysdatabases) and fn_get_sql.

#include "sandbox/Sandboxstatements.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace sandbox {

namespace {

// Column order of master.dbo.sysprocesses; the statement-offset columns come last
// so that a server without them keeps the others in place.
enum SysprocessesColumn
{
    ColSpid,
    ColKpid,
    ColBlocked,
    ColWaittype,
    ColWaittime,
    ColLastwaittype,
    ColWaitresource,
    ColDbid,
    ColUid,
    ColCpu,
    ColPhysicalIo,
    ColMemusage,
    ColLoginTime,
    ColLastBatch,
    ColEcid,
    ColOpenTran,
    ColStatus,
    ColSid,
    ColHostname,
    ColProgramName,
    ColHostprocess,
    ColCmd,
    ColNtDomain,
    ColNtUsername,
    ColNetAddress,
    ColNetLibrary,
    ColLoginame,
    ColContextInfo,
    ColSqlHandle,
    ColStmtStart,
    ColStmtEnd,
    ColumnCount
};

struct TColumnDef
{
    const char* name;
    TTypeInfo type;
};

const TColumnDef SysprocessesDefs[ColumnCount] = {
    {"spid", {VType::SmallInt, 0, false}},        {"kpid", {VType::SmallInt, 0, false}},
    {"blocked", {VType::SmallInt, 0, false}},     {"waittype", {VType::Binary, 2, false}},
    {"waittime", {VType::BigInt, 0, false}},      {"lastwaittype", {VType::NChar, 32, false}},
    {"waitresource", {VType::NChar, 256, false}}, {"dbid", {VType::SmallInt, 0, false}},
    {"uid", {VType::SmallInt, 0, true}},          {"cpu", {VType::Int, 0, false}},
    {"physical_io", {VType::BigInt, 0, false}},   {"memusage", {VType::Int, 0, false}},
    {"login_time", {VType::DateTime, 0, true}},   {"last_batch", {VType::DateTime, 0, true}},
    {"ecid", {VType::SmallInt, 0, false}},        {"open_tran", {VType::SmallInt, 0, false}},
    {"status", {VType::NChar, 30, false}},        {"sid", {VType::Binary, 86, true}},
    {"hostname", {VType::NChar, 128, true}},      {"program_name", {VType::NChar, 128, true}},
    {"hostprocess", {VType::NChar, 10, true}},    {"cmd", {VType::NChar, 16, true}},
    {"nt_domain", {VType::NChar, 128, true}},     {"nt_username", {VType::NChar, 128, true}},
    {"net_address", {VType::NChar, 12, true}},    {"net_library", {VType::NChar, 12, true}},
    {"loginame", {VType::NChar, 128, true}},      {"context_info", {VType::Binary, 128, true}},
    {"sql_handle", {VType::Binary, 20, false}},   {"stmt_start", {VType::Int, 0, false}},
    {"stmt_end", {VType::Int, 0, false}},
};

// System objects every database shows, with their ids.
struct TSystemObject
{
    std::int64_t id;
    const char* name;
    const char* xtype;
};
const TSystemObject SystemObjects[] = {
    {1, "sysobjects", "S"},
    {3, "syscolumns", "S"},
    {-1073624922, "sysprocesses", "S"},
    {-1073591965, "sysdatabases", "S"},
    {-1071948253, "fn_get_sql", "IF"},
    {-1071982231, "sp_executesql", "X"},
};

Value Text(const std::string& text, std::size_t width)
{
    return CutToWidth(text, width);
}

Value OptionalText(const std::optional<std::string>& text, std::size_t width)
{
    return text ? Value{CutToWidth(*text, width)} : Value{};
}

Value OptionalTime(const std::optional<double>& time)
{
    return time ? Value{DateTimeValue{*time}} : Value{};
}

std::int64_t ProcedureObjectId(const std::string& name)
{
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : ToLower(name))
        hash = (hash ^ c) * 16777619u;
    return 100000 + static_cast<std::int64_t>(hash % 2000000000u);
}

} // namespace

std::vector<std::string> TStatementRunner::SysprocessesColumns() const
{
    std::vector<std::string> names;
    const int count = Switches.statementOffsetColumn ? ColumnCount : ColSqlHandle;
    for (int c = 0; c < count; ++c)
        names.push_back(SysprocessesDefs[c].name);
    return names;
}

TTableData TStatementRunner::OpenTable(TTableRef& ref)
{
    TTableData table = OpenNamedTable(ref);
    table.name = ref.name;
    table.alias = ref.alias;
    return table;
}

TTableData TStatementRunner::OpenNamedTable(TTableRef& ref)
{
    if (!ref.database.empty() && !Table.DatabaseId(ref.database, false))
        throw TSqlError(911, "Database '" + ref.database +
                                 "' does not exist. Make sure that the name is entered correctly.");
    if (ref.function) {
        if (ref.name != "fn_get_sql" || !Switches.statementOffsetColumn)
            throw TSqlError(208, "Invalid object name '" + ref.written + "'.");
        if (ref.args.size() != 1)
            throw TSqlError(216, "Parameters were not supplied for the function 'fn_get_sql'.");
        const TRowContext none;
        TTypeInfo type = TypeOf(*ref.args[0], none);
        return FnGetSql(Convert(Eval(*ref.args[0], none), type, TTypeInfo{VType::Binary, 20, true}));
    }
    if (ref.name == "sysprocesses")
        return Sysprocesses();
    if (ref.name == "syscolumns")
        return Syscolumns();
    if (ref.name == "sysobjects")
        return Sysobjects();
    if (ref.name == "sysdatabases")
        return Sysdatabases();
    throw TSqlError(208, "Invalid object name '" + ref.written + "'.");
}

TTableData TStatementRunner::Sysprocesses()
{
    struct TRef
    {
        const TProcess* process;
        const TWorker* worker;
    };
    auto rows = std::make_shared<std::vector<TRef>>();
    rows->reserve(Table.Processes().size() * 2);
    for (const auto& [spid, process] : Table.Processes()) {
        rows->push_back(TRef{&process, nullptr});
        for (const TWorker& worker : process.workers)
            rows->push_back(TRef{&process, &worker});
    }
    TTableData data;
    const int count = Switches.statementOffsetColumn ? ColumnCount : ColSqlHandle;
    for (int c = 0; c < count; ++c) {
        data.names.push_back(SysprocessesDefs[c].name);
        data.types.push_back(SysprocessesDefs[c].type);
    }
    data.rows = rows->size();
    const TProcessTable* table = &Table;
    data.cell = [rows, table](std::size_t row, int column) -> Value {
        const TProcess& p = *(*rows)[row].process;
        const TWorker* w = (*rows)[row].worker;
        switch (column) {
        case ColSpid:
            return std::int64_t{p.spid};
        case ColKpid:
            return std::int64_t{w ? w->kpid : p.kpid};
        case ColBlocked:
            return std::int64_t{w ? 0 : p.blocked};
        case ColWaittype:
            return std::string(p.blocked ? "\x00\x03" : "\x00\x00", 2);
        case ColWaittime:
            return w ? w->waittime : p.waittime;
        case ColLastwaittype:
            return Text(w ? w->lastWaitType : p.lastWaitType, 32);
        case ColWaitresource:
            return Text(w ? w->waitResource : p.waitResource, 256);
        case ColDbid:
            return std::int64_t{p.dbid};
        case ColUid:
            return std::int64_t{1};
        case ColCpu:
            return w ? w->cpu : p.cpu;
        case ColPhysicalIo:
            return w ? w->physicalIo : p.physicalIo;
        case ColMemusage:
            return w ? std::int64_t{0} : p.memusage;
        case ColLoginTime:
            return OptionalTime(p.loginTime);
        case ColLastBatch:
            return OptionalTime(p.lastBatch);
        case ColEcid:
            return std::int64_t{w ? w->ecid : 0};
        case ColOpenTran:
            return std::int64_t{p.openTran};
        case ColStatus:
            return Text(w ? w->status : p.status, 30);
        case ColSid:
            return std::string(1, '\x01');
        case ColHostname:
            return OptionalText(p.hostName, 128);
        case ColProgramName:
            return Text(p.programName, 128);
        case ColHostprocess:
            return Text(p.hostProcess, 10);
        case ColCmd:
            return Text(p.cmd, 16);
        case ColNtDomain:
            return Text(p.ntDomain, 128);
        case ColNtUsername:
            return Text(p.ntUserName, 128);
        case ColNetAddress:
            return Text(p.netAddress, 12);
        case ColNetLibrary:
            return Text(p.netLibrary, 12);
        case ColLoginame:
            return OptionalText(p.login, 128);
        case ColContextInfo:
            return std::string(128, '\0');
        case ColSqlHandle:
            return table->SqlHandle(p);
        case ColStmtStart:
            return std::int64_t{p.running ? 2 * p.stmtStart : 0};
        case ColStmtEnd:
            return std::int64_t{!p.running ? 0 : (p.stmtEnd < 0 ? -1 : 2 * std::max(0, p.stmtEnd - 1))};
        default:
            return Value{};
        }
    };
    return data;
}

TTableData TStatementRunner::Syscolumns() const
{
    auto rows = std::make_shared<std::vector<std::pair<std::int64_t, std::string>>>();
    for (const std::string& name : SysprocessesColumns())
        rows->emplace_back(-1073624922, name);
    for (const char* name : {"id", "name", "xtype", "colid", "length"})
        rows->emplace_back(3, name);
    for (const char* name : {"id", "name", "xtype", "uid", "type"})
        rows->emplace_back(1, name);
    TTableData data;
    data.names = {"id", "name", "colid"};
    data.types = {{VType::Int, 0, false}, {VType::NVarChar, 128, false}, {VType::SmallInt, 0, false}};
    data.rows = rows->size();
    data.cell = [rows](std::size_t row, int column) -> Value {
        switch (column) {
        case 0:
            return (*rows)[row].first;
        case 1:
            return (*rows)[row].second;
        default:
            return static_cast<std::int64_t>(row + 1);
        }
    };
    return data;
}

TTableData TStatementRunner::Sysobjects() const
{
    auto rows = std::make_shared<std::vector<TSystemObject>>();
    for (const TSystemObject& object : SystemObjects)
        if (Switches.statementOffsetColumn || std::string(object.name) != "fn_get_sql")
            rows->push_back(object);
    TTableData data;
    data.names = {"name", "id", "xtype", "type", "uid"};
    data.types = {{VType::NVarChar, 128, false},
                  {VType::Int, 0, false},
                  {VType::Char, 2, false},
                  {VType::Char, 2, true},
                  {VType::SmallInt, 0, true}};
    data.rows = rows->size();
    data.cell = [rows](std::size_t row, int column) -> Value {
        const TSystemObject& object = (*rows)[row];
        switch (column) {
        case 0:
            return std::string(object.name);
        case 1:
            return object.id;
        case 2:
        case 3:
            return std::string(object.xtype);
        default:
            return std::int64_t{4};
        }
    };
    return data;
}

TTableData TStatementRunner::Sysdatabases() const
{
    auto rows = std::make_shared<std::vector<TDatabaseDef>>(Table.Scenario().databases);
    TTableData data;
    data.names = {"name", "dbid", "cmptlevel"};
    data.types = {{VType::NVarChar, 128, false}, {VType::SmallInt, 0, false}, {VType::TinyInt, 0, false}};
    data.rows = rows->size();
    data.cell = [rows](std::size_t row, int column) -> Value {
        switch (column) {
        case 0:
            return (*rows)[row].name;
        case 1:
            return std::int64_t{(*rows)[row].id};
        default:
            return std::int64_t{90};
        }
    };
    return data;
}

TTableData TStatementRunner::FnGetSql(const Value& handle)
{
    if (!Switches.fnGetSqlPermission)
        throw TSqlError(
            229, "EXECUTE permission denied on object 'fn_get_sql', database 'master', owner 'dbo'.", 14, 5);
    TTableData data;
    data.names = {"dbid", "objectid", "number", "encrypted", "text"};
    data.types = {{VType::SmallInt, 0, true},
                  {VType::Int, 0, true},
                  {VType::SmallInt, 0, true},
                  {VType::Bit, 0, false},
                  {VType::Text, 0, true}};
    const TProcess* process = IsNull(handle) ? nullptr : Table.FindByHandle(std::get<std::string>(handle));
    if (!process)
        return data;
    const bool procedure = !process->objectName.empty();
    auto rows = std::make_shared<Row>(5);
    (*rows)[0] = std::int64_t{process->dbid};
    if (procedure) {
        (*rows)[1] = ProcedureObjectId(process->objectName);
        (*rows)[2] = std::int64_t{1};
    }
    (*rows)[3] = std::int64_t{process->encrypted ? 1 : 0};
    if (!process->encrypted)
        (*rows)[4] = process->sqlText;
    data.rows = 1;
    data.cell = [rows](std::size_t, int column) { return (*rows)[static_cast<std::size_t>(column)]; };
    return data;
}

std::optional<std::string> TStatementRunner::ObjectName(std::int64_t id) const
{
    for (const TSystemObject& object : SystemObjects)
        if (object.id == id)
            return std::string(object.name);
    for (const auto& [spid, process] : Table.Processes())
        if (!process.objectName.empty() && process.dbid == Dbid &&
            ProcedureObjectId(process.objectName) == id)
            return process.objectName;
    return std::nullopt;
}

std::optional<std::int64_t> TStatementRunner::ObjectId(const std::string& name) const
{
    std::string bare = name;
    const std::size_t dot = bare.rfind('.');
    if (dot != std::string::npos)
        bare = bare.substr(dot + 1);
    for (const TSystemObject& object : SystemObjects)
        if (ToLower(object.name) == ToLower(bare))
            return object.id;
    return std::nullopt;
}

} // namespace sandbox
