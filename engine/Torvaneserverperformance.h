#pragma once
// The server statistics of one connected server: the server-wide counters of every
// snapshot turned into per-interval figures, the last HistoryLength of each kept for the
// charts, the log and the alert mails, and the two alert conditions (CPU busy too high,
// responses too slow) raised at most once an hour each. Used on the main thread only.

#include "engine/Commonfuncs.h"
#include "engine/Torvaneclock.h"
#include "settings/Torvanesettings.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

class TTorvaneServerPerformance
{
public:
    static constexpr int HistoryLength = 120;
    static constexpr int SeriesCount = 10;

    enum TSeries
    {
        SeriesResponse = 0,      // milliseconds
        SeriesUsers = 1,
        SeriesSessions = 2,
        SeriesPacketsSent = 3,   // per second, like the rest up to disk errors
        SeriesPacketsReceived = 4,
        SeriesPacketErrors = 5,
        SeriesDiskReads = 6,
        SeriesDiskWrites = 7,
        SeriesDiskErrors = 8,
        SeriesCpuBusy = 9,       // percent
    };

    using TSeriesHistory = std::array<std::int32_t, HistoryLength>;   // [119] newest

    // The clock must outlive the object.
    explicit TTorvaneServerPerformance(const TClock& clock = SystemClock());

    // The name as the user entered it; it names the performance log file.
    void SetServerName(const std::string& name);
    const std::string& ServerName() const { return FServerName; }

    // Moves every history one place towards the oldest end; AddSample fills the newest.
    void BeginSample();
    // The figures of one snapshot. The first sample stores the counters only; rates and
    // the CPU percentage come from the second on, over the time measured between them.
    void AddSample(std::int32_t responseMs, std::int32_t users, std::int32_t sessions,
                   std::int32_t packsent, std::int32_t packreceived, std::int32_t packerrors,
                   std::int32_t totalread, std::int32_t totalwrite, std::int32_t totalerrors,
                   std::int64_t cpubusy, std::int64_t cpuidle);

    // True when the alert is due: switched on in the settings (read at every call), the
    // newest samples all reach the threshold (at most HistoryLength of them; a count of
    // 0 or less examines none) and no alert of this kind was raised in the last hour.
    bool CheckCpuAlert();
    bool CheckResponseAlert();
    // The same with the rule already read (a refresh reads its settings once).
    bool CheckCpuAlert(const std::optional<TAlertRule>& rule);
    bool CheckResponseAlert(const std::optional<TAlertRule>& rule);

    // Appends the newest figures to the server's performance log when the settings ask
    // for it. A file that cannot be written loses that line only and is reported once
    // on standard error until a line gets written again.
    void WriteLogLine();
    void WriteLogLine(const std::optional<TLogSettings>& settings);

    // The server's cumulative network and disk counters as the newest sample read them
    // (all 0 before the first); they wrap around at 2^32.
    struct TCounters
    {
        std::uint32_t PacketsSent = 0;
        std::uint32_t PacketsReceived = 0;
        std::uint32_t PacketErrors = 0;
        std::uint32_t DiskReads = 0;
        std::uint32_t DiskWrites = 0;
        std::uint32_t DiskErrors = 0;
    };
    TCounters Counters() const;

    // The largest value of the series, never below 0; 0 for an unknown series.
    std::int32_t GetSeriesMaximum(int series) const;

    const std::array<TSeriesHistory, SeriesCount>& History() const { return FHistory; }
    const std::array<TDateTime, HistoryLength>& SampleTime() const { return FSampleTime; }
    const std::array<bool, HistoryLength>& SampleValid() const { return FSampleValid; }

    // The server's connection is lost; set by the disconnect path, cleared by a snapshot.
    bool Disconnected = false;

private:
    bool CheckAlert(bool cpu, const std::optional<TAlertRule>& rule);

    const TClock& FClock;
    std::array<TSeriesHistory, SeriesCount> FHistory{};
    std::array<TDateTime, HistoryLength> FSampleTime{};
    std::array<bool, HistoryLength> FSampleValid{};

    // Kept apart from the counters: a server whose busy counter reads 0 still has a
    // previous sample.
    bool FHasPrevious = false;
    std::int64_t FPrevCpuBusy = 0;
    std::int64_t FPrevCpuIdle = 0;
    std::int32_t FPrevPacketsReceived = 0;
    std::int32_t FPrevPacketsSent = 0;
    std::int32_t FPrevPacketErrors = 0;
    std::int32_t FPrevTotalRead = 0;
    std::int32_t FPrevTotalWrite = 0;
    std::int32_t FPrevTotalErrors = 0;
    std::uint32_t FPrevTick = 0;

    TDateTime FLastResponseAlertTime = 0;
    TDateTime FLastCpuAlertTime = 0;

    std::int32_t FLogRefreshCounter = 0;
    bool FLogFailureReported = false;
    std::string FServerName;
};
