#pragma once
// The monitored servers' figures in Prometheus' terms. The main thread hands in a copy
// of each server's figures after every refresh (or says it is disconnected); the HTTP
// server's threads collect them at every scrape. A handover swaps one pointer under a
// lock, so neither side ever waits for the other's work.
//
// Every series carries the label server, the name as typed; per-database series add
// database, the process counts add state. Figures are in base units (seconds, ratios);
// the server's cumulative packet and disk counters are counters, the rest gauges. A
// server that is not connected is served as torvane_connected 0 and nothing else, so
// no stale figure passes for a current one.

#include "exporter/Serverfigures.h"

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TMetricsExporter : public prometheus::Collectable
{
public:
    // One entry per server, in the order given; none is connected yet.
    explicit TMetricsExporter(std::vector<std::string> serverNames);

    // The figures of the server's latest refresh; it counts as connected from now on.
    void Update(std::size_t server, TServerFigures figures);
    void SetDisconnected(std::size_t server);

    // Called by the HTTP server on its own threads.
    std::vector<prometheus::MetricFamily> Collect() const override;

private:
    const std::vector<std::string> ServerNames;
    mutable std::mutex Lock;
    std::vector<std::shared_ptr<const TServerFigures>> Figures; // null: not connected
};
