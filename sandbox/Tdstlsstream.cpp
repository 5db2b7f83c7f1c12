#include "sandbox/Tdstlsstream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <array>
#include <limits>

namespace sandbox {

namespace {

[[noreturn]] void ThrowTlsError(const char* what)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char reason[256] = "unknown reason";
    if (code != 0)
        ERR_error_string_n(code, reason, sizeof reason);
    throw ETdsProtocolError(std::string(what) + ": " + reason);
}

void Feed(BIO* in, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const int chunk =
            static_cast<int>(std::min<std::size_t>(bytes.size(), std::numeric_limits<int>::max()));
        const int written = BIO_write(in, bytes.data(), chunk);
        if (written <= 0)
            ThrowTlsError("TLS buffer");
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
}

} // namespace

TTdsTlsStream::TTdsTlsStream(const TTdsTlsContext& context) : FSsl(SSL_new(context.Get()))
{
    if (!FSsl)
        ThrowTlsError("TLS session");
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (!in || !out) {
        BIO_free(in);
        BIO_free(out);
        SSL_free(FSsl);
        ThrowTlsError("TLS buffers");
    }
    // A memory buffer that runs dry asks for more instead of reporting the end.
    BIO_set_mem_eof_return(in, -1);
    BIO_set_mem_eof_return(out, -1);
    SSL_set_bio(FSsl, in, out); // the session owns both from here
    SSL_set_accept_state(FSsl);
}

TTdsTlsStream::~TTdsTlsStream()
{
    SSL_free(FSsl);
}

Bytes TTdsTlsStream::Handshake(std::span<const std::uint8_t> records)
{
    Feed(SSL_get_rbio(FSsl), records);
    const int rc = SSL_do_handshake(FSsl);
    if (rc != 1) {
        const int error = SSL_get_error(FSsl, rc);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            ThrowTlsError("TLS handshake failed");
    }
    return TakeOutgoing();
}

bool TTdsTlsStream::Established() const
{
    return SSL_is_init_finished(FSsl) == 1;
}

Bytes TTdsTlsStream::Decrypt(std::span<const std::uint8_t> records)
{
    Feed(SSL_get_rbio(FSsl), records);
    Bytes plain;
    std::array<std::uint8_t, 16384> buffer;
    for (;;) {
        const int got = SSL_read(FSsl, buffer.data(), static_cast<int>(buffer.size()));
        if (got > 0) {
            plain.insert(plain.end(), buffer.begin(), buffer.begin() + got);
            continue;
        }
        const int error = SSL_get_error(FSsl, got);
        if (error == SSL_ERROR_WANT_READ)
            return plain;
        if (error == SSL_ERROR_ZERO_RETURN)
            throw ETdsProtocolError("the client ended TLS");
        ThrowTlsError("TLS record");
    }
}

Bytes TTdsTlsStream::Encrypt(std::span<const std::uint8_t> plain)
{
    while (!plain.empty()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(plain.size(), 16384));
        const int written = SSL_write(FSsl, plain.data(), chunk);
        if (written <= 0)
            ThrowTlsError("TLS write");
        plain = plain.subspan(static_cast<std::size_t>(written));
    }
    return TakeOutgoing();
}

Bytes TTdsTlsStream::TakeOutgoing()
{
    BIO* out = SSL_get_wbio(FSsl);
    Bytes bytes(static_cast<std::size_t>(BIO_ctrl_pending(out)));
    if (!bytes.empty() &&
        BIO_read(out, bytes.data(), static_cast<int>(bytes.size())) != static_cast<int>(bytes.size()))
        ThrowTlsError("TLS buffer");
    return bytes;
}

} // namespace sandbox
