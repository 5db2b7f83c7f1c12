#pragma once
// TDS packets: every message travels as one or more packets with an 8-byte header
// (type, status, big-endian length, SPID, packet id); the last packet carries the
// end-of-message bit. The assembler joins a client's packets into messages; the
// encoder splits a response into packets of the negotiated size.

#include "sandbox/Tdsbuffer.h"

#include <cstdint>
#include <deque>
#include <optional>

namespace sandbox {

namespace TdsPacketType {
constexpr std::uint8_t SqlBatch = 0x01;
constexpr std::uint8_t PreTds7Login = 0x02;
constexpr std::uint8_t Rpc = 0x03;
constexpr std::uint8_t TabularResult = 0x04;
constexpr std::uint8_t Attention = 0x06;
constexpr std::uint8_t BulkLoad = 0x07;
constexpr std::uint8_t TransactionManager = 0x0E;
constexpr std::uint8_t Login7 = 0x10;
constexpr std::uint8_t Sspi = 0x11;
constexpr std::uint8_t Prelogin = 0x12;
} // namespace TdsPacketType

constexpr std::size_t TdsHeaderSize = 8;
constexpr std::size_t TdsDefaultPacketSize = 4096;
constexpr std::size_t TdsMinPacketSize = 512;
constexpr std::size_t TdsMaxPacketSize = 32767;

struct TTdsMessage
{
    std::uint8_t type = 0;
    Bytes payload;
};

class TTdsMessageAssembler
{
public:
    // A message larger than maxMessageSize is refused (ETdsProtocolError), so a
    // client cannot make the server hold unbounded memory.
    explicit TTdsMessageAssembler(std::size_t maxMessageSize) : FMaxMessageSize(maxMessageSize) {}

    // Bytes as they came from the socket, in any chunking.
    void Append(std::span<const std::uint8_t> bytes);
    // The next complete message, if one has arrived. Throws ETdsProtocolError for a
    // malformed packet. A message the client abandoned (ignore bit) is dropped.
    std::optional<TTdsMessage> Next();
    bool HasPartialData() const { return !FBuffer.empty() || !FCurrent.payload.empty(); }

private:
    std::size_t FMaxMessageSize;
    std::deque<std::uint8_t> FBuffer;
    TTdsMessage FCurrent;
    bool FInMessage = false;
};

// The payload as packets of at most packetSize bytes (header included), numbered
// from 1, the end-of-message bit on the last. An empty payload is one empty packet.
Bytes EncodePackets(std::uint8_t type, std::span<const std::uint8_t> payload, std::size_t packetSize,
                    std::uint16_t spid);

} // namespace sandbox
