#pragma once

#include <cstddef>
#include <string>

#include <windows.h>

#include "boundary/host_boundary.h"
#include "text/utf8_string.h"

namespace velmora {

// Evaluates the script for what plays now, or for an empty-location track when nothing plays, after putting the
// current volume and date-time text in place of %volume% and %datetime%. Gives false, leaving out untouched, when
// the script does not compile; otherwise the evaluation's result. Lookup and host exceptions pass through, with
// every reference released.
bool format_now_playing(const char* script, utf8_string& out);

// A fixed script whose value a formatting gives beside its text. Its value never holds a unit separator (0x1F).
struct rider {
    const char* script = "";
    std::string value;
};
inline constexpr std::size_t max_riders = 4;

// Main thread. The same, and each rider's value, even when the script does not compile. The host's language has
// no way to give two values, so the riders follow the script behind unit separators in one formatting, which spares
// the player's main thread a formatting each (a formatting of the text is about all an event costs it). That is only
// sound where the script ends closed (no open quote, bracket, field or function), which is the host's language's
// business: each script is checked once against formattings apart, and one that does not give the same text and
// values with riders as without has them formatted apart from then on.
bool format_now_playing(const char* script, utf8_string& out, rider* riders, std::size_t count);

// Replaces every "%volume%" by the volume text; asks for the volume only when the field occurs.
void substitute_volume_field(kestrune::playback_control& control, utf8_string& text);

// Replaces every "%datetime%" by the 24-character local date-time text; reads the clock only when the field
// occurs, once for all occurrences.
void substitute_datetime_field(utf8_string& text);

// The same with a clock of the caller's, which gives local time.
using local_clock = SYSTEMTIME (*)();
void substitute_datetime_field(utf8_string& text, local_clock clock);

// "0.00", "-3.13", "-100.00": two decimals, halves away from zero, a minus sign kept even when rounding to zero.
utf8_string volume_text(double volume);

// "Mon Dec 07 08:05:09 2026", English names whatever the locale.
utf8_string datetime_text(const SYSTEMTIME& local_time);

} // namespace velmora
