#pragma once

#include <memory>
#include <optional>
#include <string>

#include "art/image_facts.h"

namespace velmora {

// Where a track's art was found, in the order it is looked for.
enum class art_source { embedded_front_cover, folder_image, embedded_picture };

// One art, its bytes shared by whatever publishes it.
struct cover_art {
    std::shared_ptr<const std::string> bytes;
    image_facts facts;
    art_source source;
    // The image file's path, for art found beside the track.
    std::wstring image_path;
};

// Art larger than this is no art: it would be a file no image source wants.
constexpr size_t largest_art_bytes = 32u << 20;

// A drive or network path of a file, as the host gives a local track's location; a stream's address or a place
// inside an archive ("|") is none.
bool is_file_location(const std::wstring& location);

// "CD1", "Disc 2", "disk_03": a folder that holds one disc of an album whose art may be in the folder above.
bool is_disc_folder_name(const std::wstring& name);

// The track's art: its embedded front cover, an image beside it (or beside its disc's folder), or its first
// embedded picture of another type. Nothing when there is none or the location is no file. The search stops once
// GetTickCount64 passes the deadline, and says so.
std::optional<cover_art> find_cover_art(const std::wstring& track_location, unsigned long long deadline,
                                        bool& timed_out);

// A picture file read whole, as art found beside a track; nothing when it is none or larger than art may be.
std::optional<cover_art> read_picture_file(const std::wstring& path);

// "embedded front cover", "cover.jpg beside the track", "embedded picture".
std::string describe_source(const cover_art& art);

// A transparent PNG of one pixel, shown where there is no art: an image source then shows nothing and hides nothing.
const std::string& transparent_picture();

} // namespace velmora
