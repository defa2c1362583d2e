#include "formatting/text_formatting.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "boundary/host_services.h"
#include "formatting/track_location.h"

namespace velmora {

namespace {

constexpr std::string_view volume_field = "%volume%";
constexpr std::string_view datetime_field = "%datetime%";
constexpr std::int32_t display_level = 3;
constexpr std::size_t volume_text_limit = 63;

// Replaces every occurrence of field, left to right; make_replacement runs once, and only if the field occurs.
template <typename replacement_maker>
void substitute_field(utf8_string& text, std::string_view field, replacement_maker make_replacement)
{
    std::size_t position = text.view().find(field);
    if (position == std::string_view::npos)
        return;
    const utf8_string replacement = make_replacement();
    while (position != std::string_view::npos) {
        text.erase(position, field.size());
        text.insert(position, replacement.c_str(), replacement.size());
        position = text.view().find(field, position);
    }
}

SYSTEMTIME read_local_time()
{
    SYSTEMTIME universal;
    GetSystemTime(&universal);
    SYSTEMTIME local;
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return universal;
    return local;
}

// Whether the host gave a script that can be evaluated.
bool compile(const char* script, service_ptr<kestrune::title_format_script>& compiled)
{
    const auto compiler = lookup_service<kestrune::title_format_compiler>(kestrune::title_format_compiler_guid);
    return compiler->compile_script(compiled.out(), script) && compiled;
}

service_ptr<kestrune::track_handle> playing_or_empty_track(kestrune::playback_control& control)
{
    service_ptr<kestrune::track_handle> track;
    if (control.query_playing_track(track.out()) && track)
        return track;
    track.reset();
    track_location empty_location;
    const auto factory = lookup_service<kestrune::track_handle_factory>(kestrune::track_handle_factory_guid);
    factory->make_handle(track.out(), &empty_location);
    return track;
}

} // namespace

utf8_string volume_text(double volume)
{
    std::string text;
    if (volume < 0) {
        text = "-";
        volume = -volume;
    }
    // Beyond the 64-bit range (and for NaN) the count saturates rather than overflowing the conversion.
    const double hundredths = std::floor(volume * 100 + 0.5);
    std::int64_t count = 0;
    if (hundredths >= 9.2e18)
        count = INT64_MAX;
    else if (hundredths >= 0)
        count = static_cast<std::int64_t>(hundredths);
    std::string digits = std::to_string(count);
    if (digits.size() > 2)
        digits.insert(digits.size() - 2, ".");
    else
        digits = "0." + std::string(2 - digits.size(), '0') + digits;
    text += digits;
    return utf8_string(text.c_str(), volume_text_limit);
}

utf8_string datetime_text(const SYSTEMTIME& local_time)
{
    static const char* const weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[32];
    std::snprintf(text, sizeof text, "%s %s %02u %02u:%02u:%02u %04u", weekdays[local_time.wDayOfWeek % 7],
                  months[(local_time.wMonth + 11) % 12], local_time.wDay, local_time.wHour, local_time.wMinute,
                  local_time.wSecond, local_time.wYear);
    return utf8_string(text);
}

void substitute_volume_field(kestrune::playback_control& control, utf8_string& text)
{
    substitute_field(text, volume_field, [&control] { return volume_text(control.query_volume()); });
}

void substitute_datetime_field(utf8_string& text, local_clock clock)
{
    substitute_field(text, datetime_field, [clock] { return datetime_text(clock()); });
}

void substitute_datetime_field(utf8_string& text)
{
    substitute_datetime_field(text, read_local_time);
}

namespace {

// The script with the component's own fields in place: working holds it when the script held one of them, else the
// script goes to the host as it stands, without a copy.
const char* with_own_fields(kestrune::playback_control& control, const char* script, utf8_string& working)
{
    const std::string_view given(script);
    if (given.find(volume_field) == std::string_view::npos && given.find(datetime_field) == std::string_view::npos)
        return script;
    working = utf8_string(script);
    substitute_volume_field(control, working);
    substitute_datetime_field(working);
    return working.c_str();
}

bool format_prepared(kestrune::playback_control& control, const char* script, kestrune::utf8_string& out)
{
    service_ptr<kestrune::title_format_script> compiled;
    if (!compile(script, compiled))
        return false;

    const service_ptr<kestrune::track_handle> track = playing_or_empty_track(control);
    if (!track)
        return control.format_with_playback(nullptr, &out, compiled.get(), nullptr, display_level);
    service_ptr<kestrune::track_handle> playing_now;
    if (control.query_playing_track(playing_now.out()) && playing_now.get() == track.get())
        return control.format_with_playback(nullptr, &out, compiled.get(), nullptr, display_level);
    track->format_track(nullptr, &out, compiled.get(), nullptr);
    return true;
}

// Riders follow the text, each behind this unit separator.
constexpr char rider_separator = '\x1F';

// Main thread. What is known of a script with a set of riders: whether they can follow it, and the script with them
// after it, kept so that a formatting neither composes nor allocates it. Few scripts are in use.
struct ridden_script {
    std::string script;
    const char* rider_scripts[max_riders];
    std::size_t count;
    std::string with_riders;
    bool rides;
};
std::vector<ridden_script> ridden_scripts;
constexpr std::size_t ridden_scripts_kept = 16;
// What a script with riders gives, kept for the same reason; and for scripts whose own fields make each different.
doubling_utf8_string text_with_riders;
std::string composed;

const ridden_script* known_script(const char* script, const rider* riders, std::size_t count)
{
    for (const ridden_script& known : ridden_scripts) {
        bool same = known.count == count && std::strcmp(known.script.c_str(), script) == 0;
        for (std::size_t index = 0; same && index < count; ++index)
            same = known.rider_scripts[index] == riders[index].script;
        if (same)
            return &known;
    }
    return nullptr;
}

void compose(std::string& with_riders, const char* script, const rider* riders, std::size_t count)
{
    with_riders.assign(script);
    for (std::size_t index = 0; index < count; ++index) {
        with_riders += rider_separator;
        with_riders += riders[index].script;
    }
}

void format_riders_apart(kestrune::playback_control& control, rider* riders, std::size_t count)
{
    for (std::size_t index = 0; index < count; ++index) {
        utf8_string value;
        format_prepared(control, riders[index].script, value);
        riders[index].value.assign(value.view());
    }
}

// Formats the script with riders after it; the text is left in out, the riders' values in theirs. False when it does
// not compile or a separator is missing.
bool format_with_riders(kestrune::playback_control& control, const char* with_riders, utf8_string& out, rider* riders,
                        std::size_t count)
{
    if (!format_prepared(control, with_riders, text_with_riders))
        return false;
    std::string_view text = text_with_riders.view();
    for (std::size_t index = count; index-- > 0;) {
        const std::size_t separator = text.rfind(rider_separator);
        if (separator == std::string_view::npos)
            return false;
        riders[index].value.assign(text.substr(separator + 1));
        text = text.substr(0, separator);
    }
    out.assign(text.data(), text.size());
    return true;
}

} // namespace

bool format_now_playing(const char* script, utf8_string& out)
{
    const auto control = lookup_service<kestrune::playback_control>(kestrune::playback_control_guid);
    utf8_string working;
    return format_prepared(*control, with_own_fields(*control, script, working), out);
}

bool format_now_playing(const char* script, utf8_string& out, rider* riders, std::size_t count)
{
    if (count == 0)
        return format_now_playing(script, out);
    const auto control = lookup_service<kestrune::playback_control>(kestrune::playback_control_guid);
    utf8_string working;
    const char* prepared = with_own_fields(*control, script, working);
    const ridden_script* known = known_script(script, riders, count);
    if (known != nullptr && known->rides) {
        const char* with_riders = known->with_riders.c_str();
        if (prepared != script) {
            compose(composed, prepared, riders, count);
            with_riders = composed.c_str();
        }
        if (format_with_riders(*control, with_riders, out, riders, count))
            return true;
    }
    const bool compiled = format_prepared(*control, prepared, out);
    format_riders_apart(*control, riders, count);
    if (known == nullptr && compiled && count <= max_riders) {
        // Checked once: the same text and values together as apart, or they stay apart.
        ridden_script checked{script, {}, count, {}, false};
        for (std::size_t index = 0; index < count; ++index)
            checked.rider_scripts[index] = riders[index].script;
        compose(checked.with_riders, script, riders, count);
        const char* with_riders = checked.with_riders.c_str();
        if (prepared != script) {
            compose(composed, prepared, riders, count);
            with_riders = composed.c_str();
        }
        rider together[max_riders];
        for (std::size_t index = 0; index < count; ++index)
            together[index].script = riders[index].script;
        utf8_string text;
        checked.rides = format_with_riders(*control, with_riders, text, together, count) && text.view() == out.view();
        for (std::size_t index = 0; checked.rides && index < count; ++index)
            checked.rides = together[index].value == riders[index].value;
        if (ridden_scripts.size() == ridden_scripts_kept)
            ridden_scripts.clear();
        ridden_scripts.push_back(std::move(checked));
    }
    return compiled;
}

} // namespace velmora
