#pragma once

#include <windows.h>

namespace velmora {

// The clipboard, opened for this scope and closed on every way out.
class clipboard_session {
public:
    explicit clipboard_session(HWND owner) noexcept : open_(OpenClipboard(owner) != FALSE) {}
    clipboard_session(const clipboard_session&) = delete;
    clipboard_session& operator=(const clipboard_session&) = delete;
    ~clipboard_session()
    {
        if (open_)
            CloseClipboard();
    }

    bool is_open() const noexcept { return open_; }

private:
    bool open_;
};

} // namespace velmora
