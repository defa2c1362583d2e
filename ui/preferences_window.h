#pragma once

#include <windows.h>

namespace velmora {

// The open preferences page, or null. The page sets it when it initialises and clears it when destroyed; writes
// post WM_REFRESH_PREVIEW to it.
extern HWND preferences_window;

// Posted (never sent) to preferences_window after each event-driven write; the page refreshes its preview.
inline constexpr UINT WM_REFRESH_PREVIEW = WM_USER + 0x111;

} // namespace velmora
