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
