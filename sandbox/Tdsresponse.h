#pragma once
// Whole server responses as token streams: the answer to a login, to a batch (from
// the backend's BatchResult) and to an attention.

#include "sandbox/Sandboxtypes.h"
#include "sandbox/Tdsbuffer.h"
#include "sandbox/Tdslogin.h"

namespace sandbox {

// How the server names itself in LOGINACK and in its messages.
struct TTdsServerIdentity
{
    std::string serverName = "SANDBOX";
    std::string programName = "Microsoft SQL Server";
    TTdsServerVersion version;
};

// The ENVCHANGEs (database, collation, language, packet size), the two INFO
// messages, LOGINACK and the final DONE of an accepted login. The packet size changes
// from the one the session used so far to the one it grants.
Bytes EncodeLoginAccepted(std::uint32_t tdsVersion, const TTdsServerIdentity& identity,
                          const std::string& database, std::size_t packetSize,
                          std::size_t previousPacketSize);
// The error and a DONE with the error bit; the connection is closed after it.
Bytes EncodeLoginRefused(std::uint32_t tdsVersion, const TTdsServerIdentity& identity, const Message& error);
// The items in order, each statement closed by a DONE that carries DONE_MORE when
// more follows, DONE_COUNT with the count of a result set or RowCount, DONE_ERROR
// after an error. A result the wire cannot carry becomes an error message.
Bytes EncodeBatchResult(std::uint32_t tdsVersion, const TTdsServerIdentity& identity,
                        const BatchResult& result);
// The acknowledgement of a client's attention (cancel): DONE with DONE_ATTN.
Bytes EncodeAttentionAck(std::uint32_t tdsVersion);

} // namespace sandbox
