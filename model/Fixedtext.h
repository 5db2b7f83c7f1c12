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

// The text's first 16 bytes as two words, its bytes from the terminator on zero (what a
// reused array holds behind its text does not count). True when the text ends within
// them, so that two heads that are alike and end within are alike texts.
template <std::size_t N> bool FixedTextHead(const char (&text)[N], std::uint64_t* head)
{
    static_assert(N >= 16);
    for (std::size_t i = 0; i < 2; ++i) {
        std::uint64_t word = 0;
        std::memcpy(&word, text + 8 * i, 8);
        // The lowest flagged byte is the first zero byte (flags above it may be false).
        const std::uint64_t zeros = (word - 0x0101010101010101ULL) & ~word & 0x8080808080808080ULL;
        if (zeros) {
            const int bytes = std::countr_zero(zeros) / 8; // before the terminator
            head[i] = bytes == 0 ? 0 : word & (~std::uint64_t{0} >> (64 - 8 * bytes));
            if (i == 0)
                head[1] = 0;
            return true;
        }
        head[i] = word;
    }
    return false;
}

// A hash of words (such as FixedTextHead's) whose every bit depends on every byte:
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
