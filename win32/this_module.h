#pragma once

#include <windows.h>

namespace velmora {

namespace this_module_detail {
// An address inside this module, by which the system finds it.
inline const char marker = 0;
} // namespace this_module_detail

// The module that holds this code: the component's DLL, or the program a test links it into.
inline HMODULE this_module() noexcept
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<const wchar_t*>(&this_module_detail::marker), &module);
    return module;
}

// A new reference on this module, for a thread that runs its code and must keep it loaded until the thread ends
// (it gives the reference back with FreeLibraryAndExitThread). Null when none could be taken.
inline HMODULE reference_this_module() noexcept
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<const wchar_t*>(&this_module_detail::marker), &module);
    return module;
}

// Keeps this module loaded until the process ends, whatever FreeLibrary is called later: for code of ours that the
// host may still run after it has let the module go.
inline void pin_this_module() noexcept
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<const wchar_t*>(&this_module_detail::marker), &module);
}

} // namespace velmora
