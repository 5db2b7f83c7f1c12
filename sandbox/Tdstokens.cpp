#include "sandbox/Tdstokens.h"

#include "sandbox/Tdsresultset.h"

namespace sandbox {

namespace {
namespace Token {
constexpr std::uint8_t Error = 0xAA;
constexpr std::uint8_t Info = 0xAB;
constexpr std::uint8_t LoginAck = 0xAD;
constexpr std::uint8_t EnvChange = 0xE3;
constexpr std::uint8_t Done = 0xFD;
} // namespace Token

constexpr std::uint8_t InterfaceTransactSql = 1;
constexpr std::uint8_t Collation[] = {0x09, 0x04, 0xD0, 0x00, 0x34};

// Writes a token whose two-byte length counts what the body appends.
template <typename Body> void LengthPrefixed(TTdsWriter& out, std::uint8_t token, Body&& body)
{
    out.Byte(token);
    const std::size_t lengthAt = out.Size();
    out.UInt16(0);
    body();
    out.PatchUInt16(lengthAt, static_cast<std::uint16_t>(out.Size() - lengthAt - 2));
}
} // namespace

std::span<const std::uint8_t> TdsServerCollation()
{
    return Collation;
}

void TTdsTokenWriter::EnvChange(std::uint8_t type, std::string_view newValue, std::string_view oldValue)
{
    LengthPrefixed(FOut, Token::EnvChange, [&] {
        FOut.Byte(type);
        FOut.BVarChar(newValue);
        FOut.BVarChar(oldValue);
    });
}

void TTdsTokenWriter::EnvChangeBinary(std::uint8_t type, std::span<const std::uint8_t> newValue,
                                      std::span<const std::uint8_t> oldValue)
{
    LengthPrefixed(FOut, Token::EnvChange, [&] {
        FOut.Byte(type);
        FOut.Byte(static_cast<std::uint8_t>(newValue.size()));
        FOut.Raw(newValue);
        FOut.Byte(static_cast<std::uint8_t>(oldValue.size()));
        FOut.Raw(oldValue);
    });
}

void TTdsTokenWriter::Message(const sandbox::Message& message)
{
    LengthPrefixed(FOut, message.isError() ? Token::Error : Token::Info, [&] {
        FOut.UInt32(static_cast<std::uint32_t>(message.number));
        FOut.Byte(static_cast<std::uint8_t>(message.state));
        FOut.Byte(static_cast<std::uint8_t>(message.severity));
        FOut.UsVarChar(message.text);
        FOut.BVarChar(FServerName);
        FOut.BVarChar(message.procName);
        if (IsTds72OrLater(FTdsVersion))
            FOut.UInt32(static_cast<std::uint32_t>(message.line));
        else
            FOut.UInt16(static_cast<std::uint16_t>(message.line));
    });
}

void TTdsTokenWriter::LoginAck(std::string_view programName, const TTdsServerVersion& version)
{
    LengthPrefixed(FOut, Token::LoginAck, [&] {
        FOut.Byte(InterfaceTransactSql);
        FOut.UInt32BigEndian(FTdsVersion);
        FOut.BVarChar(programName);
        FOut.Byte(version.major);
        FOut.Byte(version.minor);
        FOut.UInt16BigEndian(version.build);
    });
}

void TTdsTokenWriter::Done(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount)
{
    FOut.Byte(Token::Done);
    FOut.UInt16(status);
    FOut.UInt16(curCmd);
    if (IsTds72OrLater(FTdsVersion))
        FOut.UInt64(rowCount);
    else
        FOut.UInt32(static_cast<std::uint32_t>(rowCount));
}

void TTdsTokenWriter::Results(const ResultSet& results)
{
    TTdsWriter encoded;
    WriteResultSet(encoded, results, FTdsVersion);
    FOut.Raw(encoded.Data());
}

} // namespace sandbox
