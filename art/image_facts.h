#pragma once

#include <optional>
#include <string_view>

namespace velmora {

// The picture formats a browser and the streaming software's image source both show.
enum class image_type { jpeg, png, gif, webp, bmp };

struct image_facts {
    image_type type;
    // 0 where the header that gives them is cut short.
    unsigned width = 0;
    unsigned height = 0;
};

// What the bytes are by their first bytes, and their size in pixels from the format's header; nothing when they are
// no picture of the five formats.
std::optional<image_facts> sniff_image(std::string_view bytes);

// "image/jpeg" and so on, for an HTTP answer and for what the page and the player print.
const char* content_type(image_type type);

} // namespace velmora
