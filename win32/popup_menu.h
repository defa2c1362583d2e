#pragma once

#include <windows.h>

namespace velmora {

// A popup menu, destroyed on every way out.
class popup_menu {
public:
    popup_menu() noexcept : menu_(CreatePopupMenu()) {}
    popup_menu(const popup_menu&) = delete;
    popup_menu& operator=(const popup_menu&) = delete;
    ~popup_menu()
    {
        if (menu_ != nullptr)
            DestroyMenu(menu_);
    }

    HMENU get() const noexcept { return menu_; }

private:
    HMENU menu_;
};

} // namespace velmora
