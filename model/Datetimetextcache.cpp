#include "model/Datetimetextcache.h"

#include <algorithm>
#include <new>
#include <utility>

namespace {
// Below this many texts the table is never swept.
constexpr std::size_t SmallestSweep = 256;
} // namespace

TDateTimeTextCache::TDateTimeTextCache(TDateTimeTextParser parse) : Parse(std::move(parse)) {}

std::optional<double> TDateTimeTextCache::Value(std::string_view text)
{
    if (Last && Last->first == text)
        return Last->second.Value;
    if (const auto known = Known.find(text); known != Known.end()) {
        known->second.LastUsed = Refresh;
        Last = &*known;
        return known->second.Value;
    }
    const std::optional<double> value = Parse ? Parse(text) : std::nullopt;
    try {
        Last = &*Known.emplace(std::string(text), TKnown{value, Refresh}).first;
    } catch (const std::bad_alloc&) {
        // Not remembered: the next row with this text parses it again.
    }
    return value;
}

void TDateTimeTextCache::NextRefresh()
{
    // The last text stays marked as used in the refresh that ends, like every other.
    if (Last)
        Last->second.LastUsed = Refresh;
    ++Refresh;
    if (Known.size() <= std::max(2 * SizeAfterSweep, SmallestSweep))
        return;
    std::erase_if(Known, [this](const TValues::value_type& known) { return known.second.LastUsed + 1 < Refresh; });
    SizeAfterSweep = Known.size();
    Last = nullptr;
}
