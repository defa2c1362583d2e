#pragma once

#include <windows.h>

namespace velmora {

// The module that holds this code: the component's DLL, or the program a test links it into.
inline HMODULE this_module() noexcept
{
    static const char marker = 0;
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<const wchar_t*>(&marker), &module);
    return module;
}

} // namespace velmora
