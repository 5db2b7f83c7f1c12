#include "exporter/Metricsendpoint.h"

#include <prometheus/exposer.h>

#include <stdexcept>

namespace {

// Scrapes are rare and short; two threads let a slow scraper not hold up another.
constexpr std::size_t HttpThreads = 2;

} // namespace

TMetricsEndpoint::TMetricsEndpoint(const std::string& host, std::uint16_t port,
                                   const std::weak_ptr<prometheus::Collectable>& collectable)
    : Host(host)
{
    const std::string address = host + ':' + std::to_string(port);
    try {
        Exposer = std::make_unique<prometheus::Exposer>(address, HttpThreads);
    } catch (const std::exception&) {
        throw std::runtime_error("Cannot serve metrics on " + address +
                                 ": the port is in use or the host is not an IPv4 address of this machine.");
    }
    const std::vector<int> ports = Exposer->GetListeningPorts();
    if (ports.empty())
        throw std::runtime_error("Cannot serve metrics on " + address + ": no port is listening.");
    FPort = static_cast<std::uint16_t>(ports.front());
    Exposer->RegisterCollectable(collectable);
}

TMetricsEndpoint::~TMetricsEndpoint() = default;

std::string TMetricsEndpoint::Url() const
{
    return "http://" + Host + ':' + std::to_string(FPort) + "/metrics";
}
