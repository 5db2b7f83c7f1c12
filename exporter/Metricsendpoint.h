#pragma once
// The HTTP endpoint Prometheus scrapes: /metrics on one IPv4 address and port, served
// by the HTTP server's own threads in the text exposition format.

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
    // Listens on host (an IPv4 address or a name that resolves to one) and port (0: a
    // free one). Throws std::runtime_error when it cannot.
    TMetricsEndpoint(const std::string& host, std::uint16_t port,
                     const std::weak_ptr<prometheus::Collectable>& collectable);
    ~TMetricsEndpoint();
    TMetricsEndpoint(const TMetricsEndpoint&) = delete;
    TMetricsEndpoint& operator=(const TMetricsEndpoint&) = delete;

    std::uint16_t Port() const { return FPort; }
    // http://HOST:PORT/metrics
    std::string Url() const;

private:
    const std::string Host;
    std::unique_ptr<prometheus::Exposer> Exposer;
    std::uint16_t FPort = 0;
};
