#include "engine/Datetimetexts.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr TDateTimeSeconds SecondsPerDay = 86400;

QDate BaseDate()
{
    return QDate(1899, 12, 30);
}

} // namespace

TDateTimeSeconds SecondsOf(TDateTime value)
{
    // Through DateOf and TimeOf, so the second is the one DateTimeToText rounds to.
    const QDate date = DateOf(value);
    if (!date.isValid())
        return NoDateTime;
    return BaseDate().daysTo(date) * SecondsPerDay + TimeOf(value).msecsSinceStartOfDay() / 1000;
}

TDateTimeSeconds SecondsOf(int year, int month, int day, int hour, int minute, int second,
                           std::uint32_t fraction)
{
    constexpr std::int64_t MsPerDay = SecondsPerDay * 1000;
    if (year < 1 || !QDate::isValid(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || fraction > 999999999)
        return NoDateTime;
    // Days from 1 March of year 0 of the proleptic Gregorian calendar (as QDate counts),
    // which puts the leap day last in its year.
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    constexpr std::int64_t Day18991230 = 693899; // the same count for 30 December 1899
    std::int64_t days = era * 146097 + dayOfEra - Day18991230;
    std::int64_t ms = ((hour * 60 + minute) * 60 + second) * 1000 + (fraction + 500000) / 1000000;
    if (ms >= MsPerDay) {
        ms -= MsPerDay;
        ++days;
    }
    return days * SecondsPerDay + ms / 1000;
}

TDateTime ValueOfSeconds(TDateTimeSeconds seconds)
{
    // Floor division: the day of a second before the base date is the day before.
    TDateTimeSeconds days = seconds / SecondsPerDay;
    TDateTimeSeconds secondOfDay = seconds % SecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += SecondsPerDay;
        --days;
    }
    // As EncodeDateTime computes it from the date and time, without building them.
    const double day = static_cast<double>(days);
    const double fraction = static_cast<double>(secondOfDay * 1000) / (SecondsPerDay * 1000.0);
    return day >= 0 ? day + fraction : day - fraction;
}

std::string_view TDateTimeTexts::Text(TDateTimeSeconds seconds)
{
    if (seconds == NoDateTime)
        return {};
    TSlot* slot = &SlotOf(seconds);
    const bool fresh = slot->Seconds != NoDateTime && slot->LastUsed + 1 >= Refresh;
    if (fresh) {
        slot->LastUsed = Refresh;
        return Texts[slot->Text];
    }
    if (slot->Seconds == NoDateTime) {
        if ((Taken + 1) * 2 > Slots.size()) {
            Rebuild();
            slot = &SlotOf(seconds);
        }
        if (FreeTexts.empty()) {
            Texts.emplace_back();
            slot->Text = static_cast<std::uint32_t>(Texts.size() - 1);
        } else {
            slot->Text = FreeTexts.back();
            FreeTexts.pop_back();
        }
        slot->Seconds = seconds;
        ++Taken;
    }
    slot->LastUsed = Refresh;
    std::string& kept = Texts[slot->Text];
    MakeText(seconds, kept);
    return kept;
}

std::string_view TDateTimeTexts::Text(TDateTimeSeconds seconds, std::int32_t place)
{
    if (place < 0 || place >= Places || seconds == NoDateTime)
        return Text(seconds);
    const auto block = static_cast<std::size_t>(place / PlacesPerBlock);
    if (block < PlaceBlocks.size() && PlaceBlocks[block]) {
        const TPlace& known = PlaceBlocks[block][place % PlacesPerBlock];
        if (known.Seconds == seconds)
            return {known.Text, known.Length};
    }
    const std::string_view text = Text(seconds);
    if (text.size() > sizeof TPlace::Text)
        return text;
    if (block >= PlaceBlocks.size())
        PlaceBlocks.resize(block + 1);
    if (!PlaceBlocks[block])
        PlaceBlocks[block] = std::make_unique<TPlace[]>(PlacesPerBlock);
    TPlace& kept = PlaceBlocks[block][place % PlacesPerBlock];
    kept.Seconds = seconds;
    kept.Length = static_cast<std::uint8_t>(text.size());
    std::memcpy(kept.Text, text.data(), text.size());
    return {kept.Text, kept.Length};
}

TDateTimeTexts::TSlot& TDateTimeTexts::SlotOf(TDateTimeSeconds seconds)
{
    if (Slots.empty())
        Slots.resize(64);
    const std::size_t mask = Slots.size() - 1;
    std::size_t at =
        static_cast<std::size_t>((static_cast<std::uint64_t>(seconds) * 0x9E3779B97F4A7C15ull) >> 32) & mask;
    while (Slots[at].Seconds != NoDateTime && Slots[at].Seconds != seconds)
        at = (at + 1) & mask;
    return Slots[at];
}

// Keeps the texts the current or the last refresh used, in a table with room for four
// times as many; the others' room is taken back.
void TDateTimeTexts::Rebuild()
{
    std::vector<TSlot> old(std::move(Slots));
    std::size_t live = 0;
    for (const TSlot& slot : old)
        live += slot.Seconds != NoDateTime && slot.LastUsed + 1 >= Refresh;
    std::size_t size = 64;
    while (size < (live + 1) * 4)
        size *= 2;
    Slots.assign(size, TSlot{});
    Taken = 0;
    for (const TSlot& slot : old) {
        if (slot.Seconds == NoDateTime)
            continue;
        if (slot.LastUsed + 1 >= Refresh) {
            SlotOf(slot.Seconds) = slot;
            ++Taken;
        } else {
            Texts[slot.Text].clear();
            FreeTexts.push_back(slot.Text);
        }
    }
}

// DateTimeToText of the second, the date's part made once per day.
void TDateTimeTexts::MakeText(TDateTimeSeconds seconds, std::string& text)
{
    text.clear();
    const TDateTime value = ValueOfSeconds(seconds);
    const QDate date = DateOf(value);
    if (!date.isValid())
        return;
    auto day = DayTexts.find(date.toJulianDay());
    if (day == DayTexts.end()) {
        if (DayTexts.size() >= MaxDayTexts)
            DayTexts.clear();
        day = DayTexts.emplace(date.toJulianDay(), DateToText(date, Locale)).first;
    }
    text += day->second;
    const QTime time = TimeOf(value);
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
        // A first refresh makes a text for nearly every row's two times; Qt's formatter
        // asks the system locale for every one of them.
        if (!TimeWriter)
            TimeWriter.emplace(Locale);
        if (TimeWriter->Usable()) {
            text += ' ';
            TimeWriter->Append(text, time.hour(), time.minute(), time.second());
        } else {
            text += ' ' + TimeOfDayToText(time, Locale);
        }
    }
}

void TDateTimeTexts::NextRefresh()
{
    // A text made before the locale changed is made afresh, in the locale of the moment.
    if (const QLocale current; current != Locale) {
        Locale = current;
        DayTexts.clear();
        TimeWriter.reset();
    }
    ++Refresh;
}
