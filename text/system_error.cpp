#include "text/system_error.h"

#include <cwchar>

#include <windows.h>

namespace velmora {

namespace {
constexpr std::size_t fallback_units = 32;
} // namespace

std::int32_t hresult_from_win32(std::int32_t error) noexcept
{
    if (error <= 0)
        return error;
    return static_cast<std::int32_t>(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}

system_error::~system_error()
{
    if (message_ != nullptr)
        LocalFree(message_);
}

const wchar_t* system_error_text(system_error& error) noexcept
{
    if (error.message_ != nullptr)
        return error.message_;

    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    FormatMessageW(flags, nullptr, static_cast<DWORD>(error.code_), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<wchar_t*>(&error.message_), 0, nullptr);
    if (error.message_ != nullptr) {
        const int length = lstrlenW(error.message_);
        if (length > 1 && error.message_[length - 1] == L'\n') {
            error.message_[length - 1] = L'\0';
            if (error.message_[length - 2] == L'\r')
                error.message_[length - 2] = L'\0';
        }
        return error.message_;
    }

    error.message_ = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, 64));
    if (error.message_ == nullptr)
        return nullptr;
    const auto code = static_cast<std::uint32_t>(error.code_);
    if (code >= 0x80040201u && code <= 0x8004FFFFu)
        std::swprintf(error.message_, fallback_units, L"IDispatch error #%d",
                      static_cast<int>((code & 0xFFFF) - 0x200));
    else
        std::swprintf(error.message_, fallback_units, L"Unknown error 0x%0lX", static_cast<unsigned long>(code));
    return error.message_;
}

} // namespace velmora
