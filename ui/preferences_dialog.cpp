#include "ui/preferences_dialog.h"

#include <exception>
#include <string>

#include <commctrl.h>

#include "boundary/shared_library.h"
#include "formatting/text_formatting.h"
#include "settings/component_settings.h"
#include "text/text_conversion.h"
#include "ui/preferences_ids.h"
#include "ui/preferences_window.h"
#include "win32/popup_menu.h"
#include "win32/this_module.h"

namespace velmora {

namespace {

const char* const encoding_labels[] = {"UTF-8", "UTF-8 with header", "Unicode", "ANSI"};

struct event_item {
    UINT id;
    const wchar_t* label;
    event_word flag;
};

const event_item event_items[] = {
    {1, L"On new track", event_word::on_new_track},
    {2, L"On pause", event_word::on_pause},
    {3, L"On stop", event_word::on_stop},
    {4, L"On every second", event_word::on_every_second},
};

bool checked(HWND dialog, int control)
{
    return IsDlgButtonChecked(dialog, control) == BST_CHECKED;
}

// The menu's anchor, moved into the nearest monitor's work area when no monitor holds it.
LONG clamped_menu_left(LONG left, LONG bottom)
{
    const POINT anchor{left, bottom};
    if (MonitorFromPoint(anchor, MONITOR_DEFAULTTONULL) != nullptr)
        return left;
    const HMONITOR nearest = MonitorFromPoint(anchor, MONITOR_DEFAULTTONEAREST);
    MONITORINFO information{};
    information.cbSize = sizeof information;
    if (nearest == nullptr || !GetMonitorInfoW(nearest, &information))
        return left;
    if (left < information.rcWork.left)
        return information.rcWork.left;
    if (left > information.rcWork.right)
        return information.rcWork.right;
    return left;
}

// With memory gone the reason cannot be shown either; the fixed text needs no memory.
void show_evaluation_failure(HWND preview, const char* reason) noexcept
{
    try {
        const std::wstring text = L"Cannot evaluate the text: " + std::wstring(utf8_to_wide(reason).text());
        SetWindowTextW(preview, text.c_str());
    } catch (...) {
        SetWindowTextW(preview, L"Cannot evaluate the text");
    }
}

} // namespace

const preferences_dialog::command preferences_dialog::commands[] = {
    {IDC_SCRIPT, EN_KILLFOCUS, &preferences_dialog::write_text_setting},
    {IDC_SCRIPT, EN_CHANGE, &preferences_dialog::refresh_preview_on_change},
    {IDC_OUTPUT_PATH, EN_KILLFOCUS, &preferences_dialog::write_text_setting},
    {IDC_EXIT_TEXT, EN_KILLFOCUS, &preferences_dialog::write_text_setting},
    {IDC_BROWSE, any_notification, &preferences_dialog::browse_for_output_file},
    {IDC_ENCODING, CBN_SELENDOK, &preferences_dialog::write_encoding},
    {IDC_LOG_MODE, any_notification, &preferences_dialog::write_flag},
    {IDC_SAVE_TO_FILE, any_notification, &preferences_dialog::write_flag},
    {IDC_COPY_TO_CLIPBOARD, any_notification, &preferences_dialog::write_flag},
    {IDC_DELAY_ENABLED, any_notification, &preferences_dialog::write_flag},
    {IDC_EVENTS, any_notification, &preferences_dialog::show_events_menu},
    {IDC_DELAY_MS, EN_KILLFOCUS, &preferences_dialog::write_delay},
};

HWND preferences_dialog::create(HWND parent) noexcept
{
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_UPDOWN_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    return CreateDialogParamW(this_module(), MAKEINTRESOURCEW(IDD_PREFERENCES), parent, dialog_procedure,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK preferences_dialog::dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    preferences_dialog* page;
    if (message == WM_INITDIALOG) {
        page = reinterpret_cast<preferences_dialog*>(lparam);
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        page->window_ = window;
    } else {
        page = reinterpret_cast<preferences_dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (page == nullptr)
        return FALSE;
    // Nothing may unwind through the system's frames: a failure leaves the message to the default processing.
    try {
        return page->on_message(message, wparam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR preferences_dialog::on_message(UINT message, WPARAM wparam)
{
    switch (message) {
    case WM_INITDIALOG:
        return on_init_dialog();
    case WM_COMMAND:
        return on_command(LOWORD(wparam), HIWORD(wparam)) ? TRUE : FALSE;
    case WM_DESTROY:
        on_destroy();
        return FALSE;
    case WM_REFRESH_PREVIEW:
        refresh_preview();
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL preferences_dialog::on_init_dialog()
{
    open_preferences_window(window_);

    link_ = std::make_unique<hyperlink_control>();
    if (link_->attach(GetDlgItem(window_, IDC_LINK)))
        link_->initialise();
    link_->set_target(link_target);

    uSetDlgItemText(window_, IDC_SCRIPT, now_playing_script.text());
    uSetDlgItemText(window_, IDC_OUTPUT_PATH, output_path.text());
    uSetDlgItemText(window_, IDC_EXIT_TEXT, exit_text.text());

    encoding_combo_ = GetDlgItem(window_, IDC_ENCODING);
    for (const char* label : encoding_labels)
        SendMessageW(encoding_combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(utf8_to_wide(label).text()));
    SendMessageW(encoding_combo_, CB_SETCURSEL, static_cast<WPARAM>(output_encoding.value()), 0);

    CheckDlgButton(window_, IDC_LOG_MODE, log_mode.value() != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, IDC_DELAY_ENABLED,
                   event_settings.word(event_word::delay_enabled) != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, IDC_SAVE_TO_FILE,
                   output_targets.word(output_target_word::save_to_file) != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, IDC_COPY_TO_CLIPBOARD,
                   output_targets.word(output_target_word::copy_to_clipboard) != 0 ? BST_CHECKED : BST_UNCHECKED);

    const HWND spin = GetDlgItem(window_, IDC_DELAY_SPIN);
    SendMessageW(spin, UDM_SETRANGE32, 0, 0x7FFFFFFF);
    SendMessageW(spin, UDM_SETPOS32, 0,
                 static_cast<LPARAM>(static_cast<std::int32_t>(event_settings.word(event_word::delay_ms))));

    refresh_preview();
    update_enabled_states();
    initialised_ = true;
    return TRUE;
}

bool preferences_dialog::on_command(int control, int notification)
{
    for (const command& entry : commands) {
        if (entry.control == control &&
            (entry.notification == any_notification || entry.notification == notification)) {
            (this->*entry.run)(control);
            return true;
        }
    }
    return false;
}

void preferences_dialog::on_destroy()
{
    close_preferences_window();
    link_.reset();
}

void preferences_dialog::refresh_preview() noexcept
{
    if (window_ == nullptr || !IsWindow(window_))
        return;
    const HWND preview = GetDlgItem(window_, IDC_PREVIEW);
    try {
        utf8_string script;
        uGetDlgItemText(window_, IDC_SCRIPT, &script);
        utf8_string text;
        if (!format_now_playing(script.c_str(), text))
            text.assign("COMPILE ERROR");
        uSetWindowText(preview, text.c_str());
    } catch (const std::exception& error) {
        // A missing host service or a failing host leaves the page usable and says so in the preview.
        show_evaluation_failure(preview, error.what());
    } catch (...) {
        SetWindowTextW(preview, L"Cannot evaluate the text");
    }
}

void preferences_dialog::refresh_preview_on_change(int)
{
    refresh_preview();
}

void preferences_dialog::update_enabled_states()
{
    const BOOL saving = checked(window_, IDC_SAVE_TO_FILE);
    for (int control : {IDC_OUTPUT_PATH, IDC_BROWSE, IDC_ENCODING, IDC_LOG_MODE})
        EnableWindow(GetDlgItem(window_, control), saving);
    const BOOL delaying = checked(window_, IDC_DELAY_ENABLED);
    for (int control : {IDC_DELAY_MS, IDC_DELAY_SPIN})
        EnableWindow(GetDlgItem(window_, control), delaying);
}

void preferences_dialog::write_text_setting(int control)
{
    utf8_string text;
    uGetDlgItemText(window_, static_cast<UINT>(control), &text);
    config_string& setting = control == IDC_SCRIPT        ? now_playing_script
                             : control == IDC_OUTPUT_PATH ? output_path
                                                          : exit_text;
    setting.set(text.c_str());
}

void preferences_dialog::write_encoding(int)
{
    output_encoding.set(static_cast<std::int32_t>(SendMessageW(encoding_combo_, CB_GETCURSEL, 0, 0)));
}

void preferences_dialog::write_flag(int control)
{
    const std::uint32_t value = checked(window_, control) ? 1 : 0;
    switch (control) {
    case IDC_LOG_MODE:
        log_mode.set(static_cast<std::int32_t>(value));
        break;
    case IDC_SAVE_TO_FILE:
        output_targets.set_word(output_target_word::save_to_file, value);
        break;
    case IDC_COPY_TO_CLIPBOARD:
        output_targets.set_word(output_target_word::copy_to_clipboard, value);
        break;
    default:
        event_settings.set_word(event_word::delay_enabled, value);
        break;
    }
    update_enabled_states();
}

void preferences_dialog::write_delay(int)
{
    if (initialised_)
        event_settings.set_word(event_word::delay_ms,
                                static_cast<std::uint32_t>(GetDlgItemInt(window_, IDC_DELAY_MS, nullptr, TRUE)));
}

void preferences_dialog::browse_for_output_file(int)
{
    utf8_string path;
    uGetDlgItemText(window_, IDC_OUTPUT_PATH, &path);
    if (!uGetOpenFileName(window_, "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|", 0, "txt", "Save file...",
                          path.c_str(), &path, 1))
        return;
    uSetDlgItemText(window_, IDC_OUTPUT_PATH, path.c_str());
    output_path.set(path.c_str());
}

void preferences_dialog::show_events_menu(int)
{
    const popup_menu menu;
    for (const event_item& item : event_items)
        AppendMenuW(menu.get(), MF_STRING | (event_settings.word(item.flag) != 0 ? MF_CHECKED : MF_UNCHECKED), item.id,
                    item.label);
    RECT button;
    GetWindowRect(GetDlgItem(window_, IDC_EVENTS), &button);
    const LONG left = clamped_menu_left(button.left, button.bottom);
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY, left, button.bottom, 0, window_, nullptr));
    for (const event_item& item : event_items) {
        if (item.id == chosen)
            event_settings.set_word(item.flag, event_settings.word(item.flag) != 0 ? 0 : 1);
    }
}

} // namespace velmora
