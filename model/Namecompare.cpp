#include "model/Namecompare.h"

#include "model/Fixedtext.h"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/stringpiece.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr std::size_t Room = FoldedNameSize - 1;

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

std::size_t FoldUnicode(std::string_view name, char* folded)
{
    // The sink keeps a few bytes more than fit, so that the cut can find the last
    // character boundary; it drops the rest of a longer result.
    char buffer[Room + 4];
    icu::CheckedArrayByteSink sink(buffer, static_cast<int32_t>(sizeof buffer));
    UErrorCode status = U_ZERO_ERROR;
    const auto size = static_cast<int32_t>(std::min<std::size_t>(name.size(), INT32_MAX));
    icu::CaseMap::utf8Fold(U_FOLD_CASE_DEFAULT, icu::StringPiece(name.data(), size), sink, nullptr, status);
    std::string_view result(buffer, static_cast<std::size_t>(sink.NumberOfBytesWritten()));
    if (U_FAILURE(status))
        result = name; // ICU refuses only what it cannot represent; keep the bytes
    const std::size_t length = Utf8PrefixLength(result, Room);
    std::transform(result.begin(), result.begin() + static_cast<std::ptrdiff_t>(length), folded, AsciiUpper);
    folded[length] = '\0';
    return length;
}

std::size_t CopyFolded(const std::string& known, char* folded)
{
    std::memcpy(folded, known.c_str(), known.size() + 1);
    return known.size();
}

} // namespace

std::size_t FoldName(std::string_view name, char* folded)
{
    const std::size_t length = TNameFolder::FoldAsciiName(name, folded);
    return length != TNameFolder::NotAscii ? length : FoldUnicode(name, folded);
}

std::size_t TNameFolder::FoldOtherName(std::string_view name, char* folded)
{
    if (const auto known = Current.find(name); known != Current.end())
        return CopyFolded(known->second, folded);
    const auto earlier = Previous.find(name);
    const std::size_t length =
        earlier != Previous.end() ? CopyFolded(earlier->second, folded) : FoldUnicode(name, folded);
    try {
        Current.emplace(std::string(name), std::string(folded, length));
    } catch (const std::bad_alloc&) {
        // Not remembered: the next row with this name folds it again.
    }
    return length;
}

void TNameFolder::NextRefresh()
{
    Previous.clear();
    std::swap(Previous, Current);
}

int CompareNames(std::string_view a, std::string_view b)
{
    return CompareFoldedNames(TFoldedName(a).Folded(), TFoldedName(b).Folded());
}

bool SameName(std::string_view a, std::string_view b)
{
    return CompareNames(a, b) == 0;
}

int CompareDistinctNames(std::string_view a, std::string_view b)
{
    if (const int folded = CompareNames(a, b); folded != 0)
        return folded;
    const int exact = a.compare(b);
    return (exact > 0) - (exact < 0);
}
