#include "Tdsbuffer.h"

#include <QString>

#include <algorithm>
#include <array>

namespace sandbox {

namespace {

// Code page 1252 bytes 0x80..0x9F; 0 marks the five unassigned positions.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToCp1252(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    const auto found = std::find(Cp1252High.begin(), Cp1252High.end(), unit);
    if (unit != 0 && found != Cp1252High.end())
        return static_cast<char>(0x80 + (found - Cp1252High.begin()));
    return '?';
}

QString FromUtf8(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

Bytes Utf8ToUcs2(std::string_view utf8)
{
    const QString text = FromUtf8(utf8);
    Bytes out;
    out.reserve(static_cast<std::size_t>(text.size()) * 2);
    for (const QChar c : text) {
        out.push_back(static_cast<std::uint8_t>(c.unicode() & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c.unicode() >> 8));
    }
    return out;
}

std::string Ucs2ToUtf8(std::span<const std::uint8_t> ucs2)
{
    std::u16string units(ucs2.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(ucs2[2 * i] | (ucs2[2 * i + 1] << 8));
    return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toStdString();
}

std::string Utf8ToCp1252(std::string_view utf8)
{
    const QString text = FromUtf8(utf8);
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i; // one character outside the code page, one replacement
        out.push_back(ToCp1252(c.unicode()));
    }
    return out;
}

std::size_t Ucs2Length(std::string_view utf8)
{
    return static_cast<std::size_t>(FromUtf8(utf8).size());
}

void TTdsWriter::UInt16(std::uint16_t value)
{
    Byte(static_cast<std::uint8_t>(value));
    Byte(static_cast<std::uint8_t>(value >> 8));
}

void TTdsWriter::UInt16BigEndian(std::uint16_t value)
{
    Byte(static_cast<std::uint8_t>(value >> 8));
    Byte(static_cast<std::uint8_t>(value));
}

void TTdsWriter::UInt32(std::uint32_t value)
{
    UInt16(static_cast<std::uint16_t>(value));
    UInt16(static_cast<std::uint16_t>(value >> 16));
}

void TTdsWriter::UInt32BigEndian(std::uint32_t value)
{
    UInt16BigEndian(static_cast<std::uint16_t>(value >> 16));
    UInt16BigEndian(static_cast<std::uint16_t>(value));
}

void TTdsWriter::UInt64(std::uint64_t value)
{
    UInt32(static_cast<std::uint32_t>(value));
    UInt32(static_cast<std::uint32_t>(value >> 32));
}

void TTdsWriter::Raw(std::span<const std::uint8_t> bytes)
{
    FBytes.insert(FBytes.end(), bytes.begin(), bytes.end());
}

void TTdsWriter::Raw(std::string_view bytes)
{
    FBytes.insert(FBytes.end(), bytes.begin(), bytes.end());
}

void TTdsWriter::BVarChar(std::string_view utf8)
{
    Bytes text = Utf8ToUcs2(utf8);
    text.resize(std::min<std::size_t>(text.size(), 255 * 2));
    Byte(static_cast<std::uint8_t>(text.size() / 2));
    Raw(text);
}

void TTdsWriter::UsVarChar(std::string_view utf8)
{
    Bytes text = Utf8ToUcs2(utf8);
    text.resize(std::min<std::size_t>(text.size(), 0xFFFF * 2));
    UInt16(static_cast<std::uint16_t>(text.size() / 2));
    Raw(text);
}

void TTdsWriter::PatchUInt16(std::size_t position, std::uint16_t value)
{
    FBytes.at(position) = static_cast<std::uint8_t>(value);
    FBytes.at(position + 1) = static_cast<std::uint8_t>(value >> 8);
}

std::uint8_t TTdsReader::Byte()
{
    return Take(1)[0];
}

std::uint16_t TTdsReader::UInt16()
{
    const auto b = Take(2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint16_t TTdsReader::UInt16BigEndian()
{
    const auto b = Take(2);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint32_t TTdsReader::UInt32()
{
    const std::uint32_t low = UInt16();
    return low | (static_cast<std::uint32_t>(UInt16()) << 16);
}

std::span<const std::uint8_t> TTdsReader::Take(std::size_t count)
{
    if (count > Remaining())
        throw ETdsProtocolError("message shorter than its fields");
    const auto part = FBytes.subspan(FPosition, count);
    FPosition += count;
    return part;
}

void TTdsReader::Seek(std::size_t position)
{
    if (position > FBytes.size())
        throw ETdsProtocolError("offset beyond the end of the message");
    FPosition = position;
}

} // namespace sandbox
