#pragma once

#include <windows.h>

#include "win32/this_module.h"

namespace velmora {

// Shows a modal dialog of the template, owned by owner, run by an object of type dialog: the object takes its window
// with attach(HWND) at WM_INITDIALOG and every message after it with on_message(UINT, WPARAM), which nothing may leave
// through the system's frames. Gives what EndDialog was given.
template <typename dialog> INT_PTR show_modal_dialog(HWND owner, int template_id) noexcept
{
    struct procedure {
        static INT_PTR CALLBACK run(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept
        {
            auto* shown = reinterpret_cast<dialog*>(GetWindowLongPtrW(window, DWLP_USER));
            if (message == WM_INITDIALOG) {
                shown = reinterpret_cast<dialog*>(lparam);
                SetWindowLongPtrW(window, DWLP_USER, lparam);
                shown->attach(window);
            }
            if (shown == nullptr)
                return FALSE;
            try {
                return shown->on_message(message, wparam);
            } catch (...) {
                return FALSE;
            }
        }
    };
    dialog shown;
    return DialogBoxParamW(this_module(), MAKEINTRESOURCEW(template_id), owner, procedure::run,
                           reinterpret_cast<LPARAM>(&shown));
}

} // namespace velmora
