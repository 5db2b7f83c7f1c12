#pragma once
// The sandbox SQL Server as one object: the simulation, the TDS listener in front of
// it, its server browser (UDP) and, when asked for, the line-based control port. Usable in-process from tests
// (an ODBC client in the same process talks to it over loopback) and by the
// standalone torvane-sandbox program. All methods are thread-safe.

#include "sandbox/Sandboxsimulation.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sandbox {

class TBrowseResponder;
class TTdsServer;
class TSandboxControl;
class TSandboxControlPort;

class TSandboxServer
{
public:
    // Throws std::runtime_error for a scenario file that cannot be used.
    explicit TSandboxServer(const ScenarioOptions& options = {});
    ~TSandboxServer();
    TSandboxServer(const TSandboxServer&) = delete;
    TSandboxServer& operator=(const TSandboxServer&) = delete;

    // Listens for TDS clients on port, for server searches on the UDP port browsePort
    // and, with withControlPort, for control commands on controlPort (0 picks a free
    // port for any). False, with LastError() saying why, when a port cannot be had.
    bool Start(std::uint16_t port = 0, std::uint16_t controlPort = 0, bool withControlPort = false,
               std::uint16_t browsePort = 0);
    std::string LastError() const;
    // Encrypts the connections that start from now on with the certificate and key
    // (PEM files): Offered encrypts what each client asks for, Required serves no client
    // unencrypted. False, with LastError() saying why, when the files cannot be used.
    bool SetEncryption(bool required, const std::string& certificateFile, const std::string& keyFile);
    std::uint16_t Port() const;
    std::uint16_t ControlPort() const; // 0 without a control port
    std::uint16_t BrowsePort() const;

    // The names a server search pointed at BrowsePort lists for this server.
    std::vector<std::string> BrowseServerNames() const;
    // Every answer to a server search is then preceded by one whose length field is
    // larger than its datagram.
    void SetBrowseMalformed(bool on);

    // Keeps connections open but answers nothing for seconds (0: until Resume).
    void Hang(int seconds);
    void Resume();
    // Drops every connection and refuses new ones until ComeBack.
    void GoDown();
    // Listens again on the same port; false (see LastError) when it cannot or the
    // server has been stopped.
    bool ComeBack();
    // Drops all connections and closes both ports for good (also on destruction).
    void Stop();

    // Client connections open now; a drop has completed when this reaches 0.
    int ConnectionCount() const;

    TSandboxSimulation& Simulation();

private:
    void SetLastError(std::string error);

    TSandboxSimulation FSimulation;
    std::unique_ptr<TTdsServer> FTds;
    std::unique_ptr<TBrowseResponder> FBrowse;
    std::unique_ptr<TSandboxControl> FControl;
    std::unique_ptr<TSandboxControlPort> FControlPort;
    mutable std::mutex FErrorMutex;
    std::string FLastError;
    std::atomic<bool> FStopped = false;
};

} // namespace sandbox
