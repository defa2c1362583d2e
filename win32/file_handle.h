#pragma once

#include <cstddef>

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

    // Closes the file now, for a caller that must know whether the system took the data: ERROR_SUCCESS or why not.
    DWORD close() noexcept
    {
        if (!valid())
            return ERROR_SUCCESS;
        const BOOL closed = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed ? ERROR_SUCCESS : GetLastError();
    }
    HANDLE get() const noexcept { return handle_; }

    // Writes all the bytes with one WriteFile, so that no reader sees a part of them without the rest. Gives
    // ERROR_SUCCESS, or why they were not all written.
    DWORD write(const void* bytes, std::size_t count) const noexcept
    {
        if (count == 0)
            return ERROR_SUCCESS;
        DWORD written = 0;
        if (!WriteFile(handle_, bytes, static_cast<DWORD>(count), &written, nullptr))
            return GetLastError();
        return written == count ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
    }

private:
    HANDLE handle_;
};

} // namespace velmora
