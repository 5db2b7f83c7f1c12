#pragma once
// Date-time values and their texts, shared by the engine, the models' presentation and
// the views.
//
// TDateTime is the toolkit-style value: days since 30 December 1899 as a double, the
// fraction being the local time of day (for days before that date the fraction still
// counts forwards from midnight, so -1.25 is 29 December 1899 06:00).
//
// The texts follow the locale the program runs in: QLocale(), which is the user's
// system locale (LC_ALL, LC_TIME or LANG) unless the program sets another default.
// A text is the locale's short date, a blank and its long time without the time zone;
// the time is left out when it is exactly 00:00:00. Two changes to the locale's formats
// keep every text parseable back to the same second: a two-digit year is written with
// four digits (a short date "1/2/26" would read back as 1926), and the zone is dropped
// together with its brackets and the separators that joined it to the time. Every
// locale Qt knows writes a text that reads back; each locale's formats are built once
// per thread.

#include <QDate>
#include <QLocale>
#include <QTime>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using TDateTime = double;

// The local wall-clock time now.
TDateTime CurrentDateTime();

TDateTime EncodeDateTime(const QDate& date, const QTime& time);
// The value rounded to the millisecond; an invalid date for values outside QDate's range.
QDate DateOf(TDateTime value);
QTime TimeOf(TDateTime value);

// The date-time text of the value, seconds truncated, in the given or current locale.
std::string DateTimeToText(TDateTime value);
std::string DateTimeToText(TDateTime value, const QLocale& locale);
// Its two parts, for a caller that makes many texts of few days: the date's text, and
// the time's (seconds truncated) that follows it after a blank unless it is midnight.
std::string DateToText(const QDate& date, const QLocale& locale);
std::string TimeOfDayToText(const QTime& time, const QLocale& locale);

// Writes TimeOfDayToText's texts of one locale without Qt's formatter, where that can
// be done exactly: a format of plain hour, minute, second and AM/PM fields and literal
// text, in ASCII digits, whose texts for times in every hour were checked against Qt's
// when it was made. For any other locale Usable() is false: use TimeOfDayToText.
class TTimeOfDayWriter
{
public:
    explicit TTimeOfDayWriter(const QLocale& locale);
    bool Usable() const { return Checked; }
    // Appends the text of hour:minute:second (0-23, 0-59, 0-59).
    void Append(std::string& text, int hour, int minute, int second) const;

private:
    enum class EField
    {
        Literal,
        Number,
        DayHalf,
    };
    enum ENumber
    {
        ClockHour, // 1-12 beside an AM/PM field, else 0-23
        Hour24,
        Minute,
        Second,
    };
    struct TPart
    {
        EField Field;
        std::string Text = {};    // of a literal
        ENumber Number = Minute;  // of a number
        bool TwoDigits = false;   // of a number
        bool Upper = false;       // of an AM/PM field
    };
    bool Parse(const QString& format);

    std::vector<TPart> Parts;
    bool TwelveHour = false;
    std::string DayHalves[2][2]; // [upper, lower][AM, PM]
    bool Checked = false;
};

// Reads a text written by DateTimeToText in the same locale; empty when the text is not
// one. A text with only a date is that day at 00:00:00.
std::optional<TDateTime> TextToDateTime(std::string_view text);
std::optional<TDateTime> TextToDateTime(std::string_view text, const QLocale& locale);

// Whole seconds from earlier to later (either order; the absolute difference), rounded
// to the millisecond first so that exactly an hour never counts as 3599 seconds.
std::int64_t SecondsBetween(TDateTime a, TDateTime b);

// "Running for D days, H hours, M minutes and S seconds" for the time between the server
// clock and its start time; the plural words are used for every count.
std::string RunningTimeText(TDateTime serverTime, TDateTime serverStartTime);
