// The built-in functions and the @@ values of the statement runner.

#include "sandbox/Sandboxstatements.h"

#include <algorithm>
#include <cmath>

namespace sandbox {

namespace {

const char* const VersionText =
    "Microsoft SQL Server 2005 - 9.00.5000.00 (Intel X86) (simulated by torvane-sandbox)\n"
    "\tDec 10 2010 10:56:29 \n\tCopyright (c) 1988-2005 Microsoft Corporation\n"
    "\tStandard Edition on Windows NT 5.2 (Build 3790: Service Pack 2)\n";

Value OptionalText(const std::optional<std::string>& text)
{
    return text ? Value{*text} : Value{};
}

// quotename: the name between delimiters, each closing delimiter inside it doubled, so
// that it reads back as one identifier (or literal); NULL for a name of more than 128
// characters or a delimiter the server does not offer.
Value QuoteName(const std::optional<std::string>& name, const std::optional<std::string>& delimiter)
{
    if (!name || !delimiter || delimiter->size() != 1)
        return Value{};
    const std::size_t characters = static_cast<std::size_t>(std::count_if(
        name->begin(), name->end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    if (characters > 128)
        return Value{};
    const char open = (*delimiter)[0] == ']' ? '[' : (*delimiter)[0];
    const char close = open == '[' ? ']' : open;
    if (open != '[' && open != '"' && open != '\'')
        return Value{};
    std::string quoted(1, open);
    for (const char c : *name) {
        quoted += c;
        if (c == close)
            quoted += close;
    }
    return quoted + close;
}

} // namespace

TTypeInfo TStatementRunner::GlobalType(const std::string& name) const
{
    if (name == "@@spid" || name == "@@langid")
        return {VType::SmallInt, 0, false};
    if (name == "@@version")
        return {VType::NVarChar, 300, false};
    if (name == "@@servername" || name == "@@servicename" || name == "@@language")
        return {VType::NVarChar, 128, false};
    if (name == "@@max_precision" || name == "@@datefirst")
        return {VType::TinyInt, 0, false};
    if (name == "@@identity")
        return {VType::BigInt, 0, true};
    static const char* const integers[] = {
        "@@cpu_busy",         "@@idle",
        "@@io_busy",          "@@pack_received",
        "@@pack_sent",        "@@packet_errors",
        "@@total_read",       "@@total_write",
        "@@total_errors",     "@@connections",
        "@@trancount",        "@@rowcount",
        "@@fetch_status",     "@@error",
        "@@textsize",         "@@options",
        "@@microsoftversion", "@@lock_timeout",
        "@@nestlevel",        "@@procid",
        "@@timeticks",        "@@max_connections",
        "@@cursor_rows",
    };
    for (const char* known : integers)
        if (name == known)
            return {VType::Int, 0, false};
    throw TSqlError(137, "Must declare the scalar variable \"" + name + "\".", 15, 2);
}

Value TStatementRunner::Global(const std::string& name) const
{
    const TServerCounters& counters = Table.Counters();
    // The server's counters are int and wrap as a real server's do.
    const auto wrap = [](std::int64_t value) {
        return static_cast<std::int64_t>(static_cast<std::int32_t>(value));
    };
    if (name == "@@spid")
        return std::int64_t{Spid};
    if (name == "@@version")
        return std::string(VersionText);
    if (name == "@@servername" || name == "@@servicename")
        return name == "@@servername" ? Table.Scenario().serverName : std::string("MSSQLSERVER");
    if (name == "@@language")
        return std::string("us_english");
    if (name == "@@langid")
        return std::int64_t{0};
    if (name == "@@max_precision")
        return std::int64_t{38};
    if (name == "@@datefirst")
        return std::int64_t{7};
    if (name == "@@identity")
        return Value{};
    if (name == "@@cpu_busy")
        return wrap(counters.cpuBusy);
    if (name == "@@idle")
        return wrap(counters.idle);
    if (name == "@@io_busy")
        return wrap(counters.ioBusy);
    if (name == "@@pack_received")
        return wrap(counters.packReceived);
    if (name == "@@pack_sent")
        return wrap(counters.packSent);
    if (name == "@@packet_errors")
        return wrap(counters.packetErrors);
    if (name == "@@total_read")
        return wrap(counters.totalRead);
    if (name == "@@total_write")
        return wrap(counters.totalWrite);
    if (name == "@@total_errors")
        return wrap(counters.totalErrors);
    if (name == "@@connections")
        return wrap(counters.connections);
    if (name == "@@trancount") {
        const TProcess* process = Table.Find(Spid);
        return std::int64_t{process ? process->trancount : 0};
    }
    if (name == "@@rowcount")
        return RowCountValue;
    if (name == "@@fetch_status")
        return FetchStatus;
    if (name == "@@error")
        return ErrorValue;
    if (name == "@@textsize")
        return std::int64_t{2147483647};
    if (name == "@@options")
        return std::int64_t{5496};
    if (name == "@@microsoftversion")
        return std::int64_t{0x09001388};
    if (name == "@@lock_timeout")
        return std::int64_t{-1};
    if (name == "@@nestlevel")
        return std::int64_t{NestLevel};
    if (name == "@@timeticks")
        return std::int64_t{31250};
    if (name == "@@max_connections")
        return std::int64_t{32767};
    return std::int64_t{0};
}

TTypeInfo TStatementRunner::FunctionType(TExpr& expr, const TRowContext& context)
{
    const std::string& f = expr.name;
    const std::uint32_t h = expr.nameHash;
    const auto arg = [&](std::size_t i) { return TypeOf(*expr.args.at(i), context); };
    const auto needArgs = [&](std::size_t low, std::size_t high) {
        if (expr.args.size() < low || expr.args.size() > high)
            throw TSqlError(174, "The " + f + " function requires " + std::to_string(low) + " argument(s).",
                            15);
    };
    if (h == Fn("rtrim") || h == Fn("ltrim") || h == Fn("upper") || h == Fn("lower")) {
        needArgs(1, 1);
        TTypeInfo type = arg(0);
        if (type.type == VType::NChar || type.type == VType::NText)
            type.type = VType::NVarChar;
        else if (!IsText(type.type) || type.type == VType::Char || type.type == VType::Text)
            type = TTypeInfo{VType::VarChar, IsText(type.type) ? type.length : 30, type.nullable};
        return type;
    }
    if (h == Fn("isnull")) {
        needArgs(2, 2);
        TTypeInfo type = arg(0);
        const TTypeInfo replacement = arg(1);
        if (type.type == VType::Null)
            return replacement;
        type.nullable = replacement.nullable;
        return type;
    }
    if (h == Fn("coalesce")) {
        TTypeInfo type = arg(0);
        for (std::size_t i = 1; i < expr.args.size(); ++i)
            type = CommonType(type, arg(i), false);
        return type;
    }
    if (h == Fn("db_name") || h == Fn("object_name") || h == Fn("suser_sname") || h == Fn("suser_name") ||
        h == Fn("user_name") || h == Fn("host_name") || h == Fn("app_name") || h == Fn("serverproperty") ||
        h == Fn("databasepropertyex")) {
        for (std::size_t i = 0; i < expr.args.size(); ++i)
            arg(i);
        return {VType::NVarChar, 128, true};
    }
    if (h == Fn("db_id")) {
        needArgs(0, 1);
        return {VType::SmallInt, 0, true};
    }
    if (h == Fn("has_dbaccess") || h == Fn("object_id") || h == Fn("datalength") || h == Fn("len") ||
        h == Fn("charindex") || h == Fn("is_srvrolemember")) {
        for (std::size_t i = 0; i < expr.args.size(); ++i)
            arg(i);
        return {VType::Int, 0, true};
    }
    if (h == Fn("permissions")) {
        needArgs(0, 2);
        return {VType::Int, 0, true};
    }
    if (h == Fn("char") || h == Fn("nchar")) {
        needArgs(1, 1);
        return {h == Fn("char") ? VType::Char : VType::NChar, 1, true};
    }
    if (h == Fn("ceiling") || h == Fn("floor") || h == Fn("abs")) {
        needArgs(1, 1);
        return arg(0);
    }
    if (h == Fn("quotename")) {
        needArgs(1, 2);
        for (std::size_t i = 0; i < expr.args.size(); ++i)
            arg(i);
        return {VType::NVarChar, 258, true};
    }
    if (h == Fn("substring") || h == Fn("left") || h == Fn("right") || h == Fn("replace")) {
        needArgs(h == Fn("substring") || h == Fn("replace") ? 3 : 2,
                 h == Fn("substring") || h == Fn("replace") ? 3 : 2);
        TTypeInfo type = arg(0);
        for (std::size_t i = 1; i < expr.args.size(); ++i)
            arg(i);
        if (type.type == VType::Text || type.type == VType::Char || !IsText(type.type))
            type = TTypeInfo{VType::VarChar,
                             type.type == VType::Text || !IsText(type.type) ? 8000 : type.length, true};
        if (type.type == VType::NText || type.type == VType::NChar)
            type = TTypeInfo{VType::NVarChar, type.type == VType::NText ? 4000 : type.length, true};
        type.nullable = true;
        return type;
    }
    if (h == Fn("getdate") || h == Fn("getutcdate") || h == Fn("current_timestamp")) {
        needArgs(0, 0);
        return {VType::DateTime, 0, false};
    }
    if (h == Fn("count")) {
        needArgs(1, 1);
        if (expr.args[0]->kind != TExpr::Kind::Star)
            arg(0);
        return {VType::Int, 0, false};
    }
    if (h == Fn("min") || h == Fn("max")) {
        needArgs(1, 1);
        TTypeInfo type = arg(0);
        type.nullable = true;
        if (type.type == VType::NChar)
            type.type = VType::NVarChar;
        return type;
    }
    if (h == Fn("sum") || h == Fn("avg")) {
        needArgs(1, 1);
        const TTypeInfo type = arg(0);
        return {type.type == VType::Float ? VType::Float
                                          : (type.type == VType::BigInt ? VType::BigInt : VType::Int),
                0, true};
    }
    throw TSqlError(195, "'" + expr.sourceText + "' is not a recognized built-in function name.", 15);
}

Value TStatementRunner::EvalFunction(TExpr& expr, const TRowContext& context)
{
    const std::uint32_t h = expr.nameHash;
    const auto value = [&](std::size_t i) { return Eval(*expr.args.at(i), context); };
    const auto text = [&](std::size_t i) -> std::optional<std::string> {
        const TTypeInfo type = TypeOf(*expr.args.at(i), context);
        const Value v = Convert(value(i), type,
                                TTypeInfo{IsUnicode(type.type) ? VType::NVarChar : VType::VarChar, 0, true});
        return IsNull(v) ? std::nullopt : std::optional<std::string>(std::get<std::string>(v));
    };
    const auto integer = [&](std::size_t i) -> std::optional<std::int64_t> {
        const Value v =
            Convert(value(i), TypeOf(*expr.args.at(i), context), TTypeInfo{VType::BigInt, 0, true});
        return IsNull(v) ? std::nullopt : std::optional<std::int64_t>(std::get<std::int64_t>(v));
    };
    const TTypeInfo type = FunctionType(expr, context);
    if (h == Fn("rtrim") || h == Fn("ltrim") || h == Fn("upper") || h == Fn("lower")) {
        const Value v = value(0);
        if (IsNull(v))
            return v;
        std::string s = std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : *text(0);
        if (h == Fn("rtrim"))
            return RTrim(s);
        if (h == Fn("ltrim"))
            return s.erase(0, std::min(s.find_first_not_of(' '), s.size()));
        return h == Fn("upper") ? UpperAscii(s) : ToLower(s);
    }
    if (h == Fn("isnull") || h == Fn("coalesce")) {
        for (std::size_t i = 0; i < expr.args.size(); ++i) {
            const Value v = value(i);
            if (!IsNull(v))
                return Convert(v, TypeOf(*expr.args[i], context), type);
        }
        return Value{};
    }
    if (h == Fn("db_name")) {
        if (expr.args.empty())
            return OptionalText(Table.DatabaseName(Dbid));
        const auto id = integer(0);
        return id ? OptionalText(Table.DatabaseName(static_cast<int>(*id))) : Value{};
    }
    if (h == Fn("db_id")) {
        if (expr.args.empty())
            return std::int64_t{Dbid};
        const auto name = text(0);
        const auto id = name ? Table.DatabaseId(*name, CaseSensitive()) : std::nullopt;
        return id ? Value{std::int64_t{*id}} : Value{};
    }
    if (h == Fn("has_dbaccess")) {
        const auto name = text(0);
        const auto id = name ? Table.DatabaseId(*name, CaseSensitive()) : std::nullopt;
        return id ? Value{std::int64_t{Table.HasAccess(Login, *id) ? 1 : 0}} : Value{};
    }
    if (h == Fn("object_name")) {
        const auto id = integer(0);
        return id ? OptionalText(ObjectName(*id)) : Value{};
    }
    if (h == Fn("object_id")) {
        const auto name = text(0);
        const auto id = name ? ObjectId(*name) : std::nullopt;
        return id ? Value{*id} : Value{};
    }
    if (h == Fn("permissions")) {
        // EXECUTE (0x20) on fn_get_sql is what the switch grants or withholds;
        // other objects allow SELECT (0x1) and EXECUTE.
        if (expr.args.empty())
            return std::int64_t{0x1 | 0x20};
        const auto id = integer(0);
        if (!id)
            return Value{};
        const auto name = ObjectName(*id);
        if (name && *name == "fn_get_sql")
            return std::int64_t{Switches.fnGetSqlPermission ? 0x20 : 0};
        return std::int64_t{0x1 | 0x20};
    }
    if (h == Fn("char") || h == Fn("nchar")) {
        const auto code = integer(0);
        if (!code || *code < 0 || *code > (h == Fn("char") ? 255 : 65535))
            return Value{};
        if (*code < 0x80)
            return std::string(1, static_cast<char>(*code));
        std::string utf8;
        if (*code < 0x800) {
            utf8 += static_cast<char>(0xC0 | (*code >> 6));
        } else {
            utf8 += static_cast<char>(0xE0 | (*code >> 12));
            utf8 += static_cast<char>(0x80 | ((*code >> 6) & 0x3F));
        }
        utf8 += static_cast<char>(0x80 | (*code & 0x3F));
        return utf8;
    }
    if (h == Fn("quotename"))
        return QuoteName(text(0), expr.args.size() > 1 ? text(1) : std::string("["));
    if (h == Fn("ceiling") || h == Fn("floor") || h == Fn("abs")) {
        const Value v = value(0);
        if (const auto* d = std::get_if<double>(&v))
            return h == Fn("ceiling") ? std::ceil(*d) : (h == Fn("floor") ? std::floor(*d) : std::fabs(*d));
        if (const auto* i = std::get_if<std::int64_t>(&v))
            return h == Fn("abs") ? std::int64_t{*i < 0 ? -*i : *i} : *i;
        return v;
    }
    if (h == Fn("substring") || h == Fn("left") || h == Fn("right")) {
        const auto s = text(0);
        const auto a = integer(1);
        const auto b = h == Fn("substring") ? integer(2) : std::optional<std::int64_t>(0);
        if (!s || !a || !b)
            return Value{};
        const std::int64_t size = static_cast<std::int64_t>(s->size());
        std::int64_t start = 0;
        std::int64_t length = 0;
        if (h == Fn("substring")) {
            if (*b < 0)
                throw TSqlError(537, "Invalid length parameter passed to the substring function.");
            start = *a - 1;
            length = *b;
            if (start < 0) {
                length += start;
                start = 0;
            }
        } else if (h == Fn("left")) {
            length = *a;
        } else {
            length = std::min(*a, size);
            start = size - length;
        }
        if (start >= size || length <= 0)
            return std::string();
        return s->substr(static_cast<std::size_t>(start),
                         static_cast<std::size_t>(std::min(length, size - start)));
    }
    if (h == Fn("replace")) {
        auto s = text(0);
        const auto from = text(1);
        const auto to = text(2);
        if (!s || !from || !to)
            return Value{};
        if (from->empty())
            return *s;
        for (std::size_t at = 0; (at = s->find(*from, at)) != std::string::npos; at += to->size())
            s->replace(at, from->size(), *to);
        return *s;
    }
    if (h == Fn("datalength") || h == Fn("len")) {
        const TTypeInfo argType = TypeOf(*expr.args[0], context);
        const Value v = value(0);
        if (IsNull(v))
            return v;
        if (const auto* s = std::get_if<std::string>(&v)) {
            const std::size_t size = h == Fn("len") ? RTrim(*s).size() : s->size();
            return static_cast<std::int64_t>(IsUnicode(argType.type) && h == Fn("datalength") ? 2 * size
                                                                                              : size);
        }
        return std::int64_t{h == Fn("len") ? static_cast<std::int64_t>(text(0)->size()) : 4};
    }
    if (h == Fn("charindex")) {
        const auto needle = text(0);
        const auto haystack = text(1);
        if (!needle || !haystack)
            return Value{};
        const std::size_t at = ToLower(*haystack).find(ToLower(*needle));
        return std::int64_t{at == std::string::npos ? 0 : static_cast<std::int64_t>(at) + 1};
    }
    if (h == Fn("getdate") || h == Fn("getutcdate") || h == Fn("current_timestamp"))
        return DateTimeValue{Table.Now()};
    if (h == Fn("suser_sname") || h == Fn("suser_name") || h == Fn("user_name")) {
        if (!expr.args.empty())
            return Value{};
        return h == Fn("user_name") ? std::string("dbo") : Login;
    }
    if (h == Fn("host_name") || h == Fn("app_name")) {
        const TProcess* process = Table.Find(Spid);
        if (!process)
            return Value{};
        return h == Fn("app_name") ? Value{process->programName} : OptionalText(process->hostName);
    }
    if (h == Fn("is_srvrolemember")) {
        const TAccount* account = Table.FindAccount(Login);
        const auto role = text(0);
        return std::int64_t{role && ToLower(*role) == "sysadmin" && account && account->sysadmin ? 1 : 0};
    }
    if (h == Fn("serverproperty") || h == Fn("databasepropertyex")) {
        const auto property = text(expr.args.size() - 1);
        if (!property)
            return Value{};
        const std::string p = ToLower(*property);
        if (p == "servername" || p == "machinename")
            return Table.Scenario().serverName;
        if (p == "productversion")
            return std::string("9.00.5000.00");
        if (p == "productlevel")
            return std::string("SP4");
        if (p == "edition")
            return std::string("Standard Edition");
        if (p == "collation")
            return std::string(CaseSensitive() ? "SQL_Latin1_General_CP1_CS_AS"
                                               : "SQL_Latin1_General_CP1_CI_AS");
        if (p == "instancename")
            return Value{};
        if (p == "engineedition")
            return std::string("2");
        return Value{};
    }
    throw TSqlError(195, "'" + expr.sourceText + "' is not a recognized built-in function name.", 15);
}

} // namespace sandbox
