#include "engine/Torvaneperformancelog.h"

const char* const PerformanceLogHeader =
    "Timestamp\tCPU\tResponse\tUsers\tSessions\tNetworkSent\tNetworkReceived\tNetworkErrored\t"
    "DiskRead\tDiskWrite\tDiskError\r\n";

QString PerformanceLogFileName(const QString& serverName)
{
    static constexpr char16_t Forbidden[] = u"\\/:*?\"<>|";
    QString name = serverName;
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || std::u16string_view(Forbidden).find(c.unicode()) != std::u16string_view::npos)
            c = QLatin1Char('_');
    }
    return name;
}

QString PerformanceLogPath(const QString& directory, const QString& serverName)
{
    // A backslash is an ordinary character of a file name here, not a separator.
    QString path = directory;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + PerformanceLogFileName(serverName) + QStringLiteral(".log");
}

std::string PerformanceLogLine(const std::string& timestamp, const std::int32_t (&values)[10])
{
    std::string line = timestamp;
    for (const std::int32_t value : values)
        line += '\t' + std::to_string(value);
    return line + "\r\n";
}
