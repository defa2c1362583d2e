#include "text/text_conversion.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

#include <windows.h>

#include "text/utf8_codec.h"
#include "win32/heap_memory.h"

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

namespace {

// The units of text up to end, which is its terminator, written to output without one, room units at most and never
// half a surrogate pair; gives their number. ASCII runs go a word at a time and the common two- and three-byte
// sequences are decoded here; the rest, and every sequence that is not valid, go to the general decoder, whose rules
// decide.
std::size_t convert_utf8(wchar_t* output, std::size_t room, const unsigned char* text,
                         const unsigned char* end) noexcept
{
    wchar_t* out = output;
    wchar_t* const out_end = output + room;
    while (text < end && out < out_end) {
        const unsigned lead = *text;
        if (lead < 0x80) {
            while (end - text >= 4 && out_end - out >= 4) {
                std::uint32_t word;
                std::memcpy(&word, text, sizeof word);
                if ((word & 0x80808080u) != 0)
                    break;
                out[0] = static_cast<wchar_t>(text[0]);
                out[1] = static_cast<wchar_t>(text[1]);
                out[2] = static_cast<wchar_t>(text[2]);
                out[3] = static_cast<wchar_t>(text[3]);
                text += 4;
                out += 4;
            }
            while (text < end && out < out_end && *text < 0x80)
                *out++ = static_cast<wchar_t>(*text++);
            continue;
        }
        // A byte read past a short sequence is at worst the terminator, which is no continuation byte.
        if ((lead & 0xE0) == 0xC0 && (lead & 0x1E) != 0 && (text[1] & 0xC0) == 0x80) {
            *out++ = static_cast<wchar_t>(((lead & 0x1F) << 6) | (text[1] & 0x3F));
            text += 2;
            continue;
        }
        if ((lead & 0xF0) == 0xE0 && (text[1] & 0xC0) == 0x80 && (text[2] & 0xC0) == 0x80) {
            const unsigned high = ((lead & 0x0F) << 6) | (text[1] & 0x3F);
            if (high != 0 || (text[2] & 0x70) != 0) {
                *out++ = static_cast<wchar_t>((high << 6) | (text[2] & 0x3F));
                text += 3;
                continue;
            }
        }
        std::uint32_t code_point;
        const std::size_t consumed = decode_utf8_char(reinterpret_cast<const char*>(text), code_point);
        if (consumed == 0)
            break;
        if (code_point < 0x10000) {
            *out++ = static_cast<wchar_t>(code_point);
        } else if (code_point <= 0x10FFFF) {
            if (out_end - out < 2)
                break;
            *out++ = static_cast<wchar_t>(0xD800 | ((code_point - 0x10000) >> 10));
            *out++ = static_cast<wchar_t>(0xDC00 | (code_point & 0x3FF));
        } else {
            *out++ = L'?';
        }
        text += consumed;
    }
    return static_cast<std::size_t>(out - output);
}

} // namespace

std::size_t utf8_to_wide(wchar_t* output, std::size_t capacity, const char* text) noexcept
{
    if (capacity == 0)
        return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const std::size_t used = convert_utf8(output, capacity - 1, bytes, bytes + std::strlen(text));
    output[used] = L'\0';
    return used;
}

// One pass into a buffer made for the longest result (no byte gives more than one unit: four give two), which then
// keeps what was used.
wide_string utf8_to_wide(const char* text)
{
    const std::size_t length = std::strlen(text);
    wide_string result(length + 1);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const std::size_t used = convert_utf8(result.data(), length, bytes, bytes + length);
    result.data()[used] = L'\0';
    result.keep(used + 1);
    return result;
}

// UTF-16 holds nothing above U+10FFFF, so every unit is one of four cases, each encoded here directly rather than
// through the general encoder, whose sequences run to six bytes. A high surrogate reads the unit after it, which
// is at worst the terminator. One pass into a buffer made for the longest result (three bytes a unit), which then
// keeps what was used.
byte_buffer wide_to_utf8(const wchar_t* text)
{
    const std::size_t length = std::wcslen(text);
    byte_buffer result(heap_size_of(length, 3) + 1);
    auto* output = reinterpret_cast<unsigned char*>(result.data());
    const wchar_t* const end = text + length;
    for (const wchar_t* cursor = text; cursor < end;) {
        // ASCII runs go four units at a time.
        while (end - cursor >= 4 && ((cursor[0] | cursor[1] | cursor[2] | cursor[3]) & 0xFF80) == 0) {
            output[0] = static_cast<unsigned char>(cursor[0]);
            output[1] = static_cast<unsigned char>(cursor[1]);
            output[2] = static_cast<unsigned char>(cursor[2]);
            output[3] = static_cast<unsigned char>(cursor[3]);
            cursor += 4;
            output += 4;
        }
        if (cursor == end)
            break;
        const std::uint32_t unit = static_cast<std::uint16_t>(*cursor++);
        if (unit < 0x80) {
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
    result.keep(static_cast<std::size_t>(output - reinterpret_cast<unsigned char*>(result.data())) + 1);
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
