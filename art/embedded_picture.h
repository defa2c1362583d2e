#pragma once

#include <string>

namespace velmora {

// The pictures a track file's tags hold, found by TagLib: the first front cover and the first picture of any other
// type, each only when its bytes are a picture of a format sniff_image knows; empty otherwise.
struct embedded_pictures {
    std::string front_cover;
    std::string first_other;
};

// Reads within the deadline (a GetTickCount64 value): a file that takes longer is given up, with what was found by
// then left out. The file is opened for reading only, and shared with whatever else opens, renames or removes it.
embedded_pictures read_embedded_pictures(const std::wstring& track_path, unsigned long long deadline, bool& timed_out);

} // namespace velmora
