#include "host/doubles/playback_services.h"

#include <cstdio>
#include <stdexcept>

#include "host/doubles/formatting_clock.h"
#include "host/doubles/host_call_faults.h"

namespace stand_in {

void failing_operation::check(const char* operation) const
{
    count_host_call(operation);
    if (name == operation)
        throw std::runtime_error(std::string("host failure in ") + operation);
}

compiled_script::compiled_script(reference_audit& audit, std::unique_ptr<title_format_program> program)
    : counted(audit, {}, "compiled script"), program_(std::move(program))
{}

void evaluate_into(kestrune::utf8_string* out, kestrune::title_format_script* script, const track_fields& fields)
{
    const std::string text = static_cast<compiled_script*>(script)->program().evaluate(
        [&fields](const std::string& name) -> std::optional<std::string> {
            const auto found = fields.find(name);
            if (found == fields.end())
                return std::nullopt;
            return found->second;
        });
    const formatting_clock::component_call component;
    out->assign(text.c_str(), text.size());
}

track_handle::track_handle(reference_audit& audit, std::string name, track_fields track_values)
    : counted(audit, {}, std::move(name)), fields(std::move(track_values))
{}

bool track_handle::format_track(void*, kestrune::utf8_string* out, kestrune::title_format_script* script, void*)
{
    const formatting_clock::section timed;
    ++format_calls;
    failure.check("format_track");
    evaluate_into(out, script, fields);
    return true;
}

playback_control::playback_control(reference_audit& audit)
    : counted(audit, kestrune::playback_control_guid, "playback control")
{}

bool playback_control::query_playing_track(kestrune::track_handle** out)
{
    const formatting_clock::section timed;
    ++track_queries;
    failure.check("query_playing_track");
    track_handle* answer = playing;
    if (playing_after_first_query != nullptr)
        playing = playing_after_first_query;
    if (answer == nullptr)
        return false;
    hand_out<kestrune::track_handle>(out, answer);
    return true;
}

float playback_control::query_volume()
{
    const formatting_clock::section timed;
    ++volume_queries;
    failure.check("query_volume");
    return volume;
}

bool playback_control::format_with_playback(void*, kestrune::utf8_string* out, kestrune::title_format_script* script,
                                            void*, std::int32_t display_level)
{
    const formatting_clock::section timed;
    ++format_calls;
    last_display_level = display_level;
    failure.check("format_with_playback");
    track_fields fields;
    if (playing != nullptr) {
        fields = playing->fields;
        fields["isplaying"] = "1";
        if (paused)
            fields["ispaused"] = "1";
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%d:%02d", static_cast<int>(playback_time) / 60,
                      static_cast<int>(playback_time) % 60);
        fields["playback_time"] = seconds;
    }
    evaluate_into(out, script, fields);
    return format_result;
}

title_format_compiler::title_format_compiler(reference_audit& audit)
    : counted(audit, kestrune::title_format_compiler_guid, "title format compiler")
{}

bool title_format_compiler::compile_script(kestrune::title_format_script** out, const char* script)
{
    const formatting_clock::section timed;
    received.emplace_back(script);
    failure.check("compile_script");
    std::unique_ptr<title_format_program> program = title_format_program::compile(script);
    if (program == nullptr)
        return false;
    scripts_.push_back(std::make_unique<compiled_script>(audit_of_this(), std::move(program)));
    hand_out<kestrune::title_format_script>(out, scripts_.back().get());
    return true;
}

void title_format_compiler::forget()
{
    std::vector<std::string>().swap(received);
    std::vector<std::unique_ptr<compiled_script>>().swap(scripts_);
}

track_handle_factory::track_handle_factory(reference_audit& audit)
    : counted(audit, kestrune::track_handle_factory_guid, "track handle factory")
{}

bool track_handle_factory::make_handle(kestrune::track_handle** out, const kestrune::track_location* location)
{
    const formatting_clock::section timed;
    auto* readable = const_cast<kestrune::track_location*>(location);
    locations.emplace_back(readable->get_path(), readable->get_subsong());
    failure.check("make_handle");
    if (yield_no_handle)
        return false;
    tracks_.push_back(std::make_unique<track_handle>(audit_of_this(), "made track",
                                                     track_fields{
                                                         {"path", readable->get_path()},
                                                     }));
    hand_out<kestrune::track_handle>(out, tracks_.back().get());
    return true;
}

void track_handle_factory::forget()
{
    std::vector<std::pair<std::string, std::uint32_t>>().swap(locations);
    std::vector<std::unique_ptr<track_handle>>().swap(tracks_);
}

} // namespace stand_in
