#pragma once
// Remembers the values of the date-time texts a refresh compares, so that a text is
// parsed once rather than once per row and refresh: a locale parse costs microseconds,
// and an idle process brings the same last_batch text refresh after refresh.
//
// The texts of the current and of the previous refresh are kept; older ones are
// forgotten at NextRefresh, so the memory stays within two snapshots' distinct texts.

#include "Torvaneprocesscategories.h"

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
