#pragma once

#include <cstddef>
#include <cstdint>

#include <windows.h>

#include "overlay/overlay_documents.h"

namespace velmora {

// Outputs by bit: bit 0 output 1, bit n the added output n + 1.
using output_set = std::uint32_t;
inline constexpr output_set every_output = 0xFFFFFFFF;

// Formats each chosen output's script and queues its text, in output order, and hands the overlay each text with the
// playback state it was made in. The start-up write.
void queue_outputs(output_set outputs);

// The playback state as the host's script language reports it now, for the overlay.
playback_state playback_state_now();
// The overlay takes the state now, when it is served: for an event that writes no text, and as it starts.
void refresh_overlay_state();

// While the overlay is served: the playing track's length from the host's script language (none for a stream or when
// nothing plays), and from_start the position back at 0, at a new track. And the position the host reports.
void refresh_overlay_track(bool from_start);
void refresh_overlay_position(double seconds);

// Asks the cover art's thread for the playing track's art, or for the placeholder when nothing plays or playing ends
// (at shut-down), when the cover file is set or the overlay is served and something changed since the last request;
// the overlay takes each art as it is found. First sends the console the lines that thread left. At shut-down,
// end_cover_art then waits for it within the limit.
void request_cover_art(bool playing_ends = false);
void end_cover_art(DWORD limit_ms);
// Before an event's write that request_cover_art follows: the playing track's location rides with the write's first
// text, when it is formatted at once, instead of a formatting of its own.
void carry_location_with_texts();

// Output number index + 1 was removed and the ones after it moved down: the overlay drops its text and the marks of
// the outputs waiting for the delay move with them. Or one was added at the end: the overlay shows it, empty until it
// writes.
void on_output_removed(std::size_t index);
void on_output_added();

// The same for the write of an event, at once or after the delay. The listener, if one is set, is told after it.
void queue_now_playing(output_set outputs = every_output);

// With the delay on, the outputs that the requests since the last delayed write asked for; once they are taken, a
// later elapse of the same burst writes them again.
void add_delayed_outputs(output_set outputs) noexcept;
output_set take_delayed_outputs() noexcept;

// Told on the main thread after each event's output is queued. The preferences page sets one while it exists, so
// that its preview follows; the events layer knows nothing of it. Null for none.
using now_playing_listener = void (*)() noexcept;
void set_now_playing_listener(now_playing_listener listener) noexcept;

} // namespace velmora
