#pragma once

#include <cstdint>

namespace velmora {

// e itself when e <= 0, otherwise the HRESULT of the Win32 error e.
std::int32_t hresult_from_win32(std::int32_t error) noexcept;

// An HRESULT and, once asked for, the system's text for it.
class system_error {
public:
    explicit system_error(std::int32_t code) noexcept : code_(code) {}
    system_error(const system_error&) = delete;
    system_error& operator=(const system_error&) = delete;
    ~system_error();

    std::int32_t code() const noexcept { return code_; }

private:
    friend const wchar_t* system_error_text(system_error& error) noexcept;

    std::int32_t code_;
    wchar_t* message_ = nullptr;
};

// The system's message without its final line break, or "IDispatch error #n" / "Unknown error 0x..." when the
// system has none; null only when not even that could be allocated. Computed once; valid while the record lives.
const wchar_t* system_error_text(system_error& error) noexcept;

} // namespace velmora
