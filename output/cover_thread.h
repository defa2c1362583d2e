#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <windows.h>

#include "art/cover_art.h"

namespace velmora {

// What the main thread fixed for the cover file when it asked: where it goes and what it shows.
struct cover_request {
    // As the host gives it, in UTF-8; empty when nothing plays: the file then shows the placeholder.
    std::string track_location;
    // The full path; empty when no file is published.
    std::wstring cover_path;
    // The user's picture for no art; empty for a transparent pixel.
    std::wstring placeholder_path;
    // Changes with the two paths, so that they are copied only then; 0 copies them whatever they were.
    std::uint32_t paths_version = 0;
};

// The thread that finds the playing track's art and publishes it, so that neither the host's main thread nor the
// output thread's text ever waits for a track file, however slow its disk. It keeps the module loaded while it runs,
// takes the newest request (one not yet started gives way to a newer one), and publishes in one step as the text is:
// a reader by path finds the previous picture or the new one, whole. Unchanged art is not written again; each change
// leaves the file with a modified time in a later second than the change before, for readers that look once a
// second at the time's seconds. It makes no host call: its lines wait for the main thread.

// How long a track's art may take to read before it is given up, with one line.
inline constexpr DWORD cover_read_limit_ms = 5000;

// Called on the cover art's thread with the art of each request carried out (none when nothing plays or the track has
// none), before its file is published.
using cover_listener = void (*)(const std::optional<cover_art>& art);
void set_cover_listener(cover_listener listener) noexcept;

// Main thread. Copied into blocks kept from the request before, so that asking allocates nothing as a rule and wakes
// the thread only when it waits. bad_alloc passes, with nothing asked.
void request_cover(const cover_request& request);

// Main thread: sends the host's console the lines the thread left (its errors and the reads it gave up), in order.
void deliver_cover_lines();

// Main thread: waits until the newest request is carried out, for limit_ms at most. False at the limit.
bool wait_for_cover(DWORD limit_ms);

// Main thread, at host shut-down, once the last request (the placeholder) is made: waits as wait_for_cover; at the
// limit no further file call starts. The thread ends once it is free. A later request starts a new one.
void finish_cover_at_shutdown(DWORD limit_ms);

// The art of the request carried out last, none for the placeholder; for tests and for what the page shows.
std::optional<cover_art> published_cover();

} // namespace velmora
