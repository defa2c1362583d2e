#include "events/now_playing_request.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "events/output_request.h"
#include "formatting/text_formatting.h"
#include "output/cover_thread.h"
#include "overlay/overlay_server.h"
#include "settings/component_settings.h"

namespace velmora {

namespace {
// Main thread only, like the writes they follow.
now_playing_listener listener_after_queueing = nullptr;
output_set delayed_requested = 0;
output_set delayed_last = 0;
// The cover art last asked for, so that an event that changes nothing asks nothing; its strings keep their blocks.
cover_request last_cover_request;
bool cover_requested = false;

constexpr const char* state_script = "$if(%isplaying%,$if(%ispaused%,paused,playing),stopped)";
constexpr const char* location_script = "$if(%isplaying%,%path%)";

// What the first text of an event carries: the state, and the location for the request_cover_art after it, with
// whether the location was asked for and came: an event's texts may be formatted later (the delay) or not at all.
rider event_riders[2] = {{state_script, {}}, {location_script, {}}};
bool location_wanted = false;
bool location_carried = false;

// A configured path with its expansion, made again only when the setting changes: expanding takes the host and the
// system microseconds that every new track would pay. An environment variable changed while the player runs is seen
// once the setting changes or the player restarts.
class expanded_path {
public:
    const std::wstring& of(const std::string& configured)
    {
        if (!made_ || configured != configured_) {
            full_ = configured.empty() ? std::wstring() : expanded_full_path(configured.c_str());
            configured_ = configured;
            made_ = true;
            ++changes_;
        }
        return full_;
    }
    // How many times the expansion was made, so that a caller sees a change without comparing paths.
    std::uint32_t changes() const noexcept { return changes_; }

private:
    std::string configured_;
    std::wstring full_;
    bool made_ = false;
    std::uint32_t changes_ = 0;
};
expanded_path cover_file, placeholder_file;
// The expansions' changes that last_cover_request holds.
std::uint32_t cover_path_changes = 0, placeholder_changes = 0;

playback_state state_named(std::string_view name)
{
    return name == "playing"  ? playback_state::playing
           : name == "paused" ? playback_state::paused
                              : playback_state::stopped;
}

bool cover_art_wanted()
{
    return !cover_settings.cover_path().empty() || overlay_port_requested() != 0;
}

} // namespace

playback_state playback_state_now()
{
    utf8_string state;
    format_now_playing(state_script, state);
    return state_named(state.view());
}

void refresh_overlay_state()
{
    if (overlay.enabled())
        set_overlay_state(playback_state_now());
}

namespace {

// A number of seconds as the host writes one, digits with a decimal part or not; none for anything else, and for 0.
std::optional<double> seconds_in(std::string_view text)
{
    double seconds = 0, scale = 1;
    bool digits = false, after_point = false;
    for (const char letter : text) {
        if (letter == '.' && !after_point) {
            after_point = true;
        } else if (letter >= '0' && letter <= '9') {
            digits = true;
            if (after_point)
                seconds += (letter - '0') * (scale /= 10);
            else
                seconds = seconds * 10 + (letter - '0');
        } else {
            return std::nullopt;
        }
    }
    if (!digits || !(seconds > 0) || seconds > 1e9)
        return std::nullopt;
    return seconds;
}

} // namespace

void refresh_overlay_track(bool from_start)
{
    if (overlay_port_requested() == 0)
        return;
    utf8_string length;
    format_now_playing("$if(%isplaying%,%length_seconds%)", length);
    set_overlay_track(seconds_in(length.view()), from_start);
}

void refresh_overlay_position(double seconds)
{
    if (overlay_port_requested() != 0)
        set_overlay_position(seconds);
}

void carry_location_with_texts()
{
    location_wanted = cover_art_wanted();
    location_carried = false;
}

void request_cover_art(bool playing_ends)
{
    deliver_cover_lines();
    const bool carried = std::exchange(location_carried, false);
    location_wanted = false;
    if (!cover_art_wanted())
        return;
    set_cover_listener(set_overlay_cover);
    std::string_view location;
    utf8_string formatted;
    if (carried && !playing_ends) {
        location = event_riders[1].value;
    } else if (!playing_ends) {
        format_now_playing(location_script, formatted);
        location = formatted.view();
    }
    const std::wstring& cover_path = cover_file.of(cover_settings.cover_path());
    const std::wstring& placeholder_path = placeholder_file.of(cover_settings.placeholder());
    // Nothing plays: the overlay shows no art at once, before the server may end at shut-down.
    if (location.empty())
        set_overlay_cover(std::nullopt);
    cover_request& last = last_cover_request;
    const bool same_paths =
        cover_file.changes() == cover_path_changes && placeholder_file.changes() == placeholder_changes;
    if (cover_requested && same_paths && location == last.track_location)
        return;
    cover_requested = false;
    last.track_location.assign(location);
    if (!same_paths) {
        last.cover_path = cover_path;
        last.placeholder_path = placeholder_path;
        // Never 0, which asks for the paths to be copied whatever they were.
        last.paths_version = last.paths_version == UINT32_MAX ? 1 : last.paths_version + 1;
        cover_path_changes = cover_file.changes();
        placeholder_changes = placeholder_file.changes();
    }
    request_cover(last);
    cover_requested = true;
}

void end_cover_art(DWORD limit_ms)
{
    finish_cover_at_shutdown(limit_ms);
    cover_requested = false;
    deliver_cover_lines();
}

void queue_outputs(output_set outputs)
{
    // The overlay shows every output's text at its last write, whether or not it has a file, with the state the
    // host reported as the texts were made: the state asked only while it is served (a server that starts asks
    // itself). The first text formatted carries the state and the location with it, sparing a formatting each.
    const bool state_wanted = overlay.enabled();
    playback_state state = overlay_served().state;
    bool first = true;
    const auto format_output = [&](const char* script, utf8_string& text) {
        if (!std::exchange(first, false) || (!state_wanted && !location_wanted)) {
            format_now_playing(script, text);
            return;
        }
        const std::size_t count = state_wanted && location_wanted ? 2 : 1;
        format_now_playing(script, text, state_wanted ? event_riders : event_riders + 1, count);
        if (state_wanted)
            state = state_named(event_riders[0].value);
        location_carried = location_wanted;
    };
    const std::vector<output_settings>& added = added_outputs.outputs();
    if ((outputs & 1) != 0) {
        utf8_string text;
        format_output(now_playing_script.text(), text);
        set_overlay_text(0, text.view(), added.size() + 1, state);
        queue_output(text);
    }
    for (std::size_t index = 0; index < added.size(); ++index) {
        if ((outputs >> (index + 1) & 1) == 0)
            continue;
        utf8_string text;
        format_output(added[index].script.c_str(), text);
        set_overlay_text(index + 1, text.view(), added.size() + 1, state);
        queue_output(text, added_output_target(added[index]));
    }
}

namespace {

// The set without the bit of the output removed, the bits above it moved down one.
output_set without_output(output_set outputs, std::size_t index) noexcept
{
    if (index >= 32)
        return outputs;
    const output_set below = outputs & ((output_set{1} << index) - 1);
    const output_set above = index + 1 < 32 ? outputs >> (index + 1) << index : 0;
    return below | above;
}

} // namespace

void on_output_removed(std::size_t index)
{
    delayed_requested = without_output(delayed_requested, index);
    delayed_last = without_output(delayed_last, index);
    remove_overlay_output(index);
}

void on_output_added()
{
    add_overlay_output(added_outputs.outputs().size() + 1);
}

void queue_now_playing(output_set outputs)
{
    queue_outputs(outputs);
    if (listener_after_queueing != nullptr)
        listener_after_queueing();
}

void add_delayed_outputs(output_set outputs) noexcept
{
    delayed_requested |= outputs;
}

output_set take_delayed_outputs() noexcept
{
    if (delayed_requested != 0)
        delayed_last = std::exchange(delayed_requested, 0);
    return delayed_last;
}

void set_now_playing_listener(now_playing_listener listener) noexcept
{
    listener_after_queueing = listener;
}

} // namespace velmora
