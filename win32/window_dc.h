#pragma once

#include <windows.h>

namespace velmora {

// A window's device context, released on every way out.
class window_dc {
public:
    explicit window_dc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
    window_dc(const window_dc&) = delete;
    window_dc& operator=(const window_dc&) = delete;
    ~window_dc()
    {
        if (dc_ != nullptr)
            ReleaseDC(window_, dc_);
    }

    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

} // namespace velmora
