#pragma once
// The sandbox's SQL Server Browser: answers the SQL Server Resolution Protocol on a UDP
// port of its own on 127.0.0.1, so that a server search pointed at it (never a real
// broadcast) finds the sandbox. To a CLNT_BCAST_EX or CLNT_UCAST_EX request (0x02,
// 0x03) it answers one SVR_RESP datagram listing two instances on the sandbox's TDS
// port: the default instance and "SANDBOX", on the machine's host name. Other requests
// are not answered, as a real browser ignores them. Thread-safe.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sandbox {

class TBrowseResponder
{
public:
    TBrowseResponder();
    ~TBrowseResponder();
    TBrowseResponder(const TBrowseResponder&) = delete;
    TBrowseResponder& operator=(const TBrowseResponder&) = delete;

    // Answers on 127.0.0.1:port (0 picks a free port), announcing tdsPort. Throws
    // std::system_error when the port cannot be had.
    void Listen(std::uint16_t port, std::uint16_t tdsPort);
    // The port of the last Listen, kept after Stop.
    std::uint16_t Port() const;
    void Stop();

    // The names a client lists from the answer: "host" and "host\SANDBOX".
    std::vector<std::string> ServerNames() const;

    // When on, every answer is preceded by a malformed one: its length field is larger
    // than its datagram, and it names an instance "MALFORMED" a client must not list.
    void SetMalformed(bool on) { FMalformed = on; }

private:
    void Serve(int socket, int stopEvent, std::uint16_t tdsPort);

    const std::string FHostName;
    std::atomic<bool> FMalformed = false;
    // FMutex orders Listen and Stop and guards the members below.
    mutable std::mutex FMutex;
    int FSocket = -1;
    int FStopEvent = -1;
    std::uint16_t FPort = 0;
    std::thread FThread;
};

} // namespace sandbox
