#include "sandbox/Tdsresultset.h"

#include "sandbox/Tdslogin.h"
#include "sandbox/Tdstokens.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sandbox {

namespace {

namespace Token {
constexpr std::uint8_t ColMetadata = 0x81;
constexpr std::uint8_t Row = 0xD1;
} // namespace Token

namespace WireType {
constexpr std::uint8_t Text = 0x23;
constexpr std::uint8_t IntN = 0x26;
constexpr std::uint8_t NText = 0x63;
constexpr std::uint8_t BitN = 0x68;
constexpr std::uint8_t FloatN = 0x6D;
constexpr std::uint8_t DateTimeN = 0x6F;
constexpr std::uint8_t BigVarChar = 0xA7;
constexpr std::uint8_t NVarChar = 0xE7;
} // namespace WireType

constexpr std::uint16_t FlagNullable = 0x0001;
constexpr std::size_t MaxVarBytes = 8000;
constexpr std::uint32_t TextMaxBytes = 0x7FFFFFFF;
constexpr std::uint32_t NTextMaxBytes = 0x7FFFFFFE;
constexpr std::uint8_t TextPointerSize = 16;
constexpr double TicksPerDay = 86400.0 * 300.0;
// The toolkit's day 0 (1899-12-30) is two days before the wire format's (1900-01-01).
constexpr int ToolkitToTdsDays = 2;

int IntegerSize(SqlType type)
{
    switch (type) {
    case SqlType::Bit:
    case SqlType::TinyInt:
        return 1;
    case SqlType::SmallInt:
        return 2;
    case SqlType::Int:
        return 4;
    default:
        return 8;
    }
}

bool IsInteger(SqlType type)
{
    return type == SqlType::Bit || type == SqlType::TinyInt || type == SqlType::SmallInt ||
           type == SqlType::Int || type == SqlType::BigInt;
}

bool IsUnicode(SqlType type)
{
    return type == SqlType::NVarChar || type == SqlType::NText;
}

[[noreturn]] void WrongValue(const Column& column, const char* why)
{
    throw ETdsEncodingError("column '" + column.name + "': " + why);
}

// The text as the wire carries it: UCS-2 for the N types, code page 1252 otherwise.
Bytes TextBytes(const Column& column, const std::string& utf8)
{
    if (IsUnicode(column.type))
        return Utf8ToUcs2(utf8);
    const std::string cp1252 = Utf8ToCp1252(utf8);
    return Bytes(cp1252.begin(), cp1252.end());
}

// The declared byte size of a varchar/nvarchar column: its stated characters,
// widened to hold the longest value, within the 8000 bytes of the non-max types.
std::size_t DeclaredBytes(const Column& column, std::size_t index, const std::vector<Row>& rows)
{
    const std::size_t unit = IsUnicode(column.type) ? 2 : 1;
    std::size_t bytes = static_cast<std::size_t>(std::max(column.maxLength, 1)) * unit;
    for (const Row& row : rows) {
        if (index < row.size())
            if (const auto* text = std::get_if<std::string>(&row[index]))
                bytes = std::max(bytes, IsUnicode(column.type) ? Ucs2Length(*text) * 2 : Cp1252Length(*text));
    }
    return std::min(bytes, MaxVarBytes);
}

void WriteTypeInfo(TTdsWriter& out, const Column& column, std::size_t declaredBytes, std::uint32_t tdsVersion)
{
    switch (column.type) {
    case SqlType::Bit:
        out.Byte(WireType::BitN);
        out.Byte(1);
        break;
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
    case SqlType::BigInt:
        out.Byte(WireType::IntN);
        out.Byte(static_cast<std::uint8_t>(IntegerSize(column.type)));
        break;
    case SqlType::Float:
        out.Byte(WireType::FloatN);
        out.Byte(8);
        break;
    case SqlType::DateTime:
        out.Byte(WireType::DateTimeN);
        out.Byte(8);
        break;
    case SqlType::VarChar:
    case SqlType::NVarChar:
        out.Byte(column.type == SqlType::VarChar ? WireType::BigVarChar : WireType::NVarChar);
        out.UInt16(static_cast<std::uint16_t>(declaredBytes));
        out.Raw(TdsServerCollation());
        break;
    case SqlType::Text:
    case SqlType::NText:
        out.Byte(column.type == SqlType::Text ? WireType::Text : WireType::NText);
        out.UInt32(column.type == SqlType::Text ? TextMaxBytes : NTextMaxBytes);
        out.Raw(TdsServerCollation());
        // The table the blob column belongs to; the column's own name stands in for it.
        if (IsTds72OrLater(tdsVersion))
            out.Byte(1);
        out.UsVarChar(column.name);
        break;
    }
}

void WriteInteger(TTdsWriter& out, const Column& column, const Value& value)
{
    const auto* number = std::get_if<std::int64_t>(&value);
    if (!number)
        WrongValue(column, "integer column given a non-integer value");
    const int size = IntegerSize(column.type);
    const std::int64_t v = *number;
    const bool fits = column.type == SqlType::Bit       ? (v == 0 || v == 1)
                      : column.type == SqlType::TinyInt ? (v >= 0 && v <= 255)
                      : size == 2                       ? (v >= INT16_MIN && v <= INT16_MAX)
                      : size == 4                       ? (v >= INT32_MIN && v <= INT32_MAX)
                                                        : true;
    if (!fits)
        WrongValue(column, "integer out of the column type's range");
    out.Byte(static_cast<std::uint8_t>(size));
    const auto bits = static_cast<std::uint64_t>(v);
    for (int i = 0; i < size; ++i)
        out.Byte(static_cast<std::uint8_t>(bits >> (8 * i)));
}

void WriteValue(TTdsWriter& out, const Column& column, const Value& value, std::size_t declaredBytes)
{
    const bool isNull = std::holds_alternative<std::monostate>(value);
    if (isNull && !column.nullable)
        WrongValue(column, "NULL in a NOT NULL column");
    if (IsInteger(column.type)) {
        if (isNull)
            out.Byte(0);
        else
            WriteInteger(out, column, value);
        return;
    }
    switch (column.type) {
    case SqlType::Float: {
        if (isNull) {
            out.Byte(0);
            return;
        }
        double number = 0;
        if (const auto* d = std::get_if<double>(&value))
            number = *d;
        else if (const auto* i = std::get_if<std::int64_t>(&value))
            number = static_cast<double>(*i);
        else
            WrongValue(column, "float column given a non-numeric value");
        std::uint64_t bits = 0;
        std::memcpy(&bits, &number, sizeof bits);
        out.Byte(8);
        out.UInt64(bits);
        return;
    }
    case SqlType::DateTime: {
        if (isNull) {
            out.Byte(0);
            return;
        }
        const auto* date = std::get_if<DateTimeValue>(&value);
        if (!date)
            WrongValue(column, "datetime column given a non-date value");
        const TTdsDateTime wire = ToTdsDateTime(date->days);
        out.Byte(8);
        out.UInt32(static_cast<std::uint32_t>(wire.days));
        out.UInt32(wire.ticks);
        return;
    }
    default:
        break;
    }
    // The text types.
    const bool blob = column.type == SqlType::Text || column.type == SqlType::NText;
    if (isNull) {
        if (blob)
            out.Byte(0); // no text pointer
        else
            out.UInt16(0xFFFF);
        return;
    }
    const auto* text = std::get_if<std::string>(&value);
    if (!text)
        WrongValue(column, "text column given a non-text value");
    Bytes bytes = TextBytes(column, *text);
    if (blob) {
        out.Byte(TextPointerSize);
        out.Raw(Bytes(TextPointerSize, 0));
        out.Raw(Bytes(8, 0)); // timestamp
        out.UInt32(static_cast<std::uint32_t>(bytes.size()));
    } else {
        bytes.resize(std::min(bytes.size(), declaredBytes));
        out.UInt16(static_cast<std::uint16_t>(bytes.size()));
    }
    out.Raw(bytes);
}

} // namespace

TTdsDateTime ToTdsDateTime(double toolkitDays)
{
    // The toolkit keeps the time of day as the fraction's magnitude, also before day 0.
    double whole = std::trunc(toolkitDays);
    auto ticks = static_cast<std::int64_t>(std::llround(std::fabs(toolkitDays - whole) * TicksPerDay));
    if (ticks >= static_cast<std::int64_t>(TicksPerDay)) {
        ticks = 0;
        whole += 1;
    }
    return {static_cast<std::int32_t>(whole) - ToolkitToTdsDays, static_cast<std::uint32_t>(ticks)};
}

void WriteResultSet(TTdsWriter& out, const ResultSet& results, std::uint32_t tdsVersion)
{
    const auto& columns = results.columns;
    std::vector<std::size_t> declared(columns.size(), 0);
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].type == SqlType::VarChar || columns[c].type == SqlType::NVarChar)
            declared[c] = DeclaredBytes(columns[c], c, results.rows);
    }

    out.Byte(Token::ColMetadata);
    out.UInt16(static_cast<std::uint16_t>(columns.size()));
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (IsTds72OrLater(tdsVersion))
            out.UInt32(0); // user type
        else
            out.UInt16(0);
        out.UInt16(columns[c].nullable ? FlagNullable : 0);
        WriteTypeInfo(out, columns[c], declared[c], tdsVersion);
        out.BVarChar(columns[c].name);
    }

    for (const Row& row : results.rows) {
        if (row.size() != columns.size())
            throw ETdsEncodingError("row with " + std::to_string(row.size()) + " values for " +
                                    std::to_string(columns.size()) + " columns");
        out.Byte(Token::Row);
        for (std::size_t c = 0; c < columns.size(); ++c)
            WriteValue(out, columns[c], row[c], declared[c]);
    }
}

} // namespace sandbox
