#pragma once

#include <windows.h>

namespace velmora {

// The open preferences page, or null.
extern HWND preferences_window;

// The page opens and closes itself with these; while it is open, it hears of every event-driven write through
// WM_REFRESH_PREVIEW.
void open_preferences_window(HWND window) noexcept;
void close_preferences_window() noexcept;

// Posted (never sent) to preferences_window after each event-driven write; the page refreshes its preview.
inline constexpr UINT WM_REFRESH_PREVIEW = WM_USER + 0x111;

} // namespace velmora
