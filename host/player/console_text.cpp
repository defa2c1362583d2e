#include "host/player/console_text.h"

#include <cstdint>
#include <cstdio>

#include <windows.h>

#include "text/utf8_codec.h"

namespace stand_in {

namespace {

std::string byte_escape(unsigned char byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

// A code point of the text, with control characters escaped.
void append_code_point(std::string& shown, std::uint32_t code_point)
{
    if (code_point == '\r') {
        shown += "\\r";
    } else if (code_point == '\n') {
        shown += "\\n";
    } else if (code_point < 0x20 || code_point == 0x7F) {
        shown += byte_escape(static_cast<unsigned char>(code_point));
    } else {
        char bytes[6];
        shown.append(bytes, velmora::encode_utf8_char(code_point, bytes));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. A byte that starts no valid sequence is
// escaped and decoding goes on after it.
std::string from_utf8(const std::string& bytes, std::size_t start)
{
    std::string shown;
    for (std::size_t index = start; index < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[index]);
        std::size_t length = 0;
        std::uint32_t code_point = 0, least = 0;
        if (lead < 0x80) {
            length = 1;
            code_point = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code_point = lead & 0x1F;
            least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code_point = lead & 0x0F;
            least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code_point = lead & 0x07;
            least = 0x10000;
        }
        bool valid = length != 0 && index + length <= bytes.size();
        for (std::size_t next = 1; valid && next < length; ++next) {
            const auto byte = static_cast<unsigned char>(bytes[index + next]);
            valid = (byte & 0xC0) == 0x80;
            code_point = (code_point << 6) | (byte & 0x3F);
        }
        valid = valid && code_point >= least && code_point <= 0x10FFFF && (code_point < 0xD800 || code_point > 0xDFFF);
        if (!valid) {
            shown += byte_escape(lead);
            ++index;
            continue;
        }
        append_code_point(shown, code_point);
        index += length;
    }
    return shown;
}

// UTF-16 LE. Every text of a log starts with the byte-order mark, so each one is left out.
std::string from_utf16(const std::string& bytes)
{
    std::string shown;
    const std::size_t units = bytes.size() / 2;
    const auto unit_at = [&bytes](std::size_t index) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * index]) |
                                          static_cast<unsigned char>(bytes[2 * index + 1]) << 8);
    };
    for (std::size_t index = 0; index < units; ++index) {
        const std::uint32_t unit = unit_at(index);
        if (unit == 0xFEFF)
            continue;
        if (unit >= 0xD800 && unit <= 0xDBFF && index + 1 < units && unit_at(index + 1) >= 0xDC00 &&
            unit_at(index + 1) <= 0xDFFF) {
            append_code_point(shown, 0x10000 + ((unit - 0xD800) << 10) + (unit_at(++index) - 0xDC00));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            shown += escape;
        } else {
            append_code_point(shown, unit);
        }
    }
    if (bytes.size() % 2 != 0)
        shown += byte_escape(static_cast<unsigned char>(bytes.back()));
    return shown;
}

// The system's ANSI code page, a byte at a time, which suits the single-byte code pages; bytes the code page
// leaves undefined are escaped.
std::string from_ansi(const std::string& bytes)
{
    std::string shown;
    for (const char byte : bytes) {
        wchar_t unit = 0;
        if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, &unit, 1) != 1)
            shown += byte_escape(static_cast<unsigned char>(byte));
        else
            append_code_point(shown, unit);
    }
    return shown;
}

} // namespace

std::string console_text(const std::string& bytes, int encoding)
{
    switch (encoding) {
    case 1:
        return from_utf8(bytes, bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
    case 2:
        return from_utf16(bytes);
    case 3:
        return from_ansi(bytes);
    default:
        return from_utf8(bytes, 0);
    }
}

} // namespace stand_in
