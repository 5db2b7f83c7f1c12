#pragma once
// The server's token stream: each method appends one token in the layout of the
// TDS version negotiated with the client (several field widths grew in 7.2).

#include "sandbox/Sandboxtypes.h"
#include "sandbox/Tdsbuffer.h"
#include "sandbox/Tdslogin.h"

#include <cstdint>
#include <string>

namespace sandbox {

namespace TdsDoneStatus {
constexpr std::uint16_t Final = 0x0000;
constexpr std::uint16_t More = 0x0001;
constexpr std::uint16_t Error = 0x0002;
constexpr std::uint16_t Count = 0x0010;
constexpr std::uint16_t Attention = 0x0020;
} // namespace TdsDoneStatus

namespace TdsEnvChange {
constexpr std::uint8_t Database = 1;
constexpr std::uint8_t Language = 2;
constexpr std::uint8_t PacketSize = 4;
constexpr std::uint8_t SqlCollation = 7;
constexpr std::uint8_t BeginTransaction = 8;
constexpr std::uint8_t CommitTransaction = 9;
constexpr std::uint8_t RollbackTransaction = 10;
} // namespace TdsEnvChange

// The "current command" a DONE token reports for a SELECT.
constexpr std::uint16_t TdsCurCmdSelect = 0x00C1;

// A value that does not fit its column's type: a fault of the statement that made it.
class ETdsEncodingError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TTdsTokenWriter
{
public:
    TTdsTokenWriter(std::uint32_t tdsVersion, std::string serverName)
        : FTdsVersion(tdsVersion), FServerName(std::move(serverName))
    {
    }

    // ENVCHANGE with text values (database, language, packet size).
    void EnvChange(std::uint8_t type, std::string_view newValue, std::string_view oldValue);
    // ENVCHANGE with binary values (collation, transaction descriptors).
    void EnvChangeBinary(std::uint8_t type, std::span<const std::uint8_t> newValue,
                         std::span<const std::uint8_t> oldValue);
    // ERROR for severities above 10, INFO otherwise.
    void Message(const sandbox::Message& message);
    void LoginAck(std::string_view programName, const TTdsServerVersion& version);
    void Done(std::uint16_t status, std::uint16_t curCmd = 0, std::uint64_t rowCount = 0);
    // COLMETADATA and one ROW per row. Throws ETdsEncodingError for a value its
    // column cannot carry; nothing is appended then.
    void Results(const ResultSet& results);

    std::size_t Size() const { return FOut.Size(); }
    Bytes Take() { return FOut.Take(); }

private:
    std::uint32_t FTdsVersion;
    std::string FServerName;
    TTdsWriter FOut;
};

// The collation of every text column and of the session: SQL_Latin1_General_CP1_CI_AS.
std::span<const std::uint8_t> TdsServerCollation();

} // namespace sandbox
