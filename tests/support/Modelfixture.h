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

class TRow
{
public:
    TRow(int32_t spid, int32_t ecid = 0)
    {
        R.spid = spid;
        R.ecid = ecid;
        Db("master").Login("sa").Host("ws1").Cmd("AWAITING COMMAND");
    }
    TRow& Db(std::string_view v) { return Text(R.databasename, v); }
    TRow& Login(std::string_view v) { return Text(R.loginame, v); }
    TRow& Host(std::string_view v) { return Text(R.hostname, v); }
    TRow& Domain(std::string_view v) { return Text(R.nt_domain, v); }
    TRow& User(std::string_view v) { return Text(R.nt_username, v); }
    TRow& Address(std::string_view v) { return Text(R.net_address, v); }
    TRow& Cmd(std::string_view v) { return Text(R.cmd, v); }
    TRow& Program(std::string_view v) { return Text(R.program_name, v); }
    TRow& LoginTime(std::string_view v) { return Text(R.login_time, v); }
    TRow& LastBatch(std::string_view v) { return Text(R.last_batch, v); }
    // A batch time as the snapshot gives it: the text with the value it stands for.
    TRow& LastBatch(std::string_view v, double value)
    {
        R.last_batch_value = value;
        return Text(R.last_batch, v);
    }
    TRow& Library(std::string_view v) { return Text(R.net_library, v); }
    TRow& HostProcess(std::string_view v) { return Text(R.hostprocess, v); }
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
    operator const ProcessRecord&() const { return R; }

private:
    template <std::size_t N> TRow& Text(char (&field)[N], std::string_view v)
    {
        CopyFixedText(field, v);
        return *this;
    }
    ProcessRecord R;
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
