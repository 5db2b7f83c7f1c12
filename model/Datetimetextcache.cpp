#include "Datetimetextcache.h"

#include <new>
#include <utility>

TDateTimeTextCache::TDateTimeTextCache(TDateTimeTextParser parse) : Parse(std::move(parse)) {}

std::optional<double> TDateTimeTextCache::Value(std::string_view text)
{
    if (const auto known = Current.find(text); known != Current.end())
        return known->second;
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
    return value;
}

void TDateTimeTextCache::NextRefresh()
{
    Previous.clear();
    std::swap(Previous, Current);
}
