#pragma once
// Entry records keep their texts in fixed-width zero-terminated char arrays (the width
// includes the terminator). Server texts are UTF-8; one that does not fit is cut at the
// last character boundary that fits, so a stored text is always valid UTF-8 when its
// source was.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Length of the longest prefix of text that fits in maxBytes bytes without splitting a
// UTF-8 character.
std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes);

template <std::size_t N> void CopyFixedText(char (&destination)[N], std::string_view text)
{
    static_assert(N > 0);
    const std::size_t length = Utf8PrefixLength(text, N - 1);
    if (length > 0) // an empty view may hold no pointer, which memcpy must not get
        std::memcpy(destination, text.data(), length);
    destination[length] = '\0';
}

// Between arrays of one width the text always fits: a plain copy, terminated.
template <std::size_t N> void CopyFixedText(char (&destination)[N], const char (&source)[N])
{
    std::memcpy(destination, source, N);
    destination[N - 1] = '\0';
}

// Equal up to the terminator (or the whole width). Compared eight bytes at a time while
// the words agree and hold no terminator: the names compared on every row are short, and
// this takes one or two steps where a library call would cost more than the comparison.
template <std::size_t N> bool SameFixedText(const char (&a)[N], const char (&b)[N])
{
    std::size_t i = 0;
    for (; i + 8 <= N; i += 8) {
        std::uint64_t x = 0, y = 0;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y)
            break;
        // Equal words with a zero byte: both texts end at it, alike up to there.
        if ((x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL)
            return true;
    }
    for (; i < N; ++i) {
        if (a[i] != b[i])
            return false;
        if (a[i] == '\0')
            return true;
    }
    return true;
}

// Up to 8 bytes of a text as a word (its first byte lowest), zero past the text's end,
// reading no byte past it: the words of a text that is a view into a larger buffer.
inline std::uint64_t TextWord(const char* text, std::size_t length)
{
    std::uint64_t word = 0;
    if (length >= 8) {
        std::memcpy(&word, text, 8);
        return word;
    }
    if (length >= 4) { // two overlapping halves
        std::uint32_t low = 0, high = 0;
        std::memcpy(&low, text, 4);
        std::memcpy(&high, text + length - 4, 4);
        return low | (std::uint64_t{high} << (8 * (length - 4)));
    }
    if (length == 0)
        return 0;
    const auto byte = [text](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(text[i])}; };
    return byte(0) | byte(length / 2) << (8 * (length / 2)) | byte(length - 1) << (8 * (length - 1));
}

// Whether a fixed array holds exactly this text, cut as CopyFixedText would cut it.
// Compared a word at a time, without a library call: the names compared on every row
// are short.
template <std::size_t N> bool SameFixedText(const char (&a)[N], std::string_view b)
{
    if (b.size() > N - 1)
        b = b.substr(0, Utf8PrefixLength(b, N - 1));
    const std::size_t length = b.size();
    if (a[length] != '\0')
        return false;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t x = 0, y = 0;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y)
            return false;
    }
    return i == length || TextWord(a + i, length - i) == TextWord(b.data() + i, length - i);
}

// The text's first 16 bytes as two words, zero from its end on; true when it ends within
// them, so that two heads that are alike and end within are alike texts.
inline bool TextHeadWords(std::string_view text, std::uint64_t* head)
{
    const std::size_t length = text.size();
    head[0] = TextWord(text.data(), length < 8 ? length : 8);
    head[1] = length > 8 ? TextWord(text.data() + 8, length < 16 ? length - 8 : 8) : 0;
    return length < 16;
}

// A hash of words (such as TextHeadWords') whose every bit depends on every byte:
// cheap enough for every row, for shortcuts that then compare the texts.
inline std::size_t HashWords(const std::uint64_t* words, std::size_t count)
{
    std::uint64_t hash = 0;
    for (std::size_t i = 0; i < count; ++i)
        hash = std::rotl((hash ^ words[i]) * 0x9E3779B97F4A7C15ULL, 27);
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDULL;
    hash ^= hash >> 33;
    hash *= 0xC4CEB9FE1A85EC53ULL;
    hash ^= hash >> 33;
    return static_cast<std::size_t>(hash);
}

// The text stored in a fixed array (up to its terminator, never past the array).
template <std::size_t N> std::string_view FixedText(const char (&source)[N])
{
    return std::string_view(source, strnlen(source, N));
}
