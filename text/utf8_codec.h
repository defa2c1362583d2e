#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

// Decodes one sequence from at most `available` bytes. Gives the number of bytes consumed, 0 at a zero byte, at
// the end of the bytes or at an invalid sequence. Sequences of 5 and 6 bytes and encoded surrogates are accepted;
// overlong forms are refused only where a C0/C1 lead or an all-zero first payload shows them.
inline std::size_t decode_utf8_char(const char* text, std::size_t available, std::uint32_t& code_point) noexcept
{
    code_point = 0;
    if (available == 0)
        return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const unsigned lead = bytes[0];
    if (lead < 0x80) {
        code_point = lead;
        return lead != 0 ? 1 : 0;
    }
    std::size_t count;
    if ((lead & 0xE0) == 0xC0)
        count = 2;
    else if ((lead & 0xF0) == 0xE0)
        count = 3;
    else if ((lead & 0xF8) == 0xF0)
        count = 4;
    else if ((lead & 0xFC) == 0xF8)
        count = 5;
    else if ((lead & 0xFE) == 0xFC)
        count = 6;
    else
        return 0;
    if (count > available)
        return 0;
    if (count == 2 && (lead & 0x1E) == 0)
        return 0;
    std::uint32_t value = lead & (0xFFu >> (count + 1));
    for (std::size_t index = 1; index < count; ++index) {
        const unsigned next = bytes[index];
        if ((next & 0xC0) != 0x80)
            return 0;
        if (index == 2 && value == 0 && ((next & 0x7F) >> (7 - count)) == 0)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    code_point = value;
    return count;
}

// For zero-terminated text: a sequence never reads past the zero byte, which is no continuation byte.
inline std::size_t decode_utf8_char(const char* text, std::uint32_t& code_point) noexcept
{
    return decode_utf8_char(text, 6, code_point);
}

// Gives the length of the code point's sequence (1 to 6, 0 above 0x7FFFFFFF) and writes it when output, which
// must then hold 6 bytes, is not null.
inline std::size_t encode_utf8_char(std::uint32_t code_point, char* output) noexcept
{
    std::size_t count;
    unsigned prefix;
    if (code_point < 0x80) {
        count = 1;
        prefix = 0;
    } else if (code_point < 0x800) {
        count = 2;
        prefix = 0xC0;
    } else if (code_point < 0x10000) {
        count = 3;
        prefix = 0xE0;
    } else if (code_point < 0x200000) {
        count = 4;
        prefix = 0xF0;
    } else if (code_point < 0x4000000) {
        count = 5;
        prefix = 0xF8;
    } else if (code_point <= 0x7FFFFFFF) {
        count = 6;
        prefix = 0xFC;
    } else {
        return 0;
    }
    if (output != nullptr) {
        for (std::size_t index = count - 1; index > 0; --index) {
            output[index] = static_cast<char>(0x80 | (code_point & 0x3F));
            code_point >>= 6;
        }
        output[0] = static_cast<char>(prefix | code_point);
    }
    return count;
}

} // namespace velmora
