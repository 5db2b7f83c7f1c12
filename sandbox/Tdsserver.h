#pragma once
// The TDS server on 127.0.0.1: each client is a TTdsSession on its own thread, so a
// slow or hung session never holds up another. The server can hang (read but answer
// nothing), go down (drop every connection and stop listening) and come back on the
// same port. All methods are thread-safe.

#include "sandbox/Sandboxtypes.h"
#include "sandbox/Tdshanggate.h"
#include "sandbox/Tdslistener.h"
#include "sandbox/Tdsresponse.h"
#include "sandbox/Tdssession.h"
#include "sandbox/Tdssessionregistry.h"

#include <cstdint>
#include <mutex>

namespace sandbox {

class TTdsServer
{
public:
    explicit TTdsServer(Backend& backend, TTdsServerIdentity identity = {});
    TTdsServer(const TTdsServer&) = delete;
    TTdsServer& operator=(const TTdsServer&) = delete;

    // Listens on port (0 picks a free one). Throws std::system_error when it cannot.
    void Start(std::uint16_t port = 0);
    // How connections that start from now on are encrypted (none unless set).
    void SetEncryption(TTdsEncryptionSettings encryption);
    // The port listened on, also while down (ComeBack reuses it).
    std::uint16_t Port() const { return FListener.Port(); }

    // Keeps connections open but answers nothing for seconds (0: until Resume).
    void Hang(int seconds) { FHangGate.Hang(seconds); }
    void Resume() { FHangGate.Resume(); }
    // Closes the listener, so new clients are refused, and drops every connection.
    void GoDown();
    // Listens again on the same port. Throws std::system_error when it cannot.
    void ComeBack();
    bool IsDown() const { return !FListener.IsListening(); }
    // Client connections open now.
    int ConnectionCount() const { return FListener.ConnectionCount(); }
    // Closes the connection of the logged-in client with this spid, whose process
    // was killed; false when no client has it.
    bool DropSession(int spid) { return FSessions.Kill(spid); }

private:
    Backend& FBackend;
    const TTdsServerIdentity FIdentity;
    TTdsHangGate FHangGate;
    TTdsSessionRegistry FSessions;
    mutable std::mutex FEncryptionMutex;
    TTdsEncryptionSettings FEncryption;
    TTdsListener FListener; // last: its threads use the members above
};

} // namespace sandbox
