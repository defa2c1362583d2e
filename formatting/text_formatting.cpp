#include "formatting/text_formatting.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

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

bool format_now_playing(const char* script, utf8_string& out)
{
    const auto control = lookup_service<kestrune::playback_control>(kestrune::playback_control_guid);
    // A script without the component's own fields goes to the host as it stands, without a copy.
    const std::string_view given(script);
    utf8_string working;
    if (given.find(volume_field) != std::string_view::npos || given.find(datetime_field) != std::string_view::npos) {
        working = utf8_string(script);
        substitute_volume_field(*control, working);
        substitute_datetime_field(working);
        script = working.c_str();
    }

    service_ptr<kestrune::title_format_script> compiled;
    if (!compile(script, compiled))
        return false;

    const service_ptr<kestrune::track_handle> track = playing_or_empty_track(*control);
    if (!track)
        return control->format_with_playback(nullptr, &out, compiled.get(), nullptr, display_level);
    service_ptr<kestrune::track_handle> playing_now;
    if (control->query_playing_track(playing_now.out()) && playing_now.get() == track.get())
        return control->format_with_playback(nullptr, &out, compiled.get(), nullptr, display_level);
    track->format_track(nullptr, &out, compiled.get(), nullptr);
    return true;
}

} // namespace velmora
