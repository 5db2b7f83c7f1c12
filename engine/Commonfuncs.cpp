#include "engine/Commonfuncs.h"

#include <QDateTime>

#include <cmath>
#include <limits>

namespace
{
constexpr double MsPerDay = 86400000.0;
QDate BaseDate()
{
    return QDate(1899, 12, 30);
}
// The date-time value's own range: 1 January 0001 to 31 December 9999.
constexpr double FirstDay = -693593.0;
constexpr double LastDay = 2958466.0;

// The locale's format with its letters of one kind changed; quoted literals stay as they are.
// For a date, a year of fewer than four letters becomes "yyyy"; for a time, the zone
// ("t") goes with the blanks beside it.
QString AdjustFormat(const QString& format, bool isDate)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            out.append(c);
            ++i;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == c)
            ++run;
        if (!quoted && isDate && c == QLatin1Char('y')) {
            out.append(QStringLiteral("yyyy"));
        } else if (!quoted && !isDate && c == QLatin1Char('t')) {
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
            while (i + run < format.size() && format[i + run].isSpace())
                ++run;
        } else {
            out.append(format.mid(i, run));
        }
        i += run;
    }
    return out.trimmed();
}

QString DateFormat(const QLocale& locale)
{
    return AdjustFormat(locale.dateFormat(QLocale::ShortFormat), true);
}

QString TimeFormat(const QLocale& locale)
{
    return AdjustFormat(locale.timeFormat(QLocale::LongFormat), false);
}

// Whole milliseconds from the base date's midnight, with the time of day of a negative
// value counted forwards from its day's midnight.
bool Split(TDateTime value, qint64& days, qint64& msOfDay)
{
    if (!std::isfinite(value) || value < FirstDay || value >= LastDay + 1)
        return false;
    const double whole = std::trunc(value);
    days = static_cast<qint64>(whole);
    msOfDay = std::llround(std::fabs(value - whole) * MsPerDay);
    if (msOfDay >= static_cast<qint64>(MsPerDay)) {
        msOfDay -= static_cast<qint64>(MsPerDay);
        days += 1;
    }
    return true;
}
} // namespace

TDateTime CurrentDateTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    return EncodeDateTime(now.date(), now.time());
}

TDateTime EncodeDateTime(const QDate& date, const QTime& time)
{
    const double days = static_cast<double>(BaseDate().daysTo(date));
    const double fraction = (time.isValid() ? time.msecsSinceStartOfDay() : 0) / MsPerDay;
    return days >= 0 ? days + fraction : days - fraction;
}

QDate DateOf(TDateTime value)
{
    qint64 days = 0, ms = 0;
    return Split(value, days, ms) ? BaseDate().addDays(days) : QDate();
}

QTime TimeOf(TDateTime value)
{
    qint64 days = 0, ms = 0;
    return Split(value, days, ms) ? QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)) : QTime();
}

std::string DateTimeToText(TDateTime value)
{
    return DateTimeToText(value, QLocale());
}

std::string DateTimeToText(TDateTime value, const QLocale& locale)
{
    const QDate date = DateOf(value);
    if (!date.isValid())
        return {};
    const QTime full = TimeOf(value);
    const QTime time(full.hour(), full.minute(), full.second());
    QString text = locale.toString(date, DateFormat(locale));
    if (time != QTime(0, 0))
        text += QLatin1Char(' ') + locale.toString(time, TimeFormat(locale));
    return text.toStdString();
}

std::optional<TDateTime> TextToDateTime(std::string_view text)
{
    return TextToDateTime(text, QLocale());
}

std::optional<TDateTime> TextToDateTime(std::string_view text, const QLocale& locale)
{
    const QString input = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    const QString dateFormat = DateFormat(locale);
    const QDate dateOnly = locale.toDate(input, dateFormat);
    if (dateOnly.isValid())
        return EncodeDateTime(dateOnly, QTime(0, 0));
    // Date and time are parsed apart, at each blank in turn (either format may hold
    // blanks of its own), so that no time zone or summer-time gap can move the value.
    const QString timeFormat = TimeFormat(locale);
    for (qsizetype blank = input.indexOf(QLatin1Char(' ')); blank > 0;
         blank = input.indexOf(QLatin1Char(' '), blank + 1)) {
        const QDate date = locale.toDate(input.left(blank), dateFormat);
        if (!date.isValid())
            continue;
        const QTime time = locale.toTime(input.mid(blank + 1), timeFormat);
        if (time.isValid())
            return EncodeDateTime(date, time);
    }
    return std::nullopt;
}

std::int64_t SecondsBetween(TDateTime a, TDateTime b)
{
    const double ms = std::fabs(a - b) * MsPerDay;
    if (!std::isfinite(ms) || ms >= static_cast<double>(std::numeric_limits<std::int64_t>::max()))
        return std::numeric_limits<std::int64_t>::max() / 1000;
    return std::llround(ms) / 1000;
}

std::string RunningTimeText(TDateTime serverTime, TDateTime serverStartTime)
{
    std::int64_t s = SecondsBetween(serverTime, serverStartTime);
    const std::int64_t days = s / 86400;
    s %= 86400;
    const std::int64_t hours = s / 3600;
    s %= 3600;
    const std::int64_t minutes = s / 60;
    const std::int64_t seconds = s % 60;
    return "Running for " + std::to_string(days) + " days, " + std::to_string(hours) + " hours, "
           + std::to_string(minutes) + " minutes and " + std::to_string(seconds) + " seconds";
}
