#include "overlay/overlay_documents.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "text/utf8_codec.h"

namespace velmora {

namespace {

constexpr std::uint32_t replacement_character = 0xFFFD;

// Calls take(code_point, bytes, length) for each character; what is no valid character of Unicode comes as U+FFFD
// for its first byte, the next character starting with the byte after it.
template <typename taker> void for_each_character(std::string_view text, taker take)
{
    static const char replacement[] = "\xEF\xBF\xBD";
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code_point = 0;
        std::size_t length = decode_utf8_char(text.data() + at, text.size() - at, code_point);
        if (text[at] == '\0') {
            take(0, text.data() + at, 1);
            ++at;
            continue;
        }
        const bool valid = length != 0 && code_point <= 0x10FFFF && (code_point < 0xD800 || code_point > 0xDFFF) &&
                           length == encode_utf8_char(code_point, nullptr);
        if (valid)
            take(code_point, text.data() + at, length);
        else {
            take(replacement_character, replacement, 3);
            length = 1;
        }
        at += length;
    }
}

void append_json_string(std::string& out, std::string_view text)
{
    out += '"';
    for_each_character(text, [&out](std::uint32_t code_point, const char* bytes, std::size_t length) {
        if (code_point == '"')
            out += "\\\"";
        else if (code_point == '\\')
            out += "\\\\";
        else if (code_point < 0x20 || code_point == '<' || code_point == '>' || code_point == '&' ||
                 code_point == 0x2028 || code_point == 0x2029) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code_point));
            out += escaped;
        } else
            out.append(bytes, length);
    });
    out += '"';
}

void append_html_text(std::string& out, std::string_view text)
{
    for_each_character(text, [&out](std::uint32_t code_point, const char* bytes, std::size_t length) {
        switch (code_point) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case 0:
            out += "\xEF\xBF\xBD";
            break;
        default:
            out.append(bytes, length);
        }
    });
}

const char* state_name(playback_state state) noexcept
{
    switch (state) {
    case playback_state::playing:
        return "playing";
    case playback_state::paused:
        return "paused";
    case playback_state::stopped:
        break;
    }
    return "stopped";
}

// Seconds with three decimals at most and no trailing zeros; what is no number of seconds stands as 0.
std::string seconds_text(double seconds)
{
    if (!(seconds > 0) || seconds > 1e9)
        return "0";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    std::string out(text);
    out.erase(out.find_last_not_of('0') + 1);
    if (out.back() == '.')
        out.pop_back();
    return out;
}

} // namespace

overlay_snapshot snapshot_at(const overlay_snapshot& snapshot, DWORD now)
{
    overlay_snapshot moved = snapshot;
    if (snapshot.state == playback_state::stopped)
        moved.position = 0;
    else if (snapshot.state == playback_state::playing) {
        moved.position += (now - snapshot.position_reported_at) / 1000.0;
        if (snapshot.length && moved.position > *snapshot.length)
            moved.position = std::max(*snapshot.length, snapshot.position);
    }
    return moved;
}

std::string cover_address(const overlay_cover& cover)
{
    return cover.number == 0 ? std::string() : "/cover/" + std::to_string(cover.number);
}

std::string overlay_json(const overlay_snapshot& snapshot)
{
    std::string out = "{\"state\":\"";
    out += state_name(snapshot.state);
    out += "\",\"position\":" + seconds_text(snapshot.position) + ",\"length\":";
    out += snapshot.length ? seconds_text(*snapshot.length) : "null";
    out += ",\"outputs\":[";
    for (std::size_t index = 0; index < snapshot.texts.size(); ++index) {
        if (index != 0)
            out += ',';
        out += "{\"number\":" + std::to_string(index + 1) + ",\"text\":";
        append_json_string(out, snapshot.texts[index]);
        out += '}';
    }
    out += "],\"cover\":";
    const std::string cover = cover_address(snapshot.cover);
    out += cover.empty() ? "null" : '"' + cover + '"';
    out += '}';
    return out;
}

std::string overlay_page(std::string_view page_template, const overlay_snapshot& snapshot)
{
    constexpr std::string_view marker = "<!--outputs-->";
    const std::size_t at = page_template.find(marker);
    if (at == std::string_view::npos)
        return std::string(page_template);
    std::string out(page_template.substr(0, at));
    for (std::size_t index = 0; index < snapshot.texts.size(); ++index) {
        const std::string number = std::to_string(index + 1);
        out += "<div class=\"output\" id=\"output-" + number + "\">";
        append_html_text(out, snapshot.texts[index]);
        out += "</div>\n";
    }
    out += page_template.substr(at + marker.size());
    return out;
}

} // namespace velmora
