#include "settings/component_settings.h"

namespace velmora {

const char default_now_playing_script[] = "$if(%isplaying%,\r\n$if(%ispaused%,\r\npaused\r\n,\r\nplaying\r\n): "
                                          "%artist% - %title%,\r\nstopped\r\n)";
const char default_exit_text[] = "not running";

// Defined in one translation unit, in this order: the order of construction is the order of the settings
// registry, newest first, and so the order in which the settings are saved. The added outputs come first, so that
// their record, the newest, is saved after the seven of old.
added_outputs_setting added_outputs({0x5B1E7C2A, 0x3F64, 0x4C1D, {0x9A, 0x07, 0xE2, 0x58, 0x31, 0xC6, 0x4B, 0x9D}});
config_string now_playing_script({0xDA9DCD74, 0x54C3, 0x43C4, {0xBA, 0xC5, 0x8B, 0x43, 0x70, 0xEB, 0x51, 0x65}},
                                 default_now_playing_script);
config_string output_path({0xCBC3E777, 0x9C0A, 0x425A, {0x8A, 0x9A, 0x18, 0x88, 0xC3, 0xC8, 0xC9, 0xE6}}, "");
config_string exit_text({0x0BFCDDE8, 0xEAB0, 0x4DA7, {0xA0, 0x4D, 0x7B, 0x91, 0x57, 0xB2, 0x36, 0xB4}},
                        default_exit_text);
config_int output_encoding({0x8039889A, 0xCEFB, 0x4008, {0x99, 0x00, 0x67, 0xE8, 0x50, 0xA8, 0x8D, 0x82}},
                           default_output_encoding);
config_int log_mode({0x33E4D4CE, 0x7BAB, 0x4010, {0x9E, 0x81, 0xC7, 0xFF, 0x08, 0x7E, 0xE5, 0x1A}}, 0);
config_block<event_word, 10>
    event_settings({0xA843B667, 0x65A7, 0x43B3, {0xB9, 0x54, 0x28, 0x31, 0x29, 0x87, 0x95, 0xD9}},
                   {1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
config_block<output_target_word, 8>
    output_targets({0x2022701A, 0x8B3D, 0x4289, {0xAB, 0xD8, 0x78, 0x60, 0x4C, 0xF9, 0x3F, 0x00}},
                   {1, 0, 0, 0, 0, 0, 0, 0});

} // namespace velmora
