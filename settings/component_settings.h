#pragma once

#include <cstddef>

#include "settings/added_outputs.h"
#include "settings/config_variable.h"
#include "settings/cover_art_setting.h"
#include "settings/overlay_setting.h"
#include "text/output_encoding.h"

namespace velmora {

// The component's seven settings, read in place whenever a value is needed.
extern config_string now_playing_script;
extern config_string output_path;
extern config_string exit_text;
extern config_int output_encoding;
extern config_int log_mode;

// Words of event_settings, with four more kept for later. Switches hold 0 or 1.
enum class event_word : std::size_t {
    on_new_track = 0,
    on_pause = 1,
    on_stop = 2,
    on_every_second = 3,
    delay_enabled = 4,
    delay_ms = 5,
};

// Words of output_targets, with six more kept for later.
enum class output_target_word : std::size_t {
    save_to_file = 0,
    copy_to_clipboard = 1,
};

extern config_block<event_word, 10> event_settings;

// An added output's own switch for one of the four events of event_settings.
constexpr bool output_settings::*event_switch(event_word word) noexcept
{
    return word == event_word::on_new_track ? &output_settings::on_new_track
           : word == event_word::on_pause   ? &output_settings::on_pause
           : word == event_word::on_stop    ? &output_settings::on_stop
                                            : &output_settings::on_every_second;
}
// The outputs after the first, in order.
extern added_outputs_setting added_outputs;
extern config_block<output_target_word, 8> output_targets;
// The browser overlay served on loopback.
extern overlay_setting overlay;
// The playing track's cover art, published to a file.
extern cover_art_setting cover_settings;

extern const char default_now_playing_script[];
extern const char default_exit_text[];
inline constexpr std::int32_t default_output_encoding = encoding_utf8_with_header;

} // namespace velmora
