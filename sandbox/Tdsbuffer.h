#pragma once
// Byte-level building blocks of the TDS wire format: a little-endian writer for
// outgoing token streams, a bounds-checked reader for client messages, and the text
// conversions between the sandbox's UTF-8 and the protocol's UCS-2 and code page 1252.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox {

using Bytes = std::vector<std::uint8_t>;

// A client message that does not follow the protocol; the session ends.
class ETdsProtocolError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// UTF-8 to UTF-16LE bytes; each byte of a malformed sequence becomes U+FFFD.
Bytes Utf8ToUcs2(std::string_view utf8);
// UTF-16LE bytes (an odd trailing byte is ignored) to UTF-8.
std::string Ucs2ToUtf8(std::span<const std::uint8_t> ucs2);
// UTF-8 to code page 1252; characters outside it become '?'.
std::string Utf8ToCp1252(std::string_view utf8);
// The text as the server's code page keeps it, still in UTF-8: what a varchar holds
// after a conversion from Unicode, with every character outside code page 1252 a '?'.
std::string Utf8WithinCp1252(std::string_view utf8);
// The number of UTF-16 code units of a UTF-8 text.
std::size_t Ucs2Length(std::string_view utf8);
// The number of bytes of a UTF-8 text in code page 1252.
std::size_t Cp1252Length(std::string_view utf8);

class TTdsWriter
{
public:
    void Byte(std::uint8_t value) { FBytes.push_back(value); }
    void UInt16(std::uint16_t value);
    void UInt16BigEndian(std::uint16_t value);
    void UInt32(std::uint32_t value);
    void UInt32BigEndian(std::uint32_t value);
    void UInt64(std::uint64_t value);
    void Raw(std::span<const std::uint8_t> bytes);
    void Raw(std::string_view bytes);
    // UCS-2 text with a one-byte character count (B_VARCHAR); cut at 255 characters.
    void BVarChar(std::string_view utf8);
    // UCS-2 text with a two-byte character count (US_VARCHAR).
    void UsVarChar(std::string_view utf8);
    // Overwrites a two-byte little-endian length placed earlier at position.
    void PatchUInt16(std::size_t position, std::uint16_t value);

    std::size_t Size() const { return FBytes.size(); }
    const Bytes& Data() const { return FBytes; }
    Bytes Take() { return std::move(FBytes); }

private:
    Bytes FBytes;
};

class TTdsReader
{
public:
    explicit TTdsReader(std::span<const std::uint8_t> bytes) : FBytes(bytes) {}

    std::uint8_t Byte();
    std::uint16_t UInt16();
    std::uint16_t UInt16BigEndian();
    std::uint32_t UInt32();
    std::span<const std::uint8_t> Take(std::size_t count);
    void Skip(std::size_t count) { Take(count); }
    void Seek(std::size_t position);

    std::size_t Position() const { return FPosition; }
    std::size_t Remaining() const { return FBytes.size() - FPosition; }
    std::span<const std::uint8_t> All() const { return FBytes; }

private:
    std::span<const std::uint8_t> FBytes;
    std::size_t FPosition = 0;
};

} // namespace sandbox
