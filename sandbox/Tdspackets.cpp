#include "sandbox/Tdspackets.h"

#include <algorithm>

namespace sandbox {

namespace {
constexpr std::uint8_t StatusEndOfMessage = 0x01;
constexpr std::uint8_t StatusIgnore = 0x02;
} // namespace

void TTdsMessageAssembler::Append(std::span<const std::uint8_t> bytes)
{
    FBuffer.insert(FBuffer.end(), bytes.begin(), bytes.end());
}

std::optional<TTdsMessage> TTdsMessageAssembler::Next()
{
    while (FBuffer.size() >= TdsHeaderSize) {
        const std::uint8_t type = FBuffer[0];
        const std::uint8_t status = FBuffer[1];
        const std::size_t length = (static_cast<std::size_t>(FBuffer[2]) << 8) | FBuffer[3];
        if (length < TdsHeaderSize)
            throw ETdsProtocolError("packet length smaller than its header");
        if (FBuffer.size() < length)
            return std::nullopt;
        if (FInMessage && type != FCurrent.type)
            throw ETdsProtocolError("packet type changed inside a message");
        if (FCurrent.payload.size() + length - TdsHeaderSize > FMaxMessageSize)
            throw ETdsProtocolError("message too large");
        FCurrent.type = type;
        FCurrent.payload.insert(FCurrent.payload.end(), FBuffer.begin() + TdsHeaderSize,
                                FBuffer.begin() + static_cast<std::ptrdiff_t>(length));
        FBuffer.erase(FBuffer.begin(), FBuffer.begin() + static_cast<std::ptrdiff_t>(length));
        FInMessage = true;
        if (status & StatusEndOfMessage) {
            TTdsMessage done = std::move(FCurrent);
            FCurrent = {};
            FInMessage = false;
            if (!(status & StatusIgnore))
                return done;
        }
    }
    return std::nullopt;
}

Bytes EncodePackets(std::uint8_t type, std::span<const std::uint8_t> payload, std::size_t packetSize,
                    std::uint16_t spid)
{
    const std::size_t chunk = std::clamp(packetSize, TdsMinPacketSize, TdsMaxPacketSize) - TdsHeaderSize;
    TTdsWriter out;
    std::size_t offset = 0;
    std::uint8_t packetId = 1;
    do {
        const std::size_t size = std::min(chunk, payload.size() - offset);
        const bool last = offset + size == payload.size();
        out.Byte(type);
        out.Byte(last ? StatusEndOfMessage : 0);
        out.UInt16BigEndian(static_cast<std::uint16_t>(size + TdsHeaderSize));
        out.UInt16BigEndian(spid);
        out.Byte(packetId++);
        out.Byte(0);
        out.Raw(payload.subspan(offset, size));
        offset += size;
    } while (offset < payload.size());
    return out.Take();
}

} // namespace sandbox
