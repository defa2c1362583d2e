#pragma once

#include <windows.h>

#include "boundary/host_boundary.h"
#include "text/utf8_string.h"

namespace velmora {

// Evaluates the script for what plays now, or for an empty-location track when nothing plays, after putting the
// current volume and date-time text in place of %volume% and %datetime%. Gives false, leaving out untouched, when
// the script does not compile; otherwise the evaluation's result. Lookup and host exceptions pass through, with
// every reference released.
bool format_now_playing(const char* script, utf8_string& out);

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
