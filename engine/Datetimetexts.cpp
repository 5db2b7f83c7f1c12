#include "engine/Datetimetexts.h"


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
    if (const auto known = Texts.find(seconds); known != Texts.end()) {
        known->second.LastUsed = Refresh;
        return known->second.Text;
    }
    // Floor division: the day of a second before the base date is the day before.
    TDateTimeSeconds days = seconds / SecondsPerDay;
    TDateTimeSeconds secondOfDay = seconds % SecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += SecondsPerDay;
        --days;
    }
    const TDateTime value = EncodeDateTime(BaseDate().addDays(days),
                                           QTime::fromMSecsSinceStartOfDay(static_cast<int>(secondOfDay) * 1000));
    return Texts.emplace(seconds, TText{DateTimeToText(value), Refresh}).first->second.Text;
}

void TDateTimeTexts::NextRefresh()
{
    ++Refresh;
    std::erase_if(Texts, [this](const auto& text) { return text.second.LastUsed + 1 < Refresh; });
}
