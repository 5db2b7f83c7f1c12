#pragma once
// The server side of TLS for every connection of one TDS server: its certificate and
// private key, read once from PEM files. TLS 1.2 at most, as SQL Server speaks it inside
// TDS 7.x pre-login packets, and no session tickets, which a server would send after the
// handshake when the client has already left the pre-login framing.

#include <memory>
#include <string>

struct ssl_ctx_st;

namespace sandbox {

class TTdsTlsContext
{
public:
    // Throws std::runtime_error naming the file and OpenSSL's reason when the
    // certificate or key cannot be used (missing, malformed, not a pair).
    TTdsTlsContext(const std::string& certificateFile, const std::string& keyFile);
    ~TTdsTlsContext();
    TTdsTlsContext(const TTdsTlsContext&) = delete;
    TTdsTlsContext& operator=(const TTdsTlsContext&) = delete;

    ssl_ctx_st* Get() const { return FContext; }

private:
    ssl_ctx_st* FContext = nullptr;
};

} // namespace sandbox
