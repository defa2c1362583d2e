#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum class playback_state { stopped, playing, paused };

// What the overlay shows: each output's text at its last write (output 1 first), and the playback state the host
// reported then.
struct overlay_snapshot {
    std::vector<std::string> texts;
    playback_state state = playback_state::stopped;
};

// {"state":"playing","outputs":[{"number":1,"text":"..."},...]}: valid UTF-8 whatever the texts hold (a byte that
// starts no valid character stands as U+FFFD), every control character escaped, and <, >, & and the two line
// separators too, so that the document is safe inside a page's script.
std::string overlay_json(const overlay_snapshot& snapshot);

// The page with each output's text, escaped for HTML, in its own element where the template says <!--outputs-->.
std::string overlay_page(std::string_view page_template, const overlay_snapshot& snapshot);

} // namespace velmora
