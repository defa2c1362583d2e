#pragma once

#include <windows.h>

#include <commctrl.h>

namespace velmora::later_subclass {

// Someone else's subclass, installed on a window after ours as a theme engine or an accessibility tool installs it:
// with SetWindowLongPtrW, or through the common controls. It counts the messages that reach it. One window at a time.
inline unsigned messages = 0;
inline WNDPROC previous = nullptr;

inline LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    ++messages;
    return CallWindowProcW(previous, window, message, wparam, lparam);
}

inline LRESULT CALLBACK common_controls_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                                  DWORD_PTR)
{
    ++messages;
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(window, common_controls_procedure, id);
    return DefSubclassProc(window, message, wparam, lparam);
}

// Counts from 0 again; false when the subclass could not be installed.
inline bool install(HWND window, bool common_controls)
{
    messages = 0;
    if (common_controls)
        return SetWindowSubclass(window, common_controls_procedure, 1, 0) != FALSE;
    previous =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
    return previous != nullptr;
}

} // namespace velmora::later_subclass
