#pragma once
// The text a DBA types to find rows: a row passes when one of its texts contains it,
// letter case ignored as the model's names ignore it (Namecompare.h: "MÜLLER" finds
// "müller", "STRASSE" finds "straße"). An empty text passes every row.

#include "model/Namecompare.h"

#include <string>
#include <string_view>

class TTextFilter
{
public:
    void SetText(std::string_view text);
    const std::string& Text() const { return FText; }
    bool Empty() const { return Needle.empty(); }

    // Whether the folded text contains the folded filter.
    bool FoundIn(std::string_view text) const;
    // Whether the filter is a run of digits, which only numbers can contain.
    bool Digits() const { return AllDigits; }
    // Forgets folded names not seen since the previous call (once per refresh).
    void NextRefresh() { Folds.NextRefresh(); }

private:
    std::string FText;
    std::string Needle; // folded
    bool NeedleAscii = true;
    bool AllDigits = false;
    mutable TNameFolder Folds;
};
