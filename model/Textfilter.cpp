#include "model/Textfilter.h"

#include <algorithm>

void TTextFilter::SetText(std::string_view text)
{
    FText.assign(text);
    char folded[FoldedNameSize];
    Needle.assign(folded, FoldName(text, folded));
    NeedleAscii = std::all_of(Needle.begin(), Needle.end(),
                              [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    AllDigits = !Needle.empty() &&
                std::all_of(Needle.begin(), Needle.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool TTextFilter::FoundIn(std::string_view text) const
{
    if (Needle.empty())
        return true;
    // An ASCII text folds to its upper case: compared so on the spot, without a copy.
    unsigned char high = 0;
    for (const char c : text)
        high |= static_cast<unsigned char>(c);
    if (high < 0x80) {
        if (!NeedleAscii || text.size() < Needle.size())
            return false;
        const std::size_t last = text.size() - Needle.size();
        const char first = Needle[0];
        for (std::size_t at = 0; at <= last; ++at) {
            const char c = text[at];
            if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c) != first)
                continue;
            std::size_t k = 1;
            for (; k < Needle.size(); ++k) {
                const char d = text[at + k];
                if ((d >= 'a' && d <= 'z' ? static_cast<char>(d - ('a' - 'A')) : d) != Needle[k])
                    break;
            }
            if (k == Needle.size())
                return true;
        }
        return false;
    }
    char folded[FoldedNameSize];
    return std::string_view(folded, Folds.Fold(text, folded)).find(Needle) != std::string_view::npos;
}
