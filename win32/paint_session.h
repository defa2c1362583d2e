#pragma once

#include <windows.h>

namespace velmora {

// A painting pass: the device context the message gave, or BeginPaint's, ended with EndPaint.
class paint_session {
public:
    paint_session(HWND window, HDC given) noexcept : window_(window), dc_(given), painting_(given == nullptr)
    {
        if (painting_)
            dc_ = BeginPaint(window, &paint_);
    }
    paint_session(const paint_session&) = delete;
    paint_session& operator=(const paint_session&) = delete;
    ~paint_session()
    {
        if (painting_)
            EndPaint(window_, &paint_);
    }

    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
    bool painting_;
    PAINTSTRUCT paint_{};
};

} // namespace velmora
