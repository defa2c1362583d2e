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

// Reads one code point of zero-terminated UTF-16, pairing surrogates where they pair. Gives 0 at the end.
std::uint32_t next_code_point(const wchar_t*& text) noexcept
{
    const std::uint32_t unit = static_cast<std::uint16_t>(*text);
    if (unit == 0)
        return 0;
    ++text;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        const std::uint32_t low = static_cast<std::uint16_t>(*text);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++text;
            return (((unit & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
        }
    }
    return unit;
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

byte_buffer wide_to_utf8(const wchar_t* text)
{
    std::size_t bytes = 1;
    for (const wchar_t* cursor = text;;) {
        const auto unit = static_cast<std::uint16_t>(*cursor);
        if (unit - 1u < 0x7Fu) {
            ++bytes;
            ++cursor;
            continue;
        }
        const std::uint32_t code_point = next_code_point(cursor);
        if (code_point == 0)
            break;
        bytes += encode_utf8_char(code_point, nullptr);
    }

    byte_buffer result(bytes);
    char* output = result.data();
    char* const terminator = output + bytes - 1;
    for (const wchar_t* cursor = text; output < terminator;) {
        const auto unit = static_cast<std::uint16_t>(*cursor);
        if (unit - 1u < 0x7Fu) {
            *output++ = static_cast<char>(unit);
            ++cursor;
            continue;
        }
        const std::uint32_t code_point = next_code_point(cursor);
        if (code_point == 0)
            break;
        char encoded[6];
        const std::size_t length = encode_utf8_char(code_point, encoded);
        // Never beyond the counted size: the last byte is always the terminator.
        if (static_cast<std::size_t>(terminator - output) < length)
            break;
        std::memcpy(output, encoded, length);
        output += length;
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
