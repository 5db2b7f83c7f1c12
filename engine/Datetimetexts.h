#pragma once
// The date-time texts of the snapshot's login and last batch times, each value formatted
// once. A process keeps its login time for its whole life and most processes keep their
// last batch time from one refresh to the next, so the texts of the current and of the
// previous refresh are remembered and older ones forgotten: the memory stays within two
// snapshots' distinct values.
//
// The snapshot carries these times as whole seconds (a text shows no more) until a
// text is needed. The texts follow the program's locale, so they are made on the main
// thread, where every other date-time text is made.

#include "engine/Commonfuncs.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>

// A date-time to the second as its text shows it: whole seconds from 30 December 1899
// 00:00:00, or NoDateTime for a NULL and for a value no text can show.
using TDateTimeSeconds = std::int64_t;
inline constexpr TDateTimeSeconds NoDateTime = std::numeric_limits<TDateTimeSeconds>::min();

// The second DateTimeToText(value) shows; thread-safe.
TDateTimeSeconds SecondsOf(TDateTime value);

class TDateTimeTexts
{
public:
    // DateTimeToText of the second, in the current locale; empty for NoDateTime. Good
    // until the NextRefresh after the next.
    std::string_view Text(TDateTimeSeconds seconds);
    // Starts a refresh: the texts the last refresh did not use are forgotten.
    void NextRefresh();

private:
    struct TText
    {
        std::string Text;
        std::uint32_t LastUsed; // the refresh that used it last
    };
    std::unordered_map<TDateTimeSeconds, TText> Texts;
    std::uint32_t Refresh = 0;
};
