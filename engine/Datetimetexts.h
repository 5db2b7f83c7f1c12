#pragma once
// The date-time texts of the snapshot's login and last batch times, each value formatted
// once. A process keeps its login time for its whole life and most processes keep their
// last batch time from one refresh to the next, so a text is kept while the current or
// the previous refresh uses it; one that neither used is made afresh when it is next
// needed, and its room is taken back when the table next fills up, so the memory stays
// within a few snapshots' distinct values. Every row looks up two values: the table is
// open-addressed and flat, so a lookup is a hash and mostly one probe.
//
// The snapshot carries these times as whole seconds (a text shows no more) until a
// text is needed. The texts follow the program's locale, so they are made on the main
// thread, where every other date-time text is made.

#include "engine/Commonfuncs.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A date-time to the second as its text shows it: whole seconds from 30 December 1899
// 00:00:00, or NoDateTime for a NULL and for a value no text can show.
using TDateTimeSeconds = std::int64_t;
inline constexpr TDateTimeSeconds NoDateTime = std::numeric_limits<TDateTimeSeconds>::min();

// The second DateTimeToText(value) shows; thread-safe.
TDateTimeSeconds SecondsOf(TDateTime value);
// The value of a second: the inverse of SecondsOf for every second it gives. Thread-safe.
TDateTime ValueOfSeconds(TDateTimeSeconds seconds);
// The same of a calendar date and time of day as a driver sends them (fraction in
// nanoseconds, rounded to the millisecond as a TDateTime holds it), without the
// detour through TDateTime; NoDateTime for a date that does not exist. Thread-safe.
TDateTimeSeconds SecondsOf(int year, int month, int day, int hour, int minute, int second,
                           std::uint32_t fraction);

class TDateTimeTexts
{
public:
    // DateTimeToText of the second, in the current locale; empty for NoDateTime. Good
    // until the NextRefresh after the next.
    std::string_view Text(TDateTimeSeconds seconds);
    // The same for a value that a given place of the snapshot holds refresh after
    // refresh (the login time of spid 57, say: place = 2 * spid): the place remembers
    // its last value and text, so an unchanged value is a copy from memory read in row
    // order, not a lookup. Good until the next call for the same place.
    std::string_view Text(TDateTimeSeconds seconds, std::int32_t place);
    // Makes room at once for places up to `highestPlace`: a first refresh meets every
    // spid's places, and would otherwise copy the table each time it doubled.
    void PreparePlaces(std::int32_t highestPlace);
    // Starts a refresh: the texts the last refresh did not use are made afresh.
    void NextRefresh();

private:
    // The places of a server's spids (up to 32,767 each) are remembered; texts up to 55
    // bytes (every usual format) in one cache line each.
    static constexpr std::int32_t Places = 2 * 32768;
    struct TPlace
    {
        TDateTimeSeconds Seconds = NoDateTime;
        std::uint8_t Length = 0;
        char Text[55] = {};
    };
    std::vector<TPlace> PlaceTexts;

    // The texts of the days this locale's texts showed: a refresh's times fall on few.
    static constexpr std::size_t MaxDayTexts = 4096;
    QLocale Locale;
    std::unordered_map<qint64, std::string> DayTexts;
    std::optional<TTimeOfDayWriter> TimeWriter; // of Locale, made at its first text

    struct TSlot
    {
        TDateTimeSeconds Seconds = NoDateTime; // NoDateTime: free
        std::uint32_t LastUsed = 0;            // the refresh that used it last
        std::uint32_t Text = 0;                // in Texts
    };

    // Writes the text into `text`, whose room it reuses.
    void MakeText(TDateTimeSeconds seconds, std::string& text);
    TSlot& SlotOf(TDateTimeSeconds seconds);
    void Rebuild();

    std::vector<TSlot> Slots; // a power of two of them, at most half taken
    std::size_t Taken = 0;
    std::deque<std::string> Texts; // an element stays in place while it lives
    std::vector<std::uint32_t> FreeTexts;
    std::uint32_t Refresh = 0;
};
