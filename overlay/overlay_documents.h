#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace velmora {

enum class playback_state { stopped, playing, paused };

// The playing track's art as the overlay serves it, at /cover/N for its number N; none while number is 0. Each change
// of art takes a new number, so that a browser never shows an old one from its cache.
struct overlay_cover {
    unsigned long number = 0;
    std::shared_ptr<const std::string> bytes;
    std::string content_type;
};

// What the overlay shows: each output's text at its last write (output 1 first), the playback state the host reported
// then, the art, and where the track is: the position the host last reported and when (GetTickCount), and the
// track's length, none for a stream.
struct overlay_snapshot {
    std::vector<std::string> texts;
    playback_state state = playback_state::stopped;
    overlay_cover cover;
    double position = 0;
    DWORD position_reported_at = 0;
    std::optional<double> length;
};

// The snapshot with the position it has reached at now: moved on by the time since it was reported while playing,
// never past the length; 0 when stopped.
overlay_snapshot snapshot_at(const overlay_snapshot& snapshot, DWORD now);

// "/cover/N" for the art, empty for none.
std::string cover_address(const overlay_cover& cover);

// {"state":"playing","position":12.5,"length":200,"outputs":[{"number":1,"text":"..."},...],"cover":"/cover/N"}
// ("length":null for a track without one, "cover":null without art), seconds with three decimals at most: valid
// UTF-8 whatever the texts hold (a byte that starts no valid character stands as U+FFFD), every control character
// escaped, and <, >, & and the two line separators too, so that the document is safe inside a page's script.
std::string overlay_json(const overlay_snapshot& snapshot);

// The page with each output's text, escaped for HTML, in its own element where the template says <!--outputs-->.
std::string overlay_page(std::string_view page_template, const overlay_snapshot& snapshot);

} // namespace velmora
