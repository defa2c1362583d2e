#pragma once

#include <windows.h>

namespace velmora {

// The cover art's small dialog, opened from the page: the file the art is published to and the placeholder, each
// with a chooser, and what the playing track's art is. OK stores both and asks for the art again at once. Modal to
// owner; gives IDOK or IDCANCEL.
INT_PTR show_cover_art_dialog(HWND owner) noexcept;

} // namespace velmora
