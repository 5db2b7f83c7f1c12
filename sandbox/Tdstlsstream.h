#pragma once
// TLS for one TDS connection, over memory buffers: the session hands it what came from
// the socket and sends what it returns, because the handshake travels inside pre-login
// packets and only what follows it is plain TLS on the socket. One thread at a time.

#include "sandbox/Tdsbuffer.h"
#include "sandbox/Tdstlscontext.h"

struct ssl_st;

namespace sandbox {

class TTdsTlsStream
{
public:
    explicit TTdsTlsStream(const TTdsTlsContext& context);
    ~TTdsTlsStream();
    TTdsTlsStream(const TTdsTlsStream&) = delete;
    TTdsTlsStream& operator=(const TTdsTlsStream&) = delete;

    // Takes the client's handshake records (a pre-login payload) and returns the
    // records to answer with, possibly none. Throws ETdsProtocolError when the
    // handshake fails (the client refused the certificate, no common version).
    Bytes Handshake(std::span<const std::uint8_t> records);
    bool Established() const;

    // The plain bytes carried by records from the socket; a record may arrive in
    // pieces, so the result can be empty. Throws ETdsProtocolError for a broken record.
    Bytes Decrypt(std::span<const std::uint8_t> records);
    // The records that carry plain.
    Bytes Encrypt(std::span<const std::uint8_t> plain);

private:
    // What OpenSSL has written for the client so far.
    Bytes TakeOutgoing();

    ssl_st* FSsl = nullptr;
};

} // namespace sandbox
