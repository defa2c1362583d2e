#include "text/text_conversion.h"

#include <cstdint>
#include <cstring>

#include <windows.h>

#include "text/utf8_codec.h"

namespace velmora {

namespace {

bool is_ascii(unsigned char byte) noexcept
{
    return byte - 1u < 0x7Fu;
}

bool needs_surrogate_pair(std::uint32_t code_point) noexcept
{
    return code_point >= 0x10000 && code_point <= 0x10FFFF;
}

bool is_high_surrogate(std::uint32_t unit) noexcept
{
    return unit - 0xD800u < 0x400u;
}

bool is_low_surrogate(std::uint32_t unit) noexcept
{
    return unit - 0xDC00u < 0x400u;
}

} // namespace

std::size_t utf8_to_wide_units(const char* text) noexcept
{
    std::size_t units = 1;
    for (;;) {
        if (is_ascii(static_cast<unsigned char>(*text))) {
            ++units;
            ++text;
            continue;
        }
        std::uint32_t code_point;
        const std::size_t consumed = decode_utf8_char(text, code_point);
        if (consumed == 0)
            return units;
        units += needs_surrogate_pair(code_point) ? 2 : 1;
        text += consumed;
    }
}

std::size_t utf8_to_wide(wchar_t* output, std::size_t capacity, const char* text) noexcept
{
    if (capacity == 0)
        return 0;
    const std::size_t last = capacity - 1;
    std::size_t used = 0;
    while (used < last) {
        const auto byte = static_cast<unsigned char>(*text);
        if (is_ascii(byte)) {
            output[used++] = static_cast<wchar_t>(byte);
            ++text;
            continue;
        }
        std::uint32_t code_point;
        const std::size_t consumed = decode_utf8_char(text, code_point);
        if (consumed == 0)
            break;
        if (code_point < 0x10000) {
            output[used++] = static_cast<wchar_t>(code_point);
        } else if (code_point <= 0x10FFFF) {
            if (last - used < 2)
                break;
            output[used++] = static_cast<wchar_t>(0xD800 | ((code_point - 0x10000) >> 10));
            output[used++] = static_cast<wchar_t>(0xDC00 | (code_point & 0x3FF));
        } else {
            output[used++] = L'?';
        }
        text += consumed;
    }
    output[used] = L'\0';
    return used;
}

wide_string utf8_to_wide(const char* text)
{
    wide_string result(utf8_to_wide_units(text));
    utf8_to_wide(result.data(), result.size(), text);
    return result;
}

// UTF-16 holds nothing above U+10FFFF, so every unit is one of four cases, each encoded here directly rather than
// through the general encoder, whose sequences run to six bytes. A high surrogate reads the unit after it, which
// is at worst the terminator.
byte_buffer wide_to_utf8(const wchar_t* text)
{
    std::size_t bytes = 1;
    for (const wchar_t* cursor = text;;) {
        const std::uint32_t unit = static_cast<std::uint16_t>(*cursor++);
        if (unit < 0x80) {
            if (unit == 0)
                break;
            ++bytes;
        } else if (unit < 0x800) {
            bytes += 2;
        } else if (is_high_surrogate(unit) && is_low_surrogate(static_cast<std::uint16_t>(*cursor))) {
            bytes += 4;
            ++cursor;
        } else {
            bytes += 3;
        }
    }

    byte_buffer result(bytes);
    auto* output = reinterpret_cast<unsigned char*>(result.data());
    for (const wchar_t* cursor = text;;) {
        const std::uint32_t unit = static_cast<std::uint16_t>(*cursor++);
        if (unit < 0x80) {
            if (unit == 0)
                break;
            *output++ = static_cast<unsigned char>(unit);
        } else if (unit < 0x800) {
            output[0] = static_cast<unsigned char>(0xC0 | (unit >> 6));
            output[1] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
            output += 2;
        } else if (is_high_surrogate(unit) && is_low_surrogate(static_cast<std::uint16_t>(*cursor))) {
            const std::uint32_t code_point = (((unit & 0x3FF) << 10) | (*cursor++ & 0x3FF)) + 0x10000;
            output[0] = static_cast<unsigned char>(0xF0 | (code_point >> 18));
            output[1] = static_cast<unsigned char>(0x80 | ((code_point >> 12) & 0x3F));
            output[2] = static_cast<unsigned char>(0x80 | ((code_point >> 6) & 0x3F));
            output[3] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
            output += 4;
        } else {
            output[0] = static_cast<unsigned char>(0xE0 | (unit >> 12));
            output[1] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
            output[2] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
            output += 3;
        }
    }
    *output = '\0';
    return result;
}

byte_buffer utf8_to_ansi(const char* text)
{
    const wide_string wide = utf8_to_wide(text);
    const int wide_length = static_cast<int>(wide.size() - 1);
    int ansi_length = 0;
    if (wide_length > 0)
        ansi_length = WideCharToMultiByte(CP_ACP, 0, wide.text(), wide_length, nullptr, 0, nullptr, nullptr);
    if (ansi_length < 0)
        ansi_length = 0;

    byte_buffer result(static_cast<std::size_t>(ansi_length) + 1);
    std::memset(result.data(), 0, result.size());
    if (ansi_length > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.text(), -1, result.data(), ansi_length + 1, nullptr, nullptr);
    result.data()[ansi_length] = '\0';
    return result;
}

} // namespace velmora
