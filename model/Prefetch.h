#pragma once
// Asking for cache lines before they are read: for walks the hardware cannot foresee,
// such as entries far larger than the few bytes read of each.

#include <cstddef>
#include <cstdint>

// The lines that hold bytes [from, from + size); ForWrite when they are about to be
// written, so they come without a second trip to be made writable.
template <bool ForWrite = false> void Prefetch(const void* from, std::size_t size)
{
    constexpr std::uintptr_t Line = 64;
    const auto start = reinterpret_cast<std::uintptr_t>(from);
    for (std::uintptr_t line = start & ~(Line - 1); line < start + size; line += Line)
        __builtin_prefetch(reinterpret_cast<const void*>(line), ForWrite ? 1 : 0);
}
