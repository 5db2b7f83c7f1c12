#include "model/Fixedtext.h"

std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text.size();
    // text[length] is the first byte left out; while it continues a character, that
    // character started inside the prefix and must go too.
    std::size_t length = maxBytes;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return length;
}
