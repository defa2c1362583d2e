#pragma once

#include <cstdint>

namespace velmora {

// The four encodings of the output file, by the values the stored setting holds.
enum output_encoding_value : std::int32_t {
    encoding_utf8 = 0,
    encoding_utf8_with_header = 1,
    encoding_unicode = 2,
    encoding_ansi = 3,
};

} // namespace velmora
