#pragma once
// Small builders for the model tests: snapshot rows with named values, a whole refresh
// in one call, and a date-time parser for "yyyy-mm-dd hh:mm:ss" texts.

#include "model/Fixedtext.h"
#include "model/Memorystringgrid.h"
#include "model/Processrecord.h"
#include "model/Torvaneprocesscategories.h"

#include <QString>

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// A row keeps its texts, cut to their entry widths as the snapshot cuts them, and gives
// the record of views of them that the aggregations take.
class TRow
{
public:
    TRow(int32_t spid, int32_t ecid = 0)
    {
        R.spid = spid;
        R.ecid = ecid;
        Db("master").Login("sa").Host("ws1").Cmd("AWAITING COMMAND");
    }
    TRow& Db(std::string_view v) { return Text(Texts.DatabaseName, v); }
    TRow& Login(std::string_view v) { return Text(Texts.LoginName, v); }
    TRow& Host(std::string_view v) { return Text(Texts.HostName, v); }
    TRow& Domain(std::string_view v) { return Text(Texts.NtDomain, v); }
    TRow& User(std::string_view v) { return Text(Texts.NtUserName, v); }
    TRow& Address(std::string_view v) { return Text(Texts.NetAddress, v); }
    TRow& Cmd(std::string_view v) { return Text(Texts.Command, v); }
    TRow& Program(std::string_view v) { return Text(Texts.ProgramName, v); }
    TRow& LoginTime(std::string_view v) { return Text(Texts.LoginTime, v); }
    TRow& LastBatch(std::string_view v) { return Text(Texts.LastBatch, v); }
    // A batch time as the snapshot gives it: the text with the value it stands for.
    TRow& LastBatch(std::string_view v, double value)
    {
        R.last_batch_value = value;
        return Text(Texts.LastBatch, v);
    }
    TRow& Library(std::string_view v) { return Text(Texts.NetLibrary, v); }
    TRow& HostProcess(std::string_view v) { return Text(Texts.HostProcess, v); }
    TRow& Blocked(int32_t v)
    {
        R.blocked = v;
        return *this;
    }
    TRow& Cpu(int64_t v)
    {
        R.cpu_usage = v;
        return *this;
    }
    TRow& Mem(int64_t v)
    {
        R.memusage = v;
        return *this;
    }
    TRow& Io(int64_t v)
    {
        R.physical_io = v;
        return *this;
    }
    TRow& OpenTran(int32_t v)
    {
        R.open_tran = v;
        return *this;
    }
    TRow& Wait(int32_t v)
    {
        R.waittime = v;
        return *this;
    }
    operator ProcessRecord() const
    {
        ProcessRecord record = R;
        record.databasename = FixedText(Texts.DatabaseName);
        record.loginame = FixedText(Texts.LoginName);
        record.hostname = FixedText(Texts.HostName);
        record.nt_domain = FixedText(Texts.NtDomain);
        record.nt_username = FixedText(Texts.NtUserName);
        record.net_address = FixedText(Texts.NetAddress);
        record.cmd = FixedText(Texts.Command);
        record.program_name = FixedText(Texts.ProgramName);
        record.login_time = FixedText(Texts.LoginTime);
        record.last_batch = FixedText(Texts.LastBatch);
        record.net_library = FixedText(Texts.NetLibrary);
        record.hostprocess = FixedText(Texts.HostProcess);
        return record;
    }

private:
    template <std::size_t N> TRow& Text(char (&field)[N], std::string_view v)
    {
        CopyFixedText(field, v);
        return *this;
    }
    ProcessRecord R; // the numbers; the texts are made from Texts
    struct
    {
        char DatabaseName[ProcessTextSize::DatabaseName] = {};
        char LoginName[ProcessTextSize::LoginName] = {};
        char HostName[ProcessTextSize::HostName] = {};
        char NtDomain[ProcessTextSize::NtDomain] = {};
        char NtUserName[ProcessTextSize::NtUserName] = {};
        char NetAddress[ProcessTextSize::NetAddress] = {};
        char Command[ProcessTextSize::Command] = {};
        char ProgramName[ProcessTextSize::ProgramName] = {};
        char LoginTime[ProcessTextSize::DateTime] = {};
        char LastBatch[ProcessTextSize::DateTime] = {};
        char NetLibrary[ProcessTextSize::NetLibrary] = {};
        char HostProcess[ProcessTextSize::HostProcess] = {};
    } Texts;
};

// One complete refresh of an aggregation fed by AddProcess.
inline void Refresh(TTorvaneProcessCategories& model, std::initializer_list<TRow> rows)
{
    model.BeginRefresh();
    for (const TRow& row : rows)
        model.AddProcess(row);
    model.EndRefresh();
}

// Seconds since year 0 of "yyyy-mm-dd hh:mm:ss" (or the date alone): enough to order.
inline std::optional<double> ParseTestDateTime(std::string_view text)
{
    int y, mo, d, h = 0, mi = 0, s = 0;
    const std::string copy(text);
    const int read = std::sscanf(copy.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
    if (read != 3 && read != 6)
        return std::nullopt;
    return ((((y * 12.0 + mo) * 31 + d) * 24 + h) * 60 + mi) * 60 + s;
}

inline QString Q(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline QString RowText(const TMemoryStringGrid& grid, int32_t row)
{
    return Q(grid.RowText(row));
}
