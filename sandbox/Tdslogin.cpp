#include "sandbox/Tdslogin.h"

namespace sandbox {

namespace {

namespace PreloginOption {
constexpr std::uint8_t Version = 0x00;
constexpr std::uint8_t Encryption = 0x01;
constexpr std::uint8_t InstOpt = 0x02;
constexpr std::uint8_t ThreadId = 0x03;
constexpr std::uint8_t Mars = 0x04;
constexpr std::uint8_t Terminator = 0xFF;
} // namespace PreloginOption

constexpr std::uint8_t OptionFlags2IntegratedSecurity = 0x80;
constexpr std::size_t Login7FixedSize = 36;

// Walks the client's option table, proving it well formed; the client's encryption
// value, NotSupported when it sent none.
std::uint8_t CheckPreloginOptions(std::span<const std::uint8_t> request)
{
    std::uint8_t encryption = TdsEncrypt::NotSupported;
    TTdsReader reader(request);
    for (;;) {
        const std::uint8_t option = reader.Byte();
        if (option == PreloginOption::Terminator)
            return encryption;
        const std::size_t offset = reader.UInt16BigEndian();
        const std::size_t length = reader.UInt16BigEndian();
        if (offset + length > request.size())
            throw ETdsProtocolError("PRELOGIN option outside the message");
        // The high bit asks for a client certificate, which this server does not use.
        if (option == PreloginOption::Encryption && length >= 1)
            encryption = request[offset] & 0x03;
    }
}

// A UCS-2 field of LOGIN7 given by an (offset, character count) pair.
std::string ReadLoginText(TTdsReader& table, std::span<const std::uint8_t> message, bool password = false)
{
    const std::size_t offset = table.UInt16();
    const std::size_t length = std::size_t{table.UInt16()} * 2;
    if (length == 0)
        return {};
    if (offset + length > message.size())
        throw ETdsProtocolError("LOGIN7 field outside the message");
    const auto bytes = message.subspan(offset, length);
    return password ? DecodeLoginPassword(bytes) : Ucs2ToUtf8(bytes);
}

} // namespace

std::uint32_t NegotiateTdsVersion(std::uint32_t requested)
{
    for (const std::uint32_t known :
         {TdsVersion::V7_4, TdsVersion::V7_3B, TdsVersion::V7_3A, TdsVersion::V7_2, TdsVersion::V7_1}) {
        if (requested >= known)
            return known;
    }
    return TdsVersion::V7_1;
}

std::uint8_t PreloginClientEncryption(std::span<const std::uint8_t> request)
{
    return CheckPreloginOptions(request);
}

TTdsEncryptionAgreement NegotiateEncryption(ETdsEncryption server, std::uint8_t client)
{
    switch (server) {
    case ETdsEncryption::NotSupported:
        // A client that requires encryption gives up on this answer by itself.
        return {TdsEncrypt::NotSupported, ETdsChannel::Plain};
    case ETdsEncryption::Offered:
        if (client == TdsEncrypt::Off)
            return {TdsEncrypt::Off, ETdsChannel::LoginOnly};
        if (client == TdsEncrypt::NotSupported)
            return {TdsEncrypt::NotSupported, ETdsChannel::Plain};
        return {TdsEncrypt::On, ETdsChannel::Whole};
    case ETdsEncryption::Required:
        if (client == TdsEncrypt::NotSupported)
            return {TdsEncrypt::Required, ETdsChannel::Refused};
        return {TdsEncrypt::On, ETdsChannel::Whole};
    }
    return {};
}

Bytes BuildPreloginResponse(std::span<const std::uint8_t> request, const TTdsServerVersion& version,
                            std::uint8_t encryption)
{
    CheckPreloginOptions(request);
    struct Option
    {
        std::uint8_t token;
        Bytes data;
    };
    const Option options[] = {
        {PreloginOption::Version,
         {version.major, version.minor, static_cast<std::uint8_t>(version.build >> 8),
          static_cast<std::uint8_t>(version.build), 0, 0}},
        {PreloginOption::Encryption, {encryption}},
        {PreloginOption::InstOpt, {0}},
        {PreloginOption::ThreadId, {}},
        {PreloginOption::Mars, {0}},
    };
    TTdsWriter out;
    std::uint16_t offset = static_cast<std::uint16_t>(std::size(options) * 5 + 1);
    for (const Option& option : options) {
        out.Byte(option.token);
        out.UInt16BigEndian(offset);
        out.UInt16BigEndian(static_cast<std::uint16_t>(option.data.size()));
        offset = static_cast<std::uint16_t>(offset + option.data.size());
    }
    out.Byte(PreloginOption::Terminator);
    for (const Option& option : options)
        out.Raw(option.data);
    return out.Take();
}

TTdsLogin ParseLogin7(std::span<const std::uint8_t> message)
{
    if (message.size() < Login7FixedSize)
        throw ETdsProtocolError("LOGIN7 message too short");
    TTdsReader fixed(message);
    TTdsLogin login;
    fixed.Skip(4); // total length
    login.request.tdsVersion = fixed.UInt32();
    login.packetSize = fixed.UInt32();
    fixed.Skip(4); // client program version
    login.request.clientPid = fixed.UInt32();
    fixed.Skip(4); // connection id
    fixed.Skip(1); // option flags 1
    login.request.integratedSecurity = (fixed.Byte() & OptionFlags2IntegratedSecurity) != 0;
    fixed.Skip(2 + 4 + 4); // type flags, option flags 3, time zone, LCID

    TTdsReader table = fixed;
    login.request.hostName = ReadLoginText(table, message);
    login.request.userName = ReadLoginText(table, message);
    login.request.password = ReadLoginText(table, message, true);
    login.request.appName = ReadLoginText(table, message);
    login.request.serverName = ReadLoginText(table, message);
    table.Skip(4); // extension block or unused
    table.Skip(4); // client interface library name
    table.Skip(4); // language
    login.request.database = ReadLoginText(table, message);
    return login;
}

std::string DecodeLoginPassword(std::span<const std::uint8_t> obfuscated)
{
    Bytes plain(obfuscated.begin(), obfuscated.end());
    for (std::uint8_t& b : plain) {
        const std::uint8_t x = b ^ 0xA5;
        b = static_cast<std::uint8_t>((x << 4) | (x >> 4));
    }
    return Ucs2ToUtf8(plain);
}

} // namespace sandbox
