#pragma once

#include <utility>

#include <windows.h>

namespace velmora {

// A kernel object's handle (an event, a thread), closed on every way out. Invalid is null, as CreateEventW and
// CreateThread report it; files, whose invalid value differs, have file_handle.
class kernel_handle {
public:
    kernel_handle() noexcept = default;
    explicit kernel_handle(HANDLE handle) noexcept : handle_(handle) {}
    kernel_handle(const kernel_handle&) = delete;
    kernel_handle& operator=(const kernel_handle&) = delete;
    kernel_handle(kernel_handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    kernel_handle& operator=(kernel_handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ~kernel_handle() { reset(); }

    bool valid() const noexcept { return handle_ != nullptr; }
    HANDLE get() const noexcept { return handle_; }

    void reset() noexcept
    {
        if (handle_ != nullptr)
            CloseHandle(std::exchange(handle_, nullptr));
    }

private:
    HANDLE handle_ = nullptr;
};

} // namespace velmora
