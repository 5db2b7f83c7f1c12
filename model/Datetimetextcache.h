#pragma once
// Remembers the values of the date-time texts a refresh compares, so that a text is
// parsed once rather than once per row and refresh: a locale parse costs microseconds,
// and an idle process brings the same last_batch text refresh after refresh.
//
// The texts of the current and of the previous refresh are kept; older ones are
// forgotten at NextRefresh, so the memory stays within two snapshots' distinct texts.

#include "model/Fixedtext.h"
#include "model/Torvaneprocesscategories.h"

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
    void Remember(std::string_view text, std::optional<double> value);

    struct TextHash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    using TValues = std::unordered_map<std::string, std::optional<double>, TextHash, std::equal_to<>>;

    TDateTimeTextParser Parse;
    TValues Current;
    TValues Previous;
    // Rows in a row often carry the same text (processes active in the same second).
    std::string LastText;
    std::optional<double> LastValue;
};

// The latest batch time of a summary entry wins: a text that does not parse only fills
// an empty LatestActivity; one that parses also displaces an earlier or unparsable one.
// Entry is a summary entry with LatestActivity, LatestActivityParsed, LatestActivityValue.
template <typename Entry>
void TakeLatestActivity(Entry& entry, const char* lastBatch, TDateTimeTextCache& values)
{
    const bool empty = entry.LatestActivity[0] == '\0';
    if (!empty && std::strncmp(entry.LatestActivity, lastBatch, sizeof entry.LatestActivity) == 0)
        return;
    const std::string_view text(lastBatch, strnlen(lastBatch, sizeof entry.LatestActivity));
    const std::optional<double> value = values.Value(text);
    if (!empty && (!value || (entry.LatestActivityParsed && entry.LatestActivityValue >= *value)))
        return;
    CopyFixedText(entry.LatestActivity, text);
    entry.LatestActivityParsed = value.has_value();
    entry.LatestActivityValue = value.value_or(0.0);
}
