#include "model/Celltext.h"

#include <algorithm>
#include <charconv>

TCellText TCellText::Decimal(int64_t value)
{
    TCellText cell;
    cell.AppendDecimal(value);
    return cell;
}

TCellText TCellText::Counter(int64_t value, int64_t change)
{
    TCellText cell;
    cell.AppendDecimal(value);
    cell.Append(" (");
    cell.AppendDecimal(change);
    cell.Append(")");
    return cell;
}

void TCellText::Append(std::string_view text)
{
    std::copy(text.begin(), text.end(), Text + Length);
    Length += static_cast<int>(text.size());
}

void TCellText::AppendDecimal(int64_t value)
{
    // 20 characters hold any int64; two of them and " ()" fit in Text.
    Length = static_cast<int>(std::to_chars(Text + Length, Text + sizeof Text, value).ptr - Text);
}

namespace {

unsigned char FoldCase(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - ('a' - 'A')) : byte;
}

} // namespace

int CompareTextNoCase(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = FoldCase(a[i]);
        const unsigned char y = FoldCase(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

int CompareTextNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        const unsigned char x = FoldCase(*a);
        const unsigned char y = FoldCase(*b);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
}

bool SameTextNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && CompareTextNoCase(a, b) == 0;
}

TNtLoginName::TNtLoginName(std::string_view domain, std::string_view user)
{
    // Both parts come from 132-byte fields, so the name always fits.
    const auto append = [this](std::string_view text) {
        const std::size_t room = sizeof Text - static_cast<std::size_t>(Length);
        const std::size_t n = std::min(text.size(), room);
        std::copy_n(text.data(), n, Text + Length);
        Length += static_cast<int>(n);
    };
    if (!domain.empty()) {
        append(domain);
        append("\\");
    }
    append(user);
}
