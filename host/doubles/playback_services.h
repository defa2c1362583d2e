#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/doubles/counted.h"
#include "host/doubles/title_format_engine.h"

namespace stand_in {

using track_fields = std::map<std::string, std::string>;

// Test equipment shared by the services below: an operation named here throws std::runtime_error when called,
// as a failing host operation would.
struct failing_operation {
    std::string name;
    void check(const char* operation) const;
};

class compiled_script final : public counted<kestrune::title_format_script> {
public:
    compiled_script(reference_audit& audit, std::unique_ptr<title_format_program> program);
    const title_format_program& program() const noexcept { return *program_; }

private:
    std::unique_ptr<title_format_program> program_;
};

// Evaluates the script into out with the given fields, as the host's engine does.
void evaluate_into(kestrune::utf8_string* out, kestrune::title_format_script* script, const track_fields& fields);

class track_handle final : public counted<kestrune::track_handle> {
public:
    track_handle(reference_audit& audit, std::string name, track_fields track_values);

    bool __thiscall format_track(void* extra_fields, kestrune::utf8_string* out, kestrune::title_format_script* script,
                                 void* text_filter) override;

    track_fields fields;
    unsigned format_calls = 0;
    failing_operation failure;
};

class playback_control final : public counted<kestrune::playback_control> {
public:
    explicit playback_control(reference_audit& audit);

    bool __thiscall query_playing_track(kestrune::track_handle** out) override;
    float __thiscall query_volume() override;
    bool __thiscall format_with_playback(void* extra_fields, kestrune::utf8_string* out,
                                         kestrune::title_format_script* script, void* text_filter,
                                         std::int32_t display_level) override;

    track_handle* playing = nullptr;
    // When set, becomes the playing track once the first query has been answered.
    track_handle* playing_after_first_query = nullptr;
    bool paused = false;
    float volume = 0;
    double playback_time = 0;
    bool format_result = true;

    unsigned volume_queries = 0;
    unsigned track_queries = 0;
    unsigned format_calls = 0;
    std::int32_t last_display_level = -1;
    failing_operation failure;
};

class title_format_compiler final : public counted<kestrune::title_format_compiler> {
public:
    explicit title_format_compiler(reference_audit& audit);

    bool __thiscall compile_script(kestrune::title_format_script** out, const char* script) override;

    // Drops the record and the scripts made so far, which the component must no longer hold, so that a long run
    // or a memory count sees only what the component keeps.
    void forget();

    // Every script text received, in order.
    std::vector<std::string> received;
    failing_operation failure;

private:
    std::vector<std::unique_ptr<compiled_script>> scripts_;
};

class track_handle_factory final : public counted<kestrune::track_handle_factory> {
public:
    explicit track_handle_factory(reference_audit& audit);

    bool __thiscall make_handle(kestrune::track_handle** out, const kestrune::track_location* location) override;

    // As the compiler's forget: drops the record and the handles made so far.
    void forget();

    // The locations asked for, as path and subsong.
    std::vector<std::pair<std::string, std::uint32_t>> locations;
    bool yield_no_handle = false;
    failing_operation failure;

private:
    std::vector<std::unique_ptr<track_handle>> tracks_;
};

} // namespace stand_in
