#include "exporter/Metricsendpoint.h"

#include <prometheus/exposer.h>

#include <QString>
#include <QSysInfo>

#include <arpa/inet.h>
#include <netdb.h>

#include <memory>
#include <stdexcept>

namespace {

// Whether host names the IPv4 wildcard address (0.0.0.0 or a name for it).
bool IsWildcard(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return false;
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, ::freeaddrinfo);
    return reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr == htonl(INADDR_ANY);
}

} // namespace

TMetricsEndpoint::TMetricsEndpoint(const std::string& host, std::uint16_t port,
                                   const std::weak_ptr<prometheus::Collectable>& collectable)
    : Host(host)
{
    const std::string address = host + ':' + std::to_string(port);
    // The worker threads wait in the queue of accepted connections; MaxConnections in
    // all are served or queued, so a flood of idle connections holds a bounded number
    // of descriptors and the workers always get back to a scrape within the time-out.
    try {
        Exposer = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
            "listening_ports", address,
            "num_threads", std::to_string(WorkerThreads),
            "connection_queue", std::to_string(MaxConnections - WorkerThreads),
            "request_timeout_ms", std::to_string(RequestTimeOutMs),
            "keep_alive_timeout_ms", std::to_string(RequestTimeOutMs),
        });
    } catch (const std::exception&) {
        throw std::runtime_error("Cannot serve metrics on " + address +
                                 ": the port is in use or the host is not an IPv4 address of this machine.");
    }
    const std::vector<int> ports = Exposer->GetListeningPorts();
    if (ports.empty())
        throw std::runtime_error("Cannot serve metrics on " + address + ": no port is listening.");
    FPort = static_cast<std::uint16_t>(ports.front());
    FEveryInterface = IsWildcard(host);
    Exposer->RegisterCollectable(collectable);
}

TMetricsEndpoint::~TMetricsEndpoint() = default;

std::string TMetricsEndpoint::Url() const
{
    const std::string host = FEveryInterface ? QSysInfo::machineHostName().toStdString() : Host;
    return "http://" + host + ':' + std::to_string(FPort) + "/metrics";
}
