#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include <windows.h>

#include "art/cover_art.h"
#include "overlay/overlay_documents.h"

namespace velmora {

// The overlay: a small HTTP server on a thread of its own, listening on the loopback addresses only (127.0.0.1, and
// ::1 where the system has it). It serves the page, its event stream, the texts as JSON and each output's text, to
// requests that name this computer's loopback, and to no other site's page. The main thread only hands it texts,
// under a lock held for a copy; it never touches a socket. The thread makes no host call and keeps the module loaded
// while it runs.

// Main thread: serves on port, ending a server that runs first, with the texts and state handed over so far. Waits
// until the thread listens or fails (a second at most, answering sent messages); a failure gives one line, "Error:
// Can't serve the overlay on port N: REASON", then or, when it comes later, at the next text. The thread tries the
// port again every second meanwhile, and serves once it is free.
void start_overlay(std::uint16_t port);

// Main thread: ends the server, clients connected or not, waiting limit_ms at most for its thread to end (answering
// sent messages): the streams get what was handed over last, within half of that. True when nothing of it runs any
// more.
bool stop_overlay(DWORD limit_ms) noexcept;

// Main thread: the port last asked for since the last stop, served or not.
std::uint16_t overlay_port_requested() noexcept;

// Main thread: output number index + 1 wrote text, made while the host reported state; output_count outputs exist.
// Kept while no server runs, for the next one.
void set_overlay_text(std::size_t index, std::string_view text, std::size_t output_count, playback_state state);
// Main thread: where the playing track is, in seconds, as the host reports it once a second. The server is not woken
// for it: it looks for a new position several times a second while a stream is open, and before each answer.
void set_overlay_position(double seconds);
// Main thread: the track's length in seconds, none for a stream or when nothing plays; from_start puts the position
// at 0, as at a new track. Not woken for either: the text that follows carries it, or the next look.
void set_overlay_track(std::optional<double> length, bool from_start);
// Main thread: the state alone, for an event that writes no text.
void set_overlay_state(playback_state state);
// Main thread: output number index + 1 is gone and the ones after it move down; or one is added, without a text yet.
void remove_overlay_output(std::size_t index);
void add_overlay_output(std::size_t output_count);
// Any thread: the playing track's art, or none; the same picture again changes nothing.
void set_overlay_cover(const std::optional<cover_art>& art);
// Main thread: what the overlay serves now.
const overlay_snapshot& overlay_served() noexcept;

} // namespace velmora
