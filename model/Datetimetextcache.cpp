#include "model/Datetimetextcache.h"

#include <new>
#include <utility>

TDateTimeTextCache::TDateTimeTextCache(TDateTimeTextParser parse) : Parse(std::move(parse)) {}

std::optional<double> TDateTimeTextCache::Value(std::string_view text)
{
    if (text == LastText)
        return LastValue;
    if (const auto known = Current.find(text); known != Current.end()) {
        Remember(text, known->second);
        return known->second;
    }
    std::optional<double> value;
    if (const auto earlier = Previous.find(text); earlier != Previous.end())
        value = earlier->second;
    else if (Parse)
        value = Parse(text);
    try {
        Current.emplace(std::string(text), value);
    } catch (const std::bad_alloc&) {
        // Not remembered: the next row with this text parses it again.
    }
    Remember(text, value);
    return value;
}

void TDateTimeTextCache::Remember(std::string_view text, std::optional<double> value)
{
    try {
        LastText.assign(text);
        LastValue = value;
    } catch (const std::bad_alloc&) {
        // The text stays unchanged, and so the pair stays true.
    }
}

void TDateTimeTextCache::NextRefresh()
{
    Previous.clear();
    std::swap(Previous, Current);
}
