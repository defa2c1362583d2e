#pragma once

#include <windows.h>

namespace velmora {

// An open registry key, closed on every way out.
class registry_key {
public:
    registry_key(HKEY parent, const wchar_t* path, REGSAM access) noexcept
    {
        if (RegOpenKeyExW(parent, path, 0, access, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    registry_key(const registry_key&) = delete;
    registry_key& operator=(const registry_key&) = delete;
    ~registry_key()
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }

    HKEY get() const noexcept { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace velmora
