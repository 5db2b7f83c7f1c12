#pragma once
// Remembers the values of the date-time texts a refresh compares, so that a text is
// parsed once rather than once per row and refresh: a locale parse costs microseconds,
// and an idle process brings the same last_batch text refresh after refresh.
//
// A known text costs one lookup and no allocation. The texts used in neither the current
// nor the previous refresh are swept out at NextRefresh once the table has doubled since
// the last sweep, so the memory stays within a few snapshots' distinct texts.

#include "model/Fixedtext.h"
#include "model/Processrecord.h"
#include "model/Torvaneprocesscategories.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

class TDateTimeTextCache
{
public:
    explicit TDateTimeTextCache(TDateTimeTextParser parse);

    // The parser's value of the text (nullopt when it does not parse, or without parser).
    std::optional<double> Value(std::string_view text);
    void NextRefresh();

private:
    struct TKnown
    {
        std::optional<double> Value;
        std::uint32_t LastUsed = 0; // the refresh that last asked for it
    };
    struct TextHash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    using TValues = std::unordered_map<std::string, TKnown, TextHash, std::equal_to<>>;

    TDateTimeTextParser Parse;
    TValues Known;
    std::uint32_t Refresh = 0;
    std::size_t SizeAfterSweep = 0;
    // Rows in a row often carry the same text (processes active in the same second): the
    // last one asked for, which stays in Known until the next sweep.
    TValues::value_type* Last = nullptr;
};

// The latest batch time of a summary entry wins: a text that does not parse only fills
// an empty LatestActivity; one that parses also displaces an earlier or unparsable one.
// The record's value stands for its text where the reader gave one.
// Entry is a summary entry with LatestActivity, LatestActivityParsed, LatestActivityValue.
template <typename Entry>
void TakeLatestActivity(Entry& entry, const ProcessRecord& record, TDateTimeTextCache& values)
{
    const std::string_view text = record.last_batch;
    const bool empty = entry.LatestActivity[0] == '\0';
    if (!empty && SameFixedText(entry.LatestActivity, text))
        return;
    const std::optional<double> value =
        std::isnan(record.last_batch_value) ? values.Value(text) : std::optional<double>(record.last_batch_value);
    if (!empty && (!value || (entry.LatestActivityParsed && entry.LatestActivityValue >= *value)))
        return;
    CopyFixedText(entry.LatestActivity, text);
    entry.LatestActivityParsed = value.has_value();
    entry.LatestActivityValue = value.value_or(0.0);
}
