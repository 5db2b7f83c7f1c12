#pragma once
// Texts the fills write into grid cells.

#include <cstdint>
#include <string_view>

// A short cell text built without allocating: a decimal number or a counter cell.
class TCellText
{
public:
    operator std::string_view() const { return std::string_view(Text, Length); }

    static TCellText Decimal(int64_t value);
    // "value (change)": a counter and its change since the previous refresh.
    static TCellText Counter(int64_t value, int64_t change);

private:
    void Append(std::string_view text);
    void AppendDecimal(int64_t value);

    char Text[48];
    int Length = 0;
};

// The "NT Login Name" of a user: domain\user when there is a domain, the user name
// alone when there is none (empty when both are). The user summary shows it and the
// user's process list matches it, so both must build it the same way.
class TNtLoginName
{
public:
    TNtLoginName(std::string_view domain, std::string_view user);
    operator std::string_view() const { return std::string_view(Text, Length); }

private:
    char Text[264];
    int Length = 0;
};
