#include "sandbox/Tdstlscontext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <stdexcept>

namespace sandbox {

namespace {

std::string OpenSslReason()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "unknown reason";
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

} // namespace

TTdsTlsContext::TTdsTlsContext(const std::string& certificateFile, const std::string& keyFile)
    : FContext(SSL_CTX_new(TLS_server_method()))
{
    if (!FContext)
        throw std::runtime_error("TLS is not available: " + OpenSslReason());
    const auto fail = [this](const std::string& what) {
        const std::string reason = OpenSslReason();
        SSL_CTX_free(FContext);
        throw std::runtime_error(what + ": " + reason);
    };
    SSL_CTX_set_min_proto_version(FContext, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(FContext, TLS1_2_VERSION);
    SSL_CTX_set_options(FContext, SSL_OP_NO_TICKET);
    if (SSL_CTX_use_certificate_chain_file(FContext, certificateFile.c_str()) != 1)
        fail("cannot use the certificate " + certificateFile);
    if (SSL_CTX_use_PrivateKey_file(FContext, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        fail("cannot use the private key " + keyFile);
    if (SSL_CTX_check_private_key(FContext) != 1)
        fail("the private key " + keyFile + " does not belong to the certificate " + certificateFile);
}

TTdsTlsContext::~TTdsTlsContext()
{
    SSL_CTX_free(FContext);
}

} // namespace sandbox
