#pragma once
// The figures of one server that the metrics exporter serves, taken from its connection
// slot after a refresh: a plain copy, so that serving them needs nothing of the models
// (which only the main thread may touch).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TConnectionSlot;

struct TDatabaseFigures
{
    std::string Name;
    std::int32_t Processes = 0; // worker threads included, as the database summary counts
    double CpuSeconds = 0;      // of the processes now in the database
    std::int64_t PhysicalIo = 0;
};

struct TServerFigures
{
    // Databases served per server at most: a server with thousands of them must not
    // make every scrape huge. The busiest are kept; the rest are only counted.
    static constexpr std::size_t MaxDatabases = 500;

    double ResponseSeconds = 0;
    std::int32_t Sessions = 0;
    std::int32_t Users = 0;
    std::optional<double> CpuBusyRatio; // 0 to 1; from the second sample on
    std::uint32_t PacketsSent = 0;      // the server's cumulative counters
    std::uint32_t PacketsReceived = 0;
    std::uint32_t PacketErrors = 0;
    std::uint32_t DiskReads = 0;
    std::uint32_t DiskWrites = 0;
    std::uint32_t DiskErrors = 0;
    std::int64_t StartTimeSeconds = 0;              // Unix time
    std::array<std::int32_t, 4> ProcessesByState{}; // indexed by TProcessState
    std::int32_t BlockedProcesses = 0;
    double LongestWaitSeconds = 0;
    std::vector<TDatabaseFigures> Databases;
    std::int32_t DroppedDatabases = 0;
};

// The figures of a slot whose latest refresh succeeded; nowUnixSeconds is the time of
// that refresh. The server's start time is placed by how long the server says it has
// been running, so the server's time zone and clock do not matter.
TServerFigures ReadServerFigures(const TConnectionSlot& slot, std::int64_t nowUnixSeconds);
