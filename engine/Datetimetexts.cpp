#include "engine/Datetimetexts.h"

#include <utility>

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

std::string_view TDateTimeTexts::Text(TDateTimeSeconds seconds)
{
    if (seconds == NoDateTime)
        return {};
    if (const auto known = Current.find(seconds); known != Current.end())
        return known->second;
    if (auto earlier = Previous.extract(seconds))
        return Current.insert(std::move(earlier)).position->second;
    // Floor division: the day of a second before the base date is the day before.
    TDateTimeSeconds days = seconds / SecondsPerDay;
    TDateTimeSeconds secondOfDay = seconds % SecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += SecondsPerDay;
        --days;
    }
    const TDateTime value = EncodeDateTime(
        BaseDate().addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(secondOfDay) * 1000));
    return Current.emplace(seconds, DateTimeToText(value)).first->second;
}

void TDateTimeTexts::NextRefresh()
{
    Previous.clear();
    std::swap(Previous, Current);
}
