#pragma once

#include <utility>

#include <windows.h>

namespace velmora {

// A window of ours, destroyed on every way out. Only the thread that made a window can destroy it, so a destructor
// that runs on another thread (a program's exit, say) leaves it to the system.
class owned_window {
public:
    owned_window() noexcept = default;
    explicit owned_window(HWND window) noexcept : window_(window) {}
    owned_window(const owned_window&) = delete;
    owned_window& operator=(const owned_window&) = delete;
    owned_window(owned_window&& other) noexcept : window_(std::exchange(other.window_, nullptr)) {}
    owned_window& operator=(owned_window&& other) noexcept
    {
        if (this != &other) {
            reset();
            window_ = std::exchange(other.window_, nullptr);
        }
        return *this;
    }
    ~owned_window() { reset(); }

    HWND get() const noexcept { return window_; }

    void reset() noexcept
    {
        const HWND window = std::exchange(window_, nullptr);
        if (window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
            DestroyWindow(window);
    }

private:
    HWND window_ = nullptr;
};

} // namespace velmora
