#pragma once
// Why a connection failed, when encryption is the reason. Drivers often report a failed
// TLS handshake or a server's demand for encryption with a generic text ("Unable to
// connect to data source"), so after a failed connection Torvane asks the server itself:
// a pre-login of its own says what the server does about encryption, and where both
// sides would encrypt, a TLS handshake inside the pre-login checks the certificate as
// the driver was told to. No credentials are ever sent.

#include "engine/Connectionsecurity.h"
#include "engine/Dbconnectionstring.h"

#include <string>

// The texts a DBA reads after the driver's own; "%1" is OpenSSL's reason.
inline constexpr const char* TlsServerRequiresEncryption =
    "The server requires encrypted connections, and encryption is off in Torvane's connection security. "
    "Set Encrypt to \"When the server offers\" or \"Required\" in the properties (or "
    "TORVANE_ENCRYPT=offered).";
inline constexpr const char* TlsServerCannotEncrypt =
    "The server cannot encrypt connections (it has no certificate), and Torvane's connection security "
    "requires encryption. Set Encrypt to \"When the server offers\" in the properties (or "
    "TORVANE_ENCRYPT=offered), or give the server a certificate.";
inline constexpr const char* TlsCertificateNotTrustedFreeTds =
    "The server's certificate is not trusted (%1). Name the certificate of the authority that signed it "
    "as the CA file in the properties (or TORVANE_CA_FILE), or, on a network you trust, choose to trust "
    "the server's certificate (or TORVANE_TRUST_SERVER_CERTIFICATE=yes).";
inline constexpr const char* TlsCertificateNotTrustedSystem =
    "The server's certificate is not trusted (%1). Add the certificate of the authority that signed it to "
    "the system's trust store (update-ca-certificates), or, on a network you trust, choose to trust the "
    "server's certificate in the properties (or TORVANE_TRUST_SERVER_CERTIFICATE=yes).";
inline constexpr const char* TlsNotAgreed =
    "Encryption could not be agreed with the server (%1): it may speak only TLS versions or ciphers this "
    "system no longer allows.";

// The explanation of a failed connection to the server at address (a named instance
// without a port is not probed: finding its port is the driver's business), or empty
// when encryption does not explain it or the server cannot be reached. Waits at most
// timeoutSeconds for each step.
std::string ExplainTlsFailure(const TServerAddress& address, const TDriverSecurity& security, bool freeTds,
                              int timeoutSeconds);
