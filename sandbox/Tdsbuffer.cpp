#include "sandbox/Tdsbuffer.h"

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

char ToCp1252(char32_t code)
{
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return static_cast<char>(code);
    const auto found = std::find(Cp1252High.begin(), Cp1252High.end(), code);
    if (code != 0 && found != Cp1252High.end())
        return static_cast<char>(0x80 + (found - Cp1252High.begin()));
    return '?';
}

// Calls sink with each code point of the UTF-8 text; a malformed sequence gives one
// U+FFFD and decoding resumes at the next byte. Hand-written because result sets of
// tens of thousands of rows go through here.
template <typename Sink> void DecodeUtf8(std::string_view utf8, Sink&& sink)
{
    constexpr char32_t Replacement = 0xFFFD;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end = p + utf8.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            sink(static_cast<char32_t>(lead));
            ++p;
            continue;
        }
        const int extra = lead < 0xC2 ? -1 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : -1;
        if (extra < 0 || end - p <= extra) {
            sink(Replacement);
            ++p;
            continue;
        }
        char32_t code = lead & (0x3F >> extra);
        bool valid = true;
        for (int i = 1; i <= extra; ++i) {
            valid = valid && (p[i] & 0xC0) == 0x80;
            code = (code << 6) | (p[i] & 0x3F);
        }
        const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
        if (!valid || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            sink(Replacement);
            ++p;
            continue;
        }
        sink(code);
        p += extra + 1;
    }
}

void AppendUnit(Bytes& out, char16_t unit)
{
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

} // namespace

Bytes Utf8ToUcs2(std::string_view utf8)
{
    Bytes out;
    out.reserve(utf8.size() * 2);
    DecodeUtf8(utf8, [&](char32_t code) {
        if (code < 0x10000) {
            AppendUnit(out, static_cast<char16_t>(code));
        } else {
            code -= 0x10000;
            AppendUnit(out, static_cast<char16_t>(0xD800 + (code >> 10)));
            AppendUnit(out, static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        }
    });
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
    std::string out;
    out.reserve(utf8.size());
    DecodeUtf8(utf8, [&](char32_t code) { out.push_back(ToCp1252(code)); });
    return out;
}

std::string Utf8WithinCp1252(std::string_view utf8)
{
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    DecodeUtf8(utf8, [&](char32_t code) {
        if (ToCp1252(code) == '?' && code != U'?') {
            out.push_back('?');
        } else if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else { // every other character of the code page is in the Basic Multilingual Plane
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    });
    return out;
}

std::size_t Cp1252Length(std::string_view utf8)
{
    std::size_t characters = 0;
    DecodeUtf8(utf8, [&](char32_t) { ++characters; });
    return characters;
}

std::size_t Ucs2Length(std::string_view utf8)
{
    std::size_t units = 0;
    DecodeUtf8(utf8, [&](char32_t code) { units += code < 0x10000 ? 1 : 2; });
    return units;
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
