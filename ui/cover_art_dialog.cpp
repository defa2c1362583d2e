#include "ui/cover_art_dialog.h"

#include "boundary/shared_library.h"
#include "events/now_playing_request.h"
#include "output/cover_thread.h"
#include "settings/component_settings.h"
#include "ui/modal_dialog.h"
#include "ui/preferences_ids.h"

namespace velmora {

namespace {

constexpr char picture_filter[] =
    "Pictures (*.png;*.jpg;*.jpeg;*.gif;*.webp;*.bmp)|*.png;*.jpg;*.jpeg;*.gif;*.webp;*.bmp|All Files (*.*)|*.*|";

class cover_art_dialog {
public:
    void attach(HWND window) noexcept { window_ = window; }

    INT_PTR on_message(UINT message, WPARAM wparam)
    {
        switch (message) {
        case WM_INITDIALOG: {
            uSetDlgItemText(window_, IDC_COVER_PATH, cover_settings.cover_path().c_str());
            uSetDlgItemText(window_, IDC_COVER_PLACEHOLDER, cover_settings.placeholder().c_str());
            const auto now = published_cover();
            uSetDlgItemText(window_, IDC_COVER_NOW, now ? describe_art(*now).c_str() : "none");
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
            case IDC_COVER_BROWSE:
                choose(IDC_COVER_PATH, "Save the cover art as...", TRUE);
                break;
            case IDC_COVER_PLACEHOLDER_BROWSE:
                choose(IDC_COVER_PLACEHOLDER, "Placeholder picture...", FALSE);
                break;
            case IDOK:
                apply();
                break;
            case IDCANCEL:
                EndDialog(window_, IDCANCEL);
                break;
            default:
                break;
            }
            return TRUE;
        default:
            return FALSE;
        }
    }

private:
    void choose(int edit, const char* title, BOOL save)
    {
        utf8_string path;
        uGetDlgItemText(window_, edit, &path);
        if (uGetOpenFileName(window_, picture_filter, 0, "png", title, path.c_str(), &path, save))
            uSetDlgItemText(window_, edit, path.c_str());
    }

    void apply()
    {
        utf8_string path, placeholder;
        uGetDlgItemText(window_, IDC_COVER_PATH, &path);
        uGetDlgItemText(window_, IDC_COVER_PLACEHOLDER, &placeholder);
        cover_settings.set(path.c_str(), placeholder.c_str());
        request_cover_art();
        EndDialog(window_, IDOK);
    }

    HWND window_ = nullptr;
};

} // namespace

INT_PTR show_cover_art_dialog(HWND owner) noexcept
{
    return show_modal_dialog<cover_art_dialog>(owner, IDD_COVER_ART);
}

} // namespace velmora
