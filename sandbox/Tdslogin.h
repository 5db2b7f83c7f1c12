#pragma once
// The two messages that open a TDS connection: PRELOGIN (answered with the server's
// version and how the connection is to be encrypted) and LOGIN7 (the client's
// credentials and names, turned into a LoginRequest for the backend).

#include "sandbox/Sandboxtypes.h"
#include "sandbox/Tdsbuffer.h"

#include <cstdint>

namespace sandbox {

// TDS versions as LOGIN7 and LOGINACK carry them.
namespace TdsVersion {
constexpr std::uint32_t V7_0 = 0x70000000;
constexpr std::uint32_t V7_1 = 0x71000001;
constexpr std::uint32_t V7_2 = 0x72090002;
constexpr std::uint32_t V7_3A = 0x730A0003;
constexpr std::uint32_t V7_3B = 0x730B0003;
constexpr std::uint32_t V7_4 = 0x74000004;
} // namespace TdsVersion

// The version the server speaks with a client that asked for requested: the same
// one for 7.1 to 7.4, the nearest known one below it otherwise, at least 7.1 and at
// most 7.4.
std::uint32_t NegotiateTdsVersion(std::uint32_t requested);
// 7.2 and later changed several field widths (row counts, user types, line numbers).
inline bool IsTds72OrLater(std::uint32_t version)
{
    return version >= TdsVersion::V7_2;
}

// The server's product version as LOGINACK and PRELOGIN report it (the simulated
// server's @@VERSION says 9.00.5000).
struct TTdsServerVersion
{
    std::uint8_t major = 9;
    std::uint8_t minor = 0;
    std::uint16_t build = 5000;
};

// The values of the PRELOGIN encryption option, from the client and the server.
namespace TdsEncrypt {
constexpr std::uint8_t Off = 0x00;          // login only (client: can, but need not)
constexpr std::uint8_t On = 0x01;           // everything
constexpr std::uint8_t NotSupported = 0x02; // nothing
constexpr std::uint8_t Required = 0x03;     // client: everything or no connection
} // namespace TdsEncrypt

// What the server does about encryption: it has no certificate; it has one and
// encrypts what the client asks for; it has one and serves no client unencrypted
// (SQL Server's "Force Encryption").
enum class ETdsEncryption
{
    NotSupported,
    Offered,
    Required,
};

// How the connection goes on after the pre-login: in the clear; TLS for the LOGIN7
// message alone; TLS for everything; not at all (the server refused the client).
enum class ETdsChannel
{
    Plain,
    LoginOnly,
    Whole,
    Refused,
};

struct TTdsEncryptionAgreement
{
    std::uint8_t answer = TdsEncrypt::NotSupported; // the server's PRELOGIN value
    ETdsChannel channel = ETdsChannel::Plain;
};

// The client's encryption value in its PRELOGIN (its low bits; NotSupported when it
// sent none). Throws ETdsProtocolError when the option table is malformed.
std::uint8_t PreloginClientEncryption(std::span<const std::uint8_t> request);
// The server's answer to the client's encryption value, as SQL Server decides it.
TTdsEncryptionAgreement NegotiateEncryption(ETdsEncryption server, std::uint8_t client);

// The PRELOGIN answer: the server version, the encryption value, instance accepted, no
// thread id, MARS off. Throws ETdsProtocolError when the request's option table is
// malformed.
Bytes BuildPreloginResponse(std::span<const std::uint8_t> request, const TTdsServerVersion& version,
                            std::uint8_t encryption = TdsEncrypt::NotSupported);

struct TTdsLogin
{
    LoginRequest request;
    std::uint32_t packetSize = 0; // 0: the server's default
};

// Decodes a LOGIN7 message. Throws ETdsProtocolError for offsets outside it.
TTdsLogin ParseLogin7(std::span<const std::uint8_t> message);
// Undoes the password obfuscation (each byte nibble-swapped and XORed with 0xA5).
std::string DecodeLoginPassword(std::span<const std::uint8_t> obfuscated);

} // namespace sandbox
