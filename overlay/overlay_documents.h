#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
// then, and the art.
struct overlay_snapshot {
    std::vector<std::string> texts;
    playback_state state = playback_state::stopped;
    overlay_cover cover;
};

// "/cover/N" for the art, empty for none.
std::string cover_address(const overlay_cover& cover);

// {"state":"playing","outputs":[{"number":1,"text":"..."},...],"cover":"/cover/N"} ("cover":null without art): valid
// UTF-8 whatever the texts hold (a byte that starts no valid character stands as U+FFFD), every control character
// escaped, and <, >, & and the two line separators too, so that the document is safe inside a page's script.
std::string overlay_json(const overlay_snapshot& snapshot);

// The page with each output's text, escaped for HTML, in its own element where the template says <!--outputs-->.
std::string overlay_page(std::string_view page_template, const overlay_snapshot& snapshot);

} // namespace velmora
