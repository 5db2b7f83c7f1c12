#include "exporter/Metricsexporter.h"

#include "model/Torvaneprocessuserprocesses.h"

#include <optional>
#include <utility>

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;
using TFiguresList = std::vector<std::shared_ptr<const TServerFigures>>;

// A server-wide figure: its family and how to read it. Figures that read empty are
// left out for that server.
struct TServerMetric
{
    const char* Name;
    const char* Help;
    MetricType Type;
    std::optional<double> (*Read)(const TServerFigures& figures);
};

const TServerMetric ServerMetrics[] = {
    {"torvane_response_time_seconds",
     "Time the server took to answer the one-row probe of the latest refresh.", MetricType::Gauge,
     [](const TServerFigures& f) -> std::optional<double> { return f.ResponseSeconds; }},
    {"torvane_sessions", "Processes of the server's client users.", MetricType::Gauge,
     [](const TServerFigures& f) -> std::optional<double> { return f.Sessions; }},
    {"torvane_users",
     "Client users on the server: distinct logins, hosts, Windows logins and network addresses.",
     MetricType::Gauge, [](const TServerFigures& f) -> std::optional<double> { return f.Users; }},
    {"torvane_cpu_busy_ratio",
     "Share of the server's CPU time spent busy since the previous refresh (0 to 1).", MetricType::Gauge,
     [](const TServerFigures& f) { return f.CpuBusyRatio; }},
    {"torvane_network_packets_sent_total", "Network packets the server has sent since it started.",
     MetricType::Counter, [](const TServerFigures& f) -> std::optional<double> { return f.PacketsSent; }},
    {"torvane_network_packets_received_total", "Network packets the server has received since it started.",
     MetricType::Counter, [](const TServerFigures& f) -> std::optional<double> { return f.PacketsReceived; }},
    {"torvane_network_packet_errors_total", "Network packet errors on the server since it started.",
     MetricType::Counter, [](const TServerFigures& f) -> std::optional<double> { return f.PacketErrors; }},
    {"torvane_disk_reads_total", "Physical disk reads by the server since it started.", MetricType::Counter,
     [](const TServerFigures& f) -> std::optional<double> { return f.DiskReads; }},
    {"torvane_disk_writes_total", "Physical disk writes by the server since it started.", MetricType::Counter,
     [](const TServerFigures& f) -> std::optional<double> { return f.DiskWrites; }},
    {"torvane_disk_errors_total", "Disk read and write errors on the server since it started.",
     MetricType::Counter, [](const TServerFigures& f) -> std::optional<double> { return f.DiskErrors; }},
    {"torvane_server_start_time_seconds", "When the server started, in seconds since the Unix epoch.",
     MetricType::Gauge,
     [](const TServerFigures& f) -> std::optional<double> {
         return static_cast<double>(f.StartTimeSeconds);
     }},
    {"torvane_blocked_processes", "Processes waiting for a lock another process holds.", MetricType::Gauge,
     [](const TServerFigures& f) -> std::optional<double> { return f.BlockedProcesses; }},
    {"torvane_longest_wait_seconds", "Longest current wait of any process or worker thread on the server.",
     MetricType::Gauge,
     [](const TServerFigures& f) -> std::optional<double> { return f.LongestWaitSeconds; }},
    {"torvane_databases_dropped",
     "Databases in use beyond the busiest ones served, left out of the torvane_database_ series.",
     MetricType::Gauge, [](const TServerFigures& f) -> std::optional<double> { return f.DroppedDatabases; }},
};

// A per-database figure.
struct TDatabaseMetric
{
    const char* Name;
    const char* Help;
    double (*Read)(const TDatabaseFigures& figures);
};

const TDatabaseMetric DatabaseMetrics[] = {
    {"torvane_database_processes", "Processes and worker threads working in the database.",
     [](const TDatabaseFigures& f) -> double { return f.Processes; }},
    {"torvane_database_cpu_seconds", "CPU time used so far by the processes now working in the database.",
     [](const TDatabaseFigures& f) { return f.CpuSeconds; }},
    {"torvane_database_physical_io",
     "Physical reads and writes so far by the processes now working in the database.",
     [](const TDatabaseFigures& f) { return static_cast<double>(f.PhysicalIo); }},
};

constexpr TProcessState States[] = {TProcessState::Locked, TProcessState::Active, TProcessState::Idle,
                                    TProcessState::Paused};

std::string StateLabel(TProcessState state)
{
    switch (state) {
    case TProcessState::Locked:
        return "locked";
    case TProcessState::Active:
        return "active";
    case TProcessState::Idle:
        return "idle";
    case TProcessState::Paused:
        break;
    }
    return "paused";
}

MetricFamily Family(const char* name, const char* help, MetricType type)
{
    return MetricFamily{name, help, type, {}};
}

void Add(MetricFamily& family, std::vector<ClientMetric::Label> labels, double value)
{
    ClientMetric& metric = family.metric.emplace_back();
    metric.label = std::move(labels);
    if (family.type == MetricType::Counter)
        metric.counter.value = value;
    else
        metric.gauge.value = value;
}

} // namespace

TMetricsExporter::TMetricsExporter(std::vector<std::string> serverNames)
    : ServerNames(std::move(serverNames)), Figures(ServerNames.size())
{
}

void TMetricsExporter::Update(std::size_t server, TServerFigures figures)
{
    // The previous figures are freed after the lock is released, or by the last scrape
    // still using them.
    std::shared_ptr<const TServerFigures> swapped =
        std::make_shared<const TServerFigures>(std::move(figures));
    const std::lock_guard guard(Lock);
    Figures.at(server).swap(swapped);
}

void TMetricsExporter::SetDisconnected(std::size_t server)
{
    std::shared_ptr<const TServerFigures> previous;
    const std::lock_guard guard(Lock);
    Figures.at(server).swap(previous);
}

std::vector<MetricFamily> TMetricsExporter::Collect() const
{
    TFiguresList figures;
    {
        const std::lock_guard guard(Lock);
        figures = Figures;
    }
    const auto serverLabel = [&](std::size_t server) {
        return std::vector<ClientMetric::Label>{{"server", ServerNames[server]}};
    };

    std::vector<MetricFamily> families;
    families.reserve(std::size(ServerMetrics) + std::size(DatabaseMetrics) + 2);

    MetricFamily& connected = families.emplace_back(
        Family("torvane_connected", "Whether the monitor is connected to the server (1) or not (0).",
               MetricType::Gauge));
    for (std::size_t server = 0; server < figures.size(); ++server)
        Add(connected, serverLabel(server), figures[server] ? 1 : 0);

    for (const TServerMetric& metric : ServerMetrics) {
        MetricFamily& family = families.emplace_back(Family(metric.Name, metric.Help, metric.Type));
        for (std::size_t server = 0; server < figures.size(); ++server) {
            if (!figures[server])
                continue;
            if (const std::optional<double> value = metric.Read(*figures[server]))
                Add(family, serverLabel(server), *value);
        }
    }

    MetricFamily& processes = families.emplace_back(
        Family("torvane_processes",
               "Processes on the server by state: locked (blocked by another), active "
               "(a counter moved since the previous refresh), idle (awaiting a command) "
               "or paused.",
               MetricType::Gauge));
    for (std::size_t server = 0; server < figures.size(); ++server) {
        if (!figures[server])
            continue;
        for (const TProcessState state : States)
            Add(processes, {{"server", ServerNames[server]}, {"state", StateLabel(state)}},
                figures[server]->ProcessesByState[static_cast<std::size_t>(state)]);
    }

    std::size_t databases = 0;
    for (const auto& server : figures)
        databases += server ? server->Databases.size() : 0;
    for (const TDatabaseMetric& metric : DatabaseMetrics) {
        MetricFamily& family = families.emplace_back(Family(metric.Name, metric.Help, MetricType::Gauge));
        family.metric.reserve(databases);
        for (std::size_t server = 0; server < figures.size(); ++server) {
            if (!figures[server])
                continue;
            for (const TDatabaseFigures& database : figures[server]->Databases)
                Add(family, {{"server", ServerNames[server]}, {"database", database.Name}},
                    metric.Read(database));
        }
    }
    return families;
}
