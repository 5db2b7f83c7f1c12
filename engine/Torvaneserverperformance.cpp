#include "engine/Torvaneserverperformance.h"

#include "engine/Torvaneperformancelog.h"
#include "settings/Torvanesettings.h"

#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
constexpr int Newest = TTorvaneServerPerformance::HistoryLength - 1;
constexpr std::int64_t AlertRearmSeconds = 3600;

// A figure truncated towards zero; one beyond the range of a history value is held at the
// range's end rather than left to undefined conversion.
std::int32_t ToHistoryValue(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double Low = std::numeric_limits<std::int32_t>::min();
    constexpr double High = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::trunc(value), Low, High));
}

// Server counters wrap around; the difference taken modulo 2^32 stays right across a wrap.
std::int32_t CounterDifference(std::int32_t current, std::int32_t previous)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(current) - static_cast<std::uint32_t>(previous));
}

std::int64_t LargeCounterDifference(std::int64_t current, std::int64_t previous)
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(current) - static_cast<std::uint64_t>(previous));
}
} // namespace

TTorvaneServerPerformance::TTorvaneServerPerformance(const TClock& clock)
    : FClock(clock)
{
    FSampleTime.fill(FClock.Now());
}

void TTorvaneServerPerformance::SetServerName(const std::string& name)
{
    FServerName = name;
}

void TTorvaneServerPerformance::BeginSample()
{
    std::shift_left(FSampleTime.begin(), FSampleTime.end(), 1);
    std::shift_left(FSampleValid.begin(), FSampleValid.end(), 1);
    for (TSeriesHistory& series : FHistory)
        std::shift_left(series.begin(), series.end(), 1);
}

void TTorvaneServerPerformance::AddSample(std::int32_t responseMs, std::int32_t users, std::int32_t sessions,
                                          std::int32_t packsent, std::int32_t packreceived,
                                          std::int32_t packerrors, std::int32_t totalread,
                                          std::int32_t totalwrite, std::int32_t totalerrors,
                                          std::int64_t cpubusy, std::int64_t cpuidle)
{
    FHistory[SeriesResponse][Newest] = responseMs;
    FHistory[SeriesUsers][Newest] = users;
    FHistory[SeriesSessions][Newest] = sessions;

    const std::uint32_t now = FClock.TickCount();
    if (FHasPrevious) {
        const double seconds = static_cast<std::uint32_t>(now - FPrevTick) * 0.001;
        const double busy = static_cast<double>(LargeCounterDifference(cpubusy, FPrevCpuBusy));
        const double idle = static_cast<double>(LargeCounterDifference(cpuidle, FPrevCpuIdle));
        FHistory[SeriesCpuBusy][Newest] = busy + idle == 0 ? 0 : ToHistoryValue(busy / (busy + idle) * 100);

        const auto rate = [seconds](std::int32_t current, std::int32_t previous) {
            return seconds > 0 ? ToHistoryValue(CounterDifference(current, previous) / seconds) : 0;
        };
        FHistory[SeriesPacketsSent][Newest] = rate(packsent, FPrevPacketsSent);
        FHistory[SeriesPacketsReceived][Newest] = rate(packreceived, FPrevPacketsReceived);
        FHistory[SeriesPacketErrors][Newest] = rate(packerrors, FPrevPacketErrors);
        FHistory[SeriesDiskReads][Newest] = rate(totalread, FPrevTotalRead);
        FHistory[SeriesDiskWrites][Newest] = rate(totalwrite, FPrevTotalWrite);
        FHistory[SeriesDiskErrors][Newest] = rate(totalerrors, FPrevTotalErrors);
    }
    FPrevTick = now;
    FHasPrevious = true;
    FPrevCpuBusy = cpubusy;
    FPrevCpuIdle = cpuidle;
    FPrevPacketsSent = packsent;
    FPrevPacketsReceived = packreceived;
    FPrevPacketErrors = packerrors;
    FPrevTotalRead = totalread;
    FPrevTotalWrite = totalwrite;
    FPrevTotalErrors = totalerrors;

    FSampleTime[Newest] = FClock.Now();
    FSampleValid[Newest] = true;
}

bool TTorvaneServerPerformance::CheckCpuAlert()
{
    return CheckCpuAlert(ReadCpuAlertRule());
}

bool TTorvaneServerPerformance::CheckResponseAlert()
{
    return CheckResponseAlert(ReadResponseAlertRule());
}

bool TTorvaneServerPerformance::CheckCpuAlert(const std::optional<TAlertRule>& rule)
{
    return CheckAlert(true, rule);
}

bool TTorvaneServerPerformance::CheckResponseAlert(const std::optional<TAlertRule>& rule)
{
    return CheckAlert(false, rule);
}

bool TTorvaneServerPerformance::CheckAlert(bool cpu, const std::optional<TAlertRule>& rule)
{
    if (!rule)
        return false;
    TDateTime& lastAlert = cpu ? FLastCpuAlertTime : FLastResponseAlertTime;
    const TDateTime now = FClock.Now();
    if (SecondsBetween(now, lastAlert) < AlertRearmSeconds)
        return false;
    const TSeriesHistory& series = FHistory[cpu ? SeriesCpuBusy : SeriesResponse];
    const int count = std::min(rule->SampleCount, HistoryLength);
    for (int k = count; k >= 1; --k) {
        if (series[HistoryLength - k] < rule->Threshold)
            return false;
    }
    lastAlert = now;
    return true;
}

void TTorvaneServerPerformance::WriteLogLine()
{
    WriteLogLine(ReadLogSettings());
}

void TTorvaneServerPerformance::WriteLogLine(const std::optional<TLogSettings>& settings)
{
    if (!settings)
        return;
    if (FLogRefreshCounter < settings->RefreshCount) {
        ++FLogRefreshCounter;
        return;
    }
    // The line's turn is used up whether or not it can be written.
    FLogRefreshCounter = 0;

    const QString path = PerformanceLogPath(settings->Directory, QString::fromStdString(FServerName));
    const auto fail = [&](const QString& why) {
        if (!FLogFailureReported)
            qWarning().noquote() << QStringLiteral("Performance log of %1 not written to %2: %3")
                                        .arg(QString::fromStdString(FServerName), path, why);
        FLogFailureReported = true;
    };
    if (settings->Directory.isEmpty()) {
        // Appending a separator would make this a file in the root folder.
        fail(QStringLiteral("no logging directory is set"));
        return;
    }

    const std::int32_t values[10] = {
        FHistory[SeriesCpuBusy][Newest],       FHistory[SeriesResponse][Newest],
        FHistory[SeriesUsers][Newest],         FHistory[SeriesSessions][Newest],
        FHistory[SeriesPacketsSent][Newest],   FHistory[SeriesPacketsReceived][Newest],
        FHistory[SeriesPacketErrors][Newest],  FHistory[SeriesDiskReads][Newest],
        FHistory[SeriesDiskWrites][Newest],    FHistory[SeriesDiskErrors][Newest],
    };
    QFile file(path);
    std::string text = file.exists() ? std::string() : std::string(PerformanceLogHeader);
    text += PerformanceLogLine(DateTimeToText(FClock.Now()), values);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail(file.errorString());
        return;
    }
    if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())
        || !file.flush()) {
        fail(file.errorString());
        return;
    }
    FLogFailureReported = false;
}

TTorvaneServerPerformance::TCounters TTorvaneServerPerformance::Counters() const
{
    return {static_cast<std::uint32_t>(FPrevPacketsSent),  static_cast<std::uint32_t>(FPrevPacketsReceived),
            static_cast<std::uint32_t>(FPrevPacketErrors), static_cast<std::uint32_t>(FPrevTotalRead),
            static_cast<std::uint32_t>(FPrevTotalWrite),   static_cast<std::uint32_t>(FPrevTotalErrors)};
}

std::int32_t TTorvaneServerPerformance::GetSeriesMaximum(int series) const
{
    if (series < 0 || series >= SeriesCount)
        return 0;
    const TSeriesHistory& values = FHistory[static_cast<std::size_t>(series)];
    return std::max(0, *std::max_element(values.begin(), values.end()));
}
