#pragma once
// The date-time texts of the snapshot's login and last batch times, each value formatted
// once. A process keeps its login time for its whole life and most processes keep their
// last batch time from one refresh to the next, so a text is kept while the current or
// the previous refresh uses it; one that neither used is made afresh when it is next
// needed, and its room is taken back when the table next fills up, so the memory stays
// within a few snapshots' distinct values. Every row looks up two values: the table is
// open-addressed and flat, so a lookup is a hash and mostly one probe.
//
// The driver's times become whole seconds (a text shows no more) and their texts are
// made as the monitor thread reads the snapshot, so that a first refresh, which meets
// every time anew, costs the main thread no formatting. The texts follow the program's
// locale (the default locale, fixed before any monitor thread starts); one table per
// monitor thread, used by that thread alone.

#include "engine/Commonfuncs.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
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
    // Starts a refresh: the texts the last refresh did not use are made afresh.
    void NextRefresh();

private:
    // The places of a server's spids (up to 32,767 each) are remembered; texts up to 55
    // bytes (every usual format) in one cache line each. They are kept in blocks made
    // when a place in them is first used, so a server's places take memory for the spids
    // it has, and none is ever copied.
    static constexpr std::int32_t Places = 2 * 32768;
    static constexpr std::int32_t PlacesPerBlock = 1024;
    struct TPlace
    {
        TDateTimeSeconds Seconds = NoDateTime;
        std::uint8_t Length = 0;
        char Text[55] = {};
    };
    std::vector<std::unique_ptr<TPlace[]>> PlaceBlocks;

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
