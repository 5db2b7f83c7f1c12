#pragma once
// One client connection from PRELOGIN to close: agrees on encryption and runs the TLS
// handshake inside pre-login packets, logs in through the backend, runs its batches,
// answers attentions, and logs out when the connection ends for any reason. Runs on its
// own thread; a hung server makes it read but not answer.

#include "sandbox/Sandboxtypes.h"
#include "sandbox/Tdshanggate.h"
#include "sandbox/Tdspackets.h"
#include "sandbox/Tdsresponse.h"
#include "sandbox/Tdssessionregistry.h"
#include "sandbox/Tdssocket.h"
#include "sandbox/Tdstlsstream.h"

#include <atomic>
#include <deque>
#include <memory>

namespace sandbox {

// What the server does about encryption, and its certificate when it has one.
struct TTdsEncryptionSettings
{
    ETdsEncryption Mode = ETdsEncryption::NotSupported;
    std::shared_ptr<const TTdsTlsContext> Context; // set unless Mode is NotSupported
};

class TTdsSession
{
public:
    TTdsSession(const TTdsSocket& socket, Backend& backend, const TTdsServerIdentity& identity,
                const TTdsHangGate& hangGate, TTdsSessionRegistry& registry,
                TTdsEncryptionSettings encryption = {});
    TTdsSession(const TTdsSession&) = delete;
    TTdsSession& operator=(const TTdsSession&) = delete;

    // Serves the client until it leaves, breaks the protocol or the socket is shut down.
    void Run();
    // Ends the connection because the session's process was killed; the backend has
    // already removed the process, so the session does not log out. Any thread.
    void Kill();

private:
    // Reads what arrives within timeoutMs into the message queue; false once the
    // connection is gone.
    bool ReadMore(int timeoutMs);
    // Keeps reading while the server is hung; false once the connection is gone.
    bool WaitWhileHung();
    // Answers one message; false when the connection is to be closed.
    bool Handle(const TTdsMessage& message);
    bool HandleLogin(const TTdsMessage& message);
    // The first PRELOGIN agrees on encryption, the ones after it carry the handshake.
    bool HandlePrelogin(const TTdsMessage& message);
    // False when the connection was lost meanwhile.
    bool HandleBatch(const TTdsMessage& message);
    void HandleRpc(const TTdsMessage& message);
    void HandleTransactionRequest(const TTdsMessage& message);
    // Drops the payload's ALL_HEADERS block (7.2 and later).
    std::span<const std::uint8_t> SkipAllHeaders(std::span<const std::uint8_t> payload) const;
    // The first attention in the queue cancels what precedes it.
    bool TakeAttention();
    bool Send(std::uint8_t type, const Bytes& payload);
    bool SendError(int number, int state, const std::string& text);
    // Bytes to the socket, through TLS while it is on.
    bool SendRaw(std::span<const std::uint8_t> bytes);

    const TTdsSocket& FSocket;
    Backend& FBackend;
    const TTdsServerIdentity& FIdentity;
    const TTdsHangGate& FHangGate;
    TTdsSessionRegistry& FRegistry;
    const TTdsEncryptionSettings FEncryption;
    // Made when the pre-login agrees on encryption; the socket carries TLS records while
    // FTlsOn, from the end of the handshake on (for the login alone or for good).
    std::unique_ptr<TTdsTlsStream> FTls;
    ETdsChannel FChannel = ETdsChannel::Plain;
    bool FTlsOn = false;
    std::atomic<bool> FKilled = false;
    TTdsMessageAssembler FAssembler;
    std::deque<TTdsMessage> FPending;
    std::uint32_t FTdsVersion = 0x71000001;
    std::size_t FPacketSize = TdsDefaultPacketSize;
    int FSpid = 0;
    bool FLoggedIn = false;
    std::uint64_t FTransaction = 0;
    std::uint64_t FLastTransaction = 0;
};

} // namespace sandbox
