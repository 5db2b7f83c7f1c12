#include "engine/Commonfuncs.h"

#include <QDateTime>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>
#include <vector>

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

// What joins a time-zone field to the rest of a time: blanks, commas of any script and
// direction marks.
bool IsZoneSeparator(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Format || c == u',' || c == u'\u060c' ||
           c == u'\u3001' || c == u'\uff0c';
}

bool IsBracketPair(QChar open, QChar close)
{
    return (open == u'(' && close == u')') || (open == u'[' && close == u']') ||
           (open == u'\uff08' && close == u'\uff09') || (open == u'\uff3b' && close == u'\uff3d');
}

// The format with its time-zone fields removed, each with the brackets around it and the
// separators that joined it to the rest ("h:mm:ss AP, t", "HH:mm:ss (t)", "t HH:mm:ss"),
// so that no locale is left with an empty "()" or a dangling ",". Quoted text stays.
QString WithoutZone(QString format)
{
    for (;;) {
        std::vector<bool> literal; // quoted text and the quotes themselves
        literal.reserve(static_cast<std::size_t>(format.size()));
        bool quoted = false;
        for (const QChar c : format) {
            if (c == u'\'')
                quoted = !quoted;
            literal.push_back(quoted || c == u'\'');
        }
        // The unquoted character at i; none (U+0000) for quoted text and outside the format.
        const auto plain = [&](qsizetype i) {
            return i >= 0 && i < format.size() && !literal[static_cast<std::size_t>(i)] ? format[i] : QChar();
        };
        qsizetype begin = 0;
        while (begin < format.size() && plain(begin) != u't')
            ++begin;
        if (begin == format.size())
            return format;
        qsizetype end = begin;
        while (plain(end) == u't')
            ++end;
        qsizetype open = begin - 1;
        while (plain(open).isSpace())
            --open;
        qsizetype close = end;
        while (plain(close).isSpace())
            ++close;
        if (IsBracketPair(plain(open), plain(close))) {
            begin = open;
            end = close + 1;
        }
        while (IsZoneSeparator(plain(begin - 1)))
            --begin;
        if (begin == 0) {
            while (IsZoneSeparator(plain(end)))
                ++end;
        }
        format.remove(begin, end - begin);
    }
}

// The locale's short date with a year of fewer than four letters written as "yyyy"
// (a short date "1/2/26" would read back as 1926); quoted literals stay as they are.
QString FourDigitYears(const QString& format)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == u'\'') {
            quoted = !quoted;
            out.append(c);
            ++i;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == c)
            ++run;
        out.append(!quoted && c == u'y' ? QStringLiteral("yyyy") : format.mid(i, run));
        i += run;
    }
    return out.trimmed();
}

// A text as a quoted literal of a format.
QString QuotedLiteral(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

// How a locale's texts are written and read back, built once per locale rather than for
// every text, since texts are written and read for every row of every snapshot.
struct TLocaleFormats
{
    explicit TLocaleFormats(const QLocale& locale);

    QLocale Locale;
    QString Date; // the short date with four-digit years
    QString Time; // the long time without the zone

    // Qt's parser misses some locales' texts that its own formatter wrote, so these are
    // read in a form it does read. It takes digits of the Basic Multilingual Plane only:
    // digits beyond it (Chakma, Adlam) are read as ASCII digits.
    QString ZeroDigit; // of a locale whose digits lie beyond that plane; else empty
    // It misses some AM/PM texts before the hour (Assamese, Bodo, Ewe): the time is then
    // read with the AM text and with the PM text written as literals instead.
    struct TDayHalf
    {
        QString Format;
        bool Afternoon;
    };
    std::vector<TDayHalf> DayHalves;
    bool TwelveHour = false; // hours counted 1 to 12 beside the AM/PM text

    QString ReadableDigits(const QString& text) const;
    QTime ReadTime(const QString& text) const;
};

TLocaleFormats::TLocaleFormats(const QLocale& locale)
    : Locale(locale), Date(FourDigitYears(locale.dateFormat(QLocale::ShortFormat))),
      Time(WithoutZone(locale.timeFormat(QLocale::LongFormat)).trimmed())
{
    if (locale.zeroDigit().size() > 1)
        ZeroDigit = locale.zeroDigit();
    bool quoted = false;
    for (qsizetype i = 0; i < Time.size(); ++i) {
        const QChar c = Time[i];
        if (c == u'\'')
            quoted = !quoted;
        if (quoted)
            continue;
        TwelveHour = TwelveHour || c == u'h';
        if (c != u'a' && c != u'A')
            continue;
        const qsizetype length = i + 1 < Time.size() && (Time[i + 1] == u'p' || Time[i + 1] == u'P') ? 2 : 1;
        const QString marker = Time.mid(i, length);
        for (const bool afternoon : {false, true}) {
            const QString text = locale.toString(QTime(afternoon ? 13 : 1, 0), marker);
            DayHalves.push_back({Time.left(i) + QuotedLiteral(text) + Time.mid(i + length), afternoon});
        }
        i += length - 1;
    }
}

QString TLocaleFormats::ReadableDigits(const QString& text) const
{
    if (ZeroDigit.isEmpty())
        return text;
    QString readable = text;
    const char32_t zero = QStringView(ZeroDigit).toUcs4().front();
    for (char32_t digit = 0; digit < 10; ++digit) {
        const char32_t native = zero + digit;
        readable.replace(QString::fromUcs4(&native, 1), QString(QChar(u'0' + digit)));
    }
    return readable;
}

QTime TLocaleFormats::ReadTime(const QString& text) const
{
    // A format with an AM/PM field is read with that field written out as a literal,
    // one half of the day at a time: Qt 6.4's own reading of the field runs past the end
    // of its text for some locales' AM/PM words (Ewe's, among others), reading memory
    // that is not its own.
    if (DayHalves.size() != 2)
        return Locale.toTime(text, Time);
    for (const TDayHalf& half : DayHalves) {
        const QTime read = Locale.toTime(text, half.Format);
        if (!read.isValid())
            continue;
        // Read without the AM/PM field, a 12-hour clock's hour stands as it is written.
        int hour = read.hour();
        if (TwelveHour && half.Afternoon && hour < 12)
            hour += 12;
        else if (TwelveHour && !half.Afternoon && hour == 12)
            hour = 0;
        return QTime(hour, read.minute(), read.second());
    }
    return {};
}

// Each thread keeps the few locales it used last, so the monitor threads and the main
// thread never wait for one another here.
const TLocaleFormats& FormatsOf(const QLocale& locale)
{
    constexpr std::size_t Kept = 4;
    thread_local std::vector<TLocaleFormats> recent;
    const auto found = std::find_if(recent.begin(), recent.end(),
                                    [&](const TLocaleFormats& formats) { return formats.Locale == locale; });
    if (found != recent.end())
        return *found;
    if (recent.size() == Kept)
        recent.erase(recent.begin());
    return recent.emplace_back(locale);
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
    // The local time as the C library gives it. The time zone is looked up again (a
    // look at the zone file) at most once a minute rather than at every call, which
    // costs a refresh of a small server more than the rest of its statistics.
    static std::atomic<std::int64_t> zoneCheckedAt{std::numeric_limits<std::int64_t>::min()};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t checked = zoneCheckedAt.load(std::memory_order_relaxed);
    if (now.tv_sec - 60 >= checked || now.tv_sec < checked) {
        tzset();
        zoneCheckedAt.store(now.tv_sec, std::memory_order_relaxed);
    }
    tm local{};
    if (!localtime_r(&now.tv_sec, &local)) {
        const QDateTime fallback = QDateTime::currentDateTime();
        return EncodeDateTime(fallback.date(), fallback.time());
    }
    // A leap second shows as the last second of its minute.
    return EncodeDateTime(QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                          QTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                                static_cast<int>(now.tv_nsec / 1000000)));
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
    std::string text = DateToText(date, locale);
    const QTime time = TimeOf(value);
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
        text += ' ' + TimeOfDayToText(time, locale);
    return text;
}

std::string DateToText(const QDate& date, const QLocale& locale)
{
    return locale.toString(date, FormatsOf(locale).Date).toStdString();
}

std::string TimeOfDayToText(const QTime& time, const QLocale& locale)
{
    const QTime seconds(time.hour(), time.minute(), time.second());
    return locale.toString(seconds, FormatsOf(locale).Time).toStdString();
}

TTimeOfDayWriter::TTimeOfDayWriter(const QLocale& locale)
{
    if (locale.zeroDigit() != QStringLiteral("0") || !Parse(FormatsOf(locale).Time))
        return;
    const QString texts[2] = {locale.amText(), locale.pmText()};
    for (int half = 0; half < 2; ++half) {
        DayHalves[0][half] = texts[half].toUpper().toStdString();
        DayHalves[1][half] = texts[half].toLower().toStdString();
    }
    // Every hour, with one- and two-digit minutes and seconds: a field read wrong, a
    // twelve-hour clock or an AM/PM text unlike Qt's shows in one of them.
    Checked = true;
    for (int hour = 0; hour < 24 && Checked; ++hour) {
        for (const auto& [minute, second] : {std::pair{0, 0}, std::pair{7, 5}, std::pair{59, 59}}) {
            std::string text;
            Append(text, hour, minute, second);
            if (text != TimeOfDayToText(QTime(hour, minute, second), locale)) {
                Checked = false;
                break;
            }
        }
    }
}

// The fields of a QTime format; false for one this writer does not know.
bool TTimeOfDayWriter::Parse(const QString& format)
{
    const auto literal = [this](const QString& text) {
        if (Parts.empty() || Parts.back().Field != EField::Literal)
            Parts.push_back({EField::Literal, {}});
        Parts.back().Text += text.toStdString();
    };
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            // Quoted text; two quotes are one quote, inside quotes or out.
            if (i + 1 < format.size() && format[i + 1] == QLatin1Char('\'')) {
                literal(QStringLiteral("'"));
                i += 2;
                continue;
            }
            const qsizetype end = format.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0)
                return false;
            literal(format.mid(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (c.unicode() >= 0x80 || !c.isLetter()) {
            literal(QString(c));
            ++i;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == c)
            ++run;
        const char letter = static_cast<char>(c.unicode());
        if (letter == 'A' || letter == 'a') {
            const bool upper = letter == 'A';
            if (run > 1)
                return false;
            Parts.push_back({EField::DayHalf, {}, Minute, false, upper});
            TwelveHour = true;
            i += i + 1 < format.size() && format[i + 1] == QLatin1Char(upper ? 'P' : 'p') ? 2 : 1;
            continue;
        }
        const char* const numbers = "hHms";
        const char* const number = std::strchr(numbers, letter);
        if (!number || run > 2)
            return false;
        Parts.push_back({EField::Number, {}, static_cast<ENumber>(number - numbers), run == 2});
        i += run;
    }
    return true;
}

void TTimeOfDayWriter::Append(std::string& text, int hour, int minute, int second) const
{
    const auto number = [&text](int value, bool two) {
        if (two || value >= 10)
            text += static_cast<char>('0' + value / 10);
        text += static_cast<char>('0' + value % 10);
    };
    const int values[] = {TwelveHour ? (hour % 12 == 0 ? 12 : hour % 12) : hour, hour, minute, second};
    for (const TPart& part : Parts) {
        switch (part.Field) {
        case EField::Literal:
            text += part.Text;
            break;
        case EField::Number:
            number(values[part.Number], part.TwoDigits);
            break;
        case EField::DayHalf:
            text += DayHalves[part.Upper ? 0 : 1][hour < 12 ? 0 : 1];
            break;
        }
    }
}

std::optional<TDateTime> TextToDateTime(std::string_view text)
{
    return TextToDateTime(text, QLocale());
}

std::optional<TDateTime> TextToDateTime(std::string_view text, const QLocale& locale)
{
    const TLocaleFormats& formats = FormatsOf(locale);
    const QString input =
        formats.ReadableDigits(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed());
    const QDate dateOnly = locale.toDate(input, formats.Date);
    if (dateOnly.isValid())
        return EncodeDateTime(dateOnly, QTime(0, 0));
    // Date and time are parsed apart, at each blank in turn (either format may hold
    // blanks of its own), so that no time zone or summer-time gap can move the value.
    for (qsizetype blank = input.indexOf(QLatin1Char(' ')); blank > 0;
         blank = input.indexOf(QLatin1Char(' '), blank + 1)) {
        const QDate date = locale.toDate(input.left(blank), formats.Date);
        if (!date.isValid())
            continue;
        const QTime time = formats.ReadTime(input.mid(blank + 1));
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
