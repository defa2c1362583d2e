#include "ui/preferences_window.h"

#include "events/now_playing_request.h"

namespace velmora {

HWND preferences_window = nullptr;

namespace {

void refresh_open_page() noexcept
{
    if (preferences_window != nullptr)
        PostMessageW(preferences_window, WM_REFRESH_PREVIEW, 0, 0);
}

} // namespace

void open_preferences_window(HWND window) noexcept
{
    preferences_window = window;
    set_now_playing_listener(refresh_open_page);
}

void close_preferences_window() noexcept
{
    set_now_playing_listener(nullptr);
    preferences_window = nullptr;
}

} // namespace velmora
