#include "sandbox/Sandboxsqlvalue.h"

#include "sandbox/Sandboxsqlerror.h"
#include "sandbox/Sandboxsqllexer.h"
#include "sandbox/Tdsbuffer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

namespace sandbox {

bool IsInteger(VType type)
{
    return type == VType::Bit || type == VType::TinyInt || type == VType::SmallInt || type == VType::Int ||
           type == VType::BigInt;
}

bool IsText(VType type)
{
    return type == VType::Char || type == VType::VarChar || type == VType::NChar || type == VType::NVarChar ||
           type == VType::Text || type == VType::NText;
}

bool IsUnicode(VType type)
{
    return type == VType::NChar || type == VType::NVarChar || type == VType::NText;
}

int Precedence(VType type)
{
    switch (type) {
    case VType::Null:
        return 0;
    case VType::Binary:
        return 1;
    case VType::Char:
        return 2;
    case VType::VarChar:
        return 3;
    case VType::NChar:
        return 4;
    case VType::NVarChar:
        return 5;
    case VType::Text:
        return 6;
    case VType::NText:
        return 7;
    case VType::Bit:
        return 8;
    case VType::TinyInt:
        return 9;
    case VType::SmallInt:
        return 10;
    case VType::Int:
        return 11;
    case VType::BigInt:
        return 12;
    case VType::Float:
        return 13;
    case VType::DateTime:
        return 14;
    }
    return 0;
}

TTypeInfo CommonType(const TTypeInfo& a, const TTypeInfo& b, bool concatenation)
{
    TTypeInfo result;
    result.nullable = a.nullable || b.nullable;
    if (concatenation && (IsText(a.type) || a.type == VType::Null) &&
        (IsText(b.type) || b.type == VType::Null)) {
        const bool unicode = IsUnicode(a.type) || IsUnicode(b.type);
        result.type = unicode ? VType::NVarChar : VType::VarChar;
        result.length = std::min(a.length + b.length, unicode ? 4000 : 8000);
        return result;
    }
    const TTypeInfo& winner = Precedence(a.type) >= Precedence(b.type) ? a : b;
    result.type = winner.type;
    result.length = IsText(winner.type) ? std::max(a.length, b.length) : winner.length;
    if (result.type == VType::Char)
        result.type = VType::VarChar;
    if (result.type == VType::NChar)
        result.type = VType::NVarChar;
    if (result.type == VType::Bit || result.type == VType::TinyInt || result.type == VType::SmallInt)
        result.type = concatenation ? VType::Int : result.type;
    return result;
}

bool IsNull(const Value& value)
{
    return std::holds_alternative<std::monostate>(value);
}

namespace {

const char* TypeName(VType type)
{
    switch (type) {
    case VType::Null:
        return "null";
    case VType::Bit:
        return "bit";
    case VType::TinyInt:
        return "tinyint";
    case VType::SmallInt:
        return "smallint";
    case VType::Int:
        return "int";
    case VType::BigInt:
        return "bigint";
    case VType::Float:
        return "float";
    case VType::Char:
        return "char";
    case VType::VarChar:
        return "varchar";
    case VType::NChar:
        return "nchar";
    case VType::NVarChar:
        return "nvarchar";
    case VType::Text:
        return "text";
    case VType::NText:
        return "ntext";
    case VType::DateTime:
        return "datetime";
    case VType::Binary:
        return "binary";
    }
    return "?";
}

std::string FloatText(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

// "yyyy-mm-ddThh:mm:ss[.fff]" (or a blank for the T), the form a server reads the same
// whatever its language and date format, as days since 1899-12-30.
std::optional<double> IsoDateTimeDays(const std::string& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    char separator = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &year, &month, &day, &separator, &hour, &minute,
                    &second, &consumed) != 7 ||
        (separator != 'T' && separator != ' '))
        return std::nullopt;
    double milliseconds = 0;
    const std::string fraction = text.substr(static_cast<std::size_t>(consumed));
    if (!fraction.empty()) {
        if (fraction[0] != '.' || fraction.size() < 2 || fraction.size() > 4 ||
            fraction.find_first_not_of("0123456789", 1) != std::string::npos)
            return std::nullopt;
        milliseconds = std::stod("0" + fraction) * 1000.0;
    }
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    constexpr std::chrono::sys_days Base = std::chrono::year(1899) / 12 / 30;
    const double days = static_cast<double>((std::chrono::sys_days(date) - Base).count()) +
                        ((hour * 60.0 + minute) * 60.0 + second + milliseconds / 1000.0) / 86400.0;
    return days;
}

std::string DateTimeText(double days)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Civil date from days since 1899-12-30 (Howard Hinnant's algorithm).
    const long long whole = static_cast<long long>(std::floor(days));
    long long z = whole - 25569 + 719468; // to days since 1970-01-01, then era-based
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = yoe + era * 400 + (m <= 2);
    const long long minutes =
        static_cast<long long>(std::floor((days - static_cast<double>(whole)) * 1440.0 + 1e-7));
    const long long hour = minutes / 60 % 24;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s %2lld %lld %2lld:%02lld%s", months[m - 1], d, y,
                  hour % 12 == 0 ? 12 : hour % 12, minutes % 60, hour < 12 ? "AM" : "PM");
    return buffer;
}

std::string BinaryFromInteger(std::int64_t value, int bytes)
{
    std::string out(static_cast<std::size_t>(bytes), '\0');
    for (int i = bytes - 1; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xff);
        value >>= 8;
    }
    return out;
}

[[noreturn]] void ConversionFailed(const std::string& text, VType from, VType to)
{
    throw TSqlError(245, "Conversion failed when converting the " + std::string(TypeName(from)) + " value '" +
                             text + "' to data type " + TypeName(to) + ".");
}

std::int64_t RangeChecked(std::int64_t value, VType to)
{
    std::int64_t low = INT64_MIN;
    std::int64_t high = INT64_MAX;
    if (to == VType::Int) {
        low = INT32_MIN;
        high = INT32_MAX;
    } else if (to == VType::SmallInt) {
        low = INT16_MIN;
        high = INT16_MAX;
    } else if (to == VType::TinyInt) {
        low = 0;
        high = 255;
    } else if (to == VType::Bit) {
        return value != 0;
    }
    if (value < low || value > high)
        throw TSqlError(220, std::string("Arithmetic overflow error for data type ") + TypeName(to) +
                                 ", value = " + std::to_string(value) + ".");
    return value;
}

} // namespace

Value Convert(const Value& value, const TTypeInfo& from, const TTypeInfo& to)
{
    if (IsNull(value) || to.type == VType::Null)
        return value;
    if (IsText(to.type)) {
        std::string text;
        if (const auto* s = std::get_if<std::string>(&value))
            text = *s;
        else if (const auto* i = std::get_if<std::int64_t>(&value))
            text = std::to_string(*i);
        else if (const auto* f = std::get_if<double>(&value))
            text = FloatText(*f);
        else if (const auto* d = std::get_if<DateTimeValue>(&value))
            text = DateTimeText(d->days);
        if (IsUnicode(from.type) && !IsUnicode(to.type))
            text = Utf8WithinCp1252(text);
        if (IsInteger(from.type) && to.length > 0 && static_cast<int>(text.size()) > to.length)
            throw TSqlError(8115,
                            std::string("Arithmetic overflow error converting expression to data type ") +
                                TypeName(to.type) + ".");
        // Lengths count characters, as the server's do (text is held as UTF-8 here).
        if (to.length > 0 && to.type != VType::Text && to.type != VType::NText)
            text = CutToWidth(text, static_cast<std::size_t>(to.length));
        if (to.type == VType::Char || to.type == VType::NChar) {
            const std::size_t width = TextWidth(text);
            if (static_cast<int>(width) < to.length)
                text.append(static_cast<std::size_t>(to.length) - width, ' ');
        }
        return text;
    }
    if (IsInteger(to.type)) {
        if (const auto* i = std::get_if<std::int64_t>(&value))
            return RangeChecked(*i, to.type);
        if (const auto* f = std::get_if<double>(&value))
            return RangeChecked(static_cast<std::int64_t>(std::trunc(*f)), to.type);
        if (const auto* s = std::get_if<std::string>(&value)) {
            if (from.type == VType::Binary) {
                std::int64_t result = 0;
                for (unsigned char c : *s)
                    result = result << 8 | c;
                return RangeChecked(result, to.type);
            }
            std::string trimmed = RTrim(*s);
            trimmed.erase(0, trimmed.find_first_not_of(' '));
            std::int64_t result = 0;
            const char* begin = trimmed.data() + (!trimmed.empty() && trimmed[0] == '+');
            const auto [end, error] = std::from_chars(begin, trimmed.data() + trimmed.size(), result);
            if (trimmed.empty())
                return std::int64_t{0};
            if (error != std::errc() || end != trimmed.data() + trimmed.size())
                ConversionFailed(*s, from.type, to.type);
            return RangeChecked(result, to.type);
        }
        throw TSqlError(529, std::string("Explicit conversion from data type ") + TypeName(from.type) +
                                 " to " + TypeName(to.type) + " is not allowed.");
    }
    if (to.type == VType::Float) {
        if (const auto* i = std::get_if<std::int64_t>(&value))
            return static_cast<double>(*i);
        if (const auto* f = std::get_if<double>(&value))
            return *f;
        if (const auto* s = std::get_if<std::string>(&value)) {
            try {
                std::size_t used = 0;
                const double result = std::stod(*s, &used);
                if (RTrim(s->substr(used)).empty())
                    return result;
            } catch (const std::exception&) {
            }
            throw TSqlError(8114,
                            std::string("Error converting data type ") + TypeName(from.type) + " to float.");
        }
    }
    if (to.type == VType::DateTime) {
        if (const auto* d = std::get_if<DateTimeValue>(&value))
            return *d;
        if (const auto* i = std::get_if<std::int64_t>(&value))
            return DateTimeValue{static_cast<double>(*i) + 2.0};
        if (const auto* s = std::get_if<std::string>(&value)) {
            if (const std::optional<double> days = IsoDateTimeDays(RTrim(*s)))
                return DateTimeValue{*days};
        }
        throw TSqlError(241, "Conversion failed when converting date and/or time from character string.");
    }
    if (to.type == VType::Binary) {
        if (const auto* i = std::get_if<std::int64_t>(&value)) {
            const int bytes = to.length > 0 ? to.length : (from.type == VType::BigInt ? 8 : 4);
            return BinaryFromInteger(*i, bytes);
        }
        if (const auto* s = std::get_if<std::string>(&value)) {
            std::string bytes = *s;
            if (to.length > 0 && static_cast<int>(bytes.size()) != to.length)
                bytes.resize(static_cast<std::size_t>(to.length), '\0');
            return bytes;
        }
    }
    throw TSqlError(529, std::string("Explicit conversion from data type ") + TypeName(from.type) + " to " +
                             TypeName(to.type) + " is not allowed.");
}

namespace {

int CompareText(const std::string& a, const std::string& b, bool caseSensitive)
{
    std::size_t na = a.size();
    std::size_t nb = b.size();
    while (na > 0 && a[na - 1] == ' ')
        --na;
    while (nb > 0 && b[nb - 1] == ' ')
        --nb;
    const std::size_t n = std::min(na, nb);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (!caseSensitive) {
            ca = static_cast<unsigned char>(std::tolower(ca));
            cb = static_cast<unsigned char>(std::tolower(cb));
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

int CompareBinary(std::string a, std::string b)
{
    const std::size_t n = std::max(a.size(), b.size());
    a.resize(n, '\0');
    b.resize(n, '\0');
    return a == b ? 0 : (a < b ? -1 : 1);
}

template <typename T> int Sign(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

int Compare(const Value& a, const TTypeInfo& ta, const Value& b, const TTypeInfo& tb, bool caseSensitive)
{
    if (ta.type == VType::Binary && tb.type == VType::Binary)
        return CompareBinary(std::get<std::string>(a), std::get<std::string>(b));
    const TTypeInfo common = CommonType(ta, tb, false);
    const Value ca = Convert(a, ta, common);
    const Value cb = Convert(b, tb, common);
    if (const auto* s = std::get_if<std::string>(&ca))
        return common.type == VType::Binary ? CompareBinary(*s, std::get<std::string>(cb))
                                            : CompareText(*s, std::get<std::string>(cb), caseSensitive);
    if (const auto* i = std::get_if<std::int64_t>(&ca))
        return Sign(*i, std::get<std::int64_t>(cb));
    if (const auto* f = std::get_if<double>(&ca))
        return Sign(*f, std::get<double>(cb));
    if (const auto* d = std::get_if<DateTimeValue>(&ca))
        return Sign(d->days, std::get<DateTimeValue>(cb).days);
    return 0;
}

namespace {

bool SameChar(char a, char b, bool caseSensitive)
{
    return caseSensitive
               ? a == b
               : std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

bool LikeAt(const std::string& text, std::size_t t, const std::string& pattern, std::size_t p,
            bool caseSensitive)
{
    while (p < pattern.size()) {
        const char pc = pattern[p];
        if (pc == '%') {
            while (p < pattern.size() && pattern[p] == '%')
                ++p;
            if (p == pattern.size())
                return true;
            for (std::size_t i = t; i <= text.size(); ++i)
                if (LikeAt(text, i, pattern, p, caseSensitive))
                    return true;
            return false;
        }
        if (t >= text.size())
            return false;
        if (pc == '_') {
            ++p;
            ++t;
        } else if (pc == '[' && pattern.find(']', p) != std::string::npos) {
            const std::size_t close = pattern.find(']', p);
            std::string set = pattern.substr(p + 1, close - p - 1);
            const bool negate = !set.empty() && set[0] == '^';
            if (negate)
                set.erase(0, 1);
            bool found = false;
            for (std::size_t i = 0; i < set.size(); ++i) {
                if (i + 2 < set.size() && set[i + 1] == '-') {
                    const char c = caseSensitive
                                       ? text[t]
                                       : static_cast<char>(std::tolower(static_cast<unsigned char>(text[t])));
                    found = found || (c >= set[i] && c <= set[i + 2]);
                    i += 2;
                } else {
                    found = found || SameChar(text[t], set[i], caseSensitive);
                }
            }
            if (found == negate)
                return false;
            p = close + 1;
            ++t;
        } else {
            if (!SameChar(text[t], pc, caseSensitive))
                return false;
            ++p;
            ++t;
        }
    }
    return t == text.size();
}

} // namespace

bool Like(const std::string& text, const std::string& pattern, bool caseSensitive)
{
    return LikeAt(RTrim(text), 0, pattern, 0, caseSensitive) || LikeAt(text, 0, pattern, 0, caseSensitive);
}

TTypeInfo TypeFromName(const std::string& name, int length, bool lengthGiven)
{
    static const std::map<std::string, VType> types = {
        {"bit", VType::Bit},
        {"tinyint", VType::TinyInt},
        {"smallint", VType::SmallInt},
        {"int", VType::Int},
        {"integer", VType::Int},
        {"bigint", VType::BigInt},
        {"float", VType::Float},
        {"real", VType::Float},
        {"char", VType::Char},
        {"varchar", VType::VarChar},
        {"nchar", VType::NChar},
        {"nvarchar", VType::NVarChar},
        {"sysname", VType::NVarChar},
        {"text", VType::Text},
        {"ntext", VType::NText},
        {"datetime", VType::DateTime},
        {"smalldatetime", VType::DateTime},
        {"binary", VType::Binary},
        {"varbinary", VType::Binary},
    };
    const auto it = types.find(ToLower(name));
    if (it == types.end())
        throw TSqlError(2715, "Column, parameter, or variable #1: Cannot find data type " + name + ".");
    TTypeInfo type;
    type.type = it->second;
    type.nullable = true;
    if (IsText(type.type) || type.type == VType::Binary) {
        const bool fixed =
            type.type == VType::Char || type.type == VType::NChar || type.type == VType::Binary;
        type.length = lengthGiven ? length : (ToLower(name) == "sysname" ? 128 : (fixed ? 1 : 30));
        if (type.type == VType::Text || type.type == VType::NText)
            type.length = 0;
    }
    return type;
}

Column ResultColumn(const std::string& name, const TTypeInfo& type)
{
    Column column;
    column.name = name;
    column.nullable = type.nullable;
    switch (type.type) {
    case VType::Null:
        column.type = SqlType::Int;
        break;
    case VType::Bit:
        column.type = SqlType::Bit;
        break;
    case VType::TinyInt:
        column.type = SqlType::TinyInt;
        break;
    case VType::SmallInt:
        column.type = SqlType::SmallInt;
        break;
    case VType::Int:
        column.type = SqlType::Int;
        break;
    case VType::BigInt:
        column.type = SqlType::BigInt;
        break;
    case VType::Float:
        column.type = SqlType::Float;
        break;
    case VType::Char:
    case VType::VarChar:
        column.type = SqlType::VarChar;
        column.maxLength = std::max(type.length, 1);
        break;
    case VType::NChar:
    case VType::NVarChar:
        column.type = SqlType::NVarChar;
        column.maxLength = std::max(type.length, 1);
        break;
    case VType::Text:
        column.type = SqlType::Text;
        break;
    case VType::NText:
        column.type = SqlType::NText;
        break;
    case VType::DateTime:
        column.type = SqlType::DateTime;
        break;
    case VType::Binary:
        column.type = SqlType::VarChar;
        column.maxLength = 2 + 2 * std::max(type.length, 1);
        break;
    }
    return column;
}

Value ResultValue(const Value& value, const TTypeInfo& type)
{
    if (type.type == VType::Binary && !IsNull(value)) {
        static const char digits[] = "0123456789ABCDEF";
        std::string text = "0x";
        for (unsigned char c : std::get<std::string>(value)) {
            text += digits[c >> 4];
            text += digits[c & 15];
        }
        return text;
    }
    if ((type.type == VType::Char || type.type == VType::NChar) && !IsNull(value)) {
        std::string text = std::get<std::string>(value);
        // Fixed-width columns are padded to their width in characters, not UTF-8 bytes.
        const auto characters = std::count_if(
            text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
        if (characters < type.length)
            text.append(static_cast<std::size_t>(type.length - characters), ' ');
        return text;
    }
    return value;
}

std::string RTrim(const std::string& text)
{
    const std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

namespace {

std::size_t Utf8Bytes(unsigned char lead)
{
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

} // namespace

std::size_t TextWidth(const std::string& text)
{
    std::size_t units = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t bytes = Utf8Bytes(static_cast<unsigned char>(text[at]));
        units += bytes == 4 ? 2 : 1;
        at += bytes;
    }
    return units;
}

std::string CutToWidth(const std::string& text, std::size_t width)
{
    std::size_t units = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t bytes = Utf8Bytes(static_cast<unsigned char>(text[at]));
        units += bytes == 4 ? 2 : 1;
        if (units > width)
            return text.substr(0, at);
        at += bytes;
    }
    return text;
}

} // namespace sandbox
