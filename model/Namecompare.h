#pragma once
// The one order of the names the model keys and filters by: logins, hosts, NT login
// names, network addresses and databases. Letter case is ignored for all of Unicode
// (full case folding: "MÜLLER" and "müller" are one name, so are "STRASSE" and
// "straße"), and folded names compare byte by byte, which is code point order.
//
// ASCII letters fold to upper case rather than lower, so ASCII names keep the order
// the lists have always had ("A_B" after "AB", "_" after the letters); every other
// character takes Unicode's case folding.
//
// The user summary's order, the database summary's order, the process lists' filters
// and a view's search for the row it had selected all compare through
// CompareFoldedNames, so they never disagree about where a name belongs.

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

// Room for a folded name, terminator included: as wide as the record's name fields. A
// folded name that does not fit (folding can lengthen a text) is cut at the last
// character boundary that fits, so names alike in their first 131 folded bytes are one.
constexpr std::size_t FoldedNameSize = 132;

// Writes the folded form of name, terminated, to folded, which has room for
// FoldedNameSize bytes; returns its length. Bytes that are not UTF-8 are kept as they are.
std::size_t FoldName(std::string_view name, char* folded);

// A name folded once, to be compared many times.
class TFoldedName
{
public:
    explicit TFoldedName(std::string_view name) : Length(FoldName(name, Text)) {}

    std::string_view Folded() const { return {Text, Length}; }

private:
    char Text[FoldedNameSize];
    std::size_t Length;
};

// Folds names as FoldName does, remembering the folded forms of names outside ASCII:
// ICU takes about a tenth of a microsecond for each, and a server's rows bring the same
// names refresh after refresh. The names of the current and of the previous refresh
// are kept; older ones are forgotten at NextRefresh.
class TNameFolder
{
public:
    std::size_t Fold(std::string_view name, char* folded)
    {
        const std::size_t length = FoldAsciiName(name, folded);
        return length != NotAscii ? length : FoldOtherName(name, folded);
    }
    void NextRefresh();

    // FoldName for a name of ASCII characters, up to the cut; NotAscii for any other.
    // Inline, as the model folds every name of every row and nearly all are ASCII.
    static constexpr std::size_t NotAscii = static_cast<std::size_t>(-1);
    static std::size_t FoldAsciiName(std::string_view name, char* folded)
    {
        // Two plain passes over the bytes, which the compiler turns into vector code.
        const std::size_t length = name.size() < FoldedNameSize ? name.size() : FoldedNameSize - 1;
        unsigned char high = 0;
        for (std::size_t i = 0; i < length; ++i)
            high |= static_cast<unsigned char>(name[i]);
        if (high >= 0x80)
            return NotAscii;
        for (std::size_t i = 0; i < length; ++i) {
            const char c = name[i];
            folded[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
        }
        folded[length] = '\0';
        return length;
    }

private:
    std::size_t FoldOtherName(std::string_view name, char* folded);

    struct TextHash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    using TFolds = std::unordered_map<std::string, std::string, TextHash, std::equal_to<>>;

    TFolds Current;
    TFolds Previous;
};

// Compares two folded names byte by byte (code point order), a prefix first: < 0, 0,
// > 0. Folded names joined by NUL, which sorts below every character, compare name by
// name. The same order for terminated names, where they are kept so.
inline int CompareFoldedNames(std::string_view a, std::string_view b)
{
    // Characters compare as unsigned char: UTF-8 byte order is code point order.
    const int result = a.compare(b);
    return (result > 0) - (result < 0);
}
inline int CompareFoldedNames(const char* a, const char* b)
{
    const int result = std::strcmp(a, b);
    return (result > 0) - (result < 0);
}

// Compares two names in the model's order: < 0, 0, > 0; 0 when they fold alike.
int CompareNames(std::string_view a, std::string_view b);
bool SameName(std::string_view a, std::string_view b);

// The order of names that stay apart even when they fold alike (the databases of a
// case-sensitive server may be Sales and SALES): CompareNames, ties broken bytewise.
// The database summary is in this order, and a view looking for a remembered database
// searches with it.
int CompareDistinctNames(std::string_view a, std::string_view b);
