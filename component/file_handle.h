#pragma once

#include <utility>

#include <windows.h>

namespace velmora {

// An open file, closed on every way out. Invalid is INVALID_HANDLE_VALUE, as CreateFileW reports it.
class file_handle {
public:
    explicit file_handle(HANDLE handle) noexcept : handle_(handle) {}
    file_handle(const file_handle&) = delete;
    file_handle& operator=(const file_handle&) = delete;
    ~file_handle()
    {
        if (valid())
            CloseHandle(handle_);
    }

    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const noexcept { return handle_; }

private:
    HANDLE handle_;
};

} // namespace velmora
