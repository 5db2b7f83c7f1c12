#pragma once
// The HTTP endpoint Prometheus scrapes: /metrics on one IPv4 address and port, served
// by the HTTP server's own threads in the text exposition format. Clients that are slow
// to send their request (by mistake or on purpose) cannot starve a scrape: there are
// more worker threads than a handful of such clients can hold, a client that has not
// sent its whole request within RequestTimeOutMs is dropped, and at most MaxConnections
// connections are taken at a time (the rest wait in the system's queue).

#include <cstdint>
#include <memory>
#include <string>

namespace prometheus {
class Collectable;
class Exposer;
} // namespace prometheus

class TMetricsEndpoint
{
public:
    static constexpr int WorkerThreads = 16;
    static constexpr int RequestTimeOutMs = 5000;
    static constexpr int MaxConnections = 64;

    // Listens on host (an IPv4 address or a name that resolves to one) and port (0: a
    // free one). Throws std::runtime_error when it cannot.
    TMetricsEndpoint(const std::string& host, std::uint16_t port,
                     const std::weak_ptr<prometheus::Collectable>& collectable);
    ~TMetricsEndpoint();
    TMetricsEndpoint(const TMetricsEndpoint&) = delete;
    TMetricsEndpoint& operator=(const TMetricsEndpoint&) = delete;

    std::uint16_t Port() const { return FPort; }
    // Listening on every interface (0.0.0.0) rather than one address.
    bool EveryInterface() const { return FEveryInterface; }
    // http://HOST:PORT/metrics; for every interface, HOST is this machine's name.
    std::string Url() const;

private:
    const std::string Host;
    std::unique_ptr<prometheus::Exposer> Exposer;
    std::uint16_t FPort = 0;
    bool FEveryInterface = false;
};
