#include "ui/overlay_dialog.h"

#include <cstdint>
#include <memory>
#include <string>

#include "events/init_quit_hook.h"
#include "settings/component_settings.h"
#include "ui/hyperlink_control.h"
#include "ui/modal_dialog.h"
#include "ui/preferences_ids.h"

namespace velmora {

namespace {

class overlay_dialog {
public:
    void attach(HWND window) noexcept { window_ = window; }

    INT_PTR on_message(UINT message, WPARAM wparam)
    {
        switch (message) {
        case WM_INITDIALOG:
            CheckDlgButton(window_, IDC_OVERLAY_ENABLED, overlay.enabled() ? BST_CHECKED : BST_UNCHECKED);
            SendDlgItemMessageW(window_, IDC_OVERLAY_PORT, EM_LIMITTEXT, 5, 0);
            SetDlgItemInt(window_, IDC_OVERLAY_PORT, overlay.port(), FALSE);
            link_ = std::make_unique<hyperlink_control>();
            if (link_->attach(GetDlgItem(window_, IDC_OVERLAY_LINK)))
                link_->initialise();
            show_address();
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDC_OVERLAY_PORT && HIWORD(wparam) == EN_CHANGE)
                show_address();
            else if (LOWORD(wparam) == IDOK)
                apply();
            else if (LOWORD(wparam) == IDCANCEL)
                EndDialog(window_, IDCANCEL);
            return TRUE;
        case WM_DESTROY:
            link_.reset();
            return FALSE;
        default:
            return FALSE;
        }
    }

private:
    // The port typed, 0 when it is no port.
    std::uint16_t typed_port() const noexcept
    {
        BOOL valid = FALSE;
        const UINT port = GetDlgItemInt(window_, IDC_OVERLAY_PORT, &valid, FALSE);
        return valid && port >= 1 && port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
    }

    void show_address()
    {
        if (link_ == nullptr)
            return;
        const std::uint16_t port = typed_port();
        const std::wstring address = port != 0 ? L"http://127.0.0.1:" + std::to_wstring(port) + L"/" : L"";
        link_->set_caption(address.c_str());
        link_->set_target(address.c_str());
        EnableWindow(GetDlgItem(window_, IDC_OVERLAY_LINK), port != 0);
    }

    void apply()
    {
        const std::uint16_t port = typed_port();
        if (port == 0) {
            MessageBoxW(window_, L"The port is a whole number from 1 to 65535.", L"Overlay", MB_OK | MB_ICONERROR);
            SetFocus(GetDlgItem(window_, IDC_OVERLAY_PORT));
            SendDlgItemMessageW(window_, IDC_OVERLAY_PORT, EM_SETSEL, 0, -1);
            return;
        }
        overlay.set(IsDlgButtonChecked(window_, IDC_OVERLAY_ENABLED) == BST_CHECKED, port);
        apply_overlay_setting();
        EndDialog(window_, IDOK);
    }

    HWND window_ = nullptr;
    std::unique_ptr<hyperlink_control> link_;
};

} // namespace

INT_PTR show_overlay_dialog(HWND owner) noexcept
{
    return show_modal_dialog<overlay_dialog>(owner, IDD_OVERLAY);
}

} // namespace velmora
