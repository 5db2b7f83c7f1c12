#pragma once
// Finding the SQL Servers on the network, for the server browse dialog and for
// `torvane --list-servers`. Two searches, their names merged in the order found:
//
// 1. The ODBC driver's browse call (SQLBrowseConnect) on the configured driver. The
//    driver manager refuses the call for a driver that lacks it, as FreeTDS does.
// 2. The SQL Server Resolution Protocol: one CLNT_BCAST_EX request (the byte 0x02) to
//    UDP port 1434, broadcast on every local IPv4 network, and every SVR_RESP answer
//    that arrives within the collecting time. TORVANE_BROWSE_ADDRESS=host:port sends
//    the request to that address alone instead.
//
// Each server is listed as it names itself, "host" for a default instance and
// "host\instance" otherwise, once (names compare without regard to case, as host
// names do). The search takes about the collecting time whatever the network does, so
// the window runs it off the main thread.

#include <chrono>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

// The names in an answer of SQLBrowseConnect, in order and as written: the answer up
// to its first zero byte; if it is longer than 15 bytes, the first "Server={" that
// starts no later than 15 bytes before its end; after it names separated by "," up to
// the first "}" or the end. A "}" right after "Server={" gives no name; otherwise the
// first character of every name belongs to it, even a "," or "}". A "," at the very
// end starts no further name.
std::vector<std::string> ParseBrowseConnectAnswer(std::string_view answer);

// The servers of one SVR_RESP datagram (0x05, a 16-bit little-endian length, that many
// bytes of "ServerName;H;InstanceName;I;...;;" records). Nothing when the datagram is
// not one, or when its length field does not match its size. Names are UTF-8 (bytes
// that are not read as Latin-1).
std::vector<std::string> ParseResolutionAnswer(std::span<const std::uint8_t> datagram);

struct TBrowseResult
{
    std::vector<std::string> Names;
    // Why the network search could not be made (an address that does not parse or
    // resolve, no socket); the names of the driver's browse call are kept.
    std::string Error;
};

class TServerBrowser
{
public:
    struct TOptions
    {
        std::string Driver;  // empty: no driver browse call
        std::string Address; // "host:port"; empty: the broadcast
        std::chrono::milliseconds CollectTime{2000};

        // The chosen ODBC driver and TORVANE_BROWSE_ADDRESS.
        static TOptions FromEnvironment();
    };

    explicit TServerBrowser(TOptions options);

    // Blocks for about the collecting time; returns early once stop is requested.
    TBrowseResult BrowseServers(std::stop_token stop = {}) const;

private:
    const TOptions FOptions;
};
