#pragma once

#include <windows.h>

namespace velmora {

// The overlay's small dialog, opened from the page: the switch, the port and the overlay's address as a link. OK
// applies both at once (the server starts, moves or ends); a port outside 1 to 65535 is refused with a reason and
// changes nothing. Modal to owner; gives IDOK or IDCANCEL.
INT_PTR show_overlay_dialog(HWND owner) noexcept;

} // namespace velmora
