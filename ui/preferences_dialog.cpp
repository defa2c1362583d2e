#include "ui/preferences_dialog.h"

#include <exception>
#include <string>

#include <commctrl.h>

#include "boundary/shared_library.h"
#include "events/now_playing_request.h"
#include "formatting/text_formatting.h"
#include "settings/component_settings.h"
#include "text/text_conversion.h"
#include "ui/cover_art_dialog.h"
#include "ui/overlay_dialog.h"
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

// "1: now playing.txt": the output's number and its file's name, or "(no file)".
std::wstring output_label(std::size_t number, const char* path)
{
    const std::wstring wide_path = utf8_to_wide(path).text();
    const std::size_t slash = wide_path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? wide_path : wide_path.substr(slash + 1);
    return std::to_wstring(number) + L": " + (name.empty() ? L"(no file)" : name);
}

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
    {IDC_OUTPUT_LIST, CBN_SELCHANGE, &preferences_dialog::select_output},
    {IDC_ADD_OUTPUT, BN_CLICKED, &preferences_dialog::add_output},
    {IDC_REMOVE_OUTPUT, BN_CLICKED, &preferences_dialog::remove_output},
    {IDC_OVERLAY, BN_CLICKED, &preferences_dialog::open_overlay_dialog},
    {IDC_COVER_ART, BN_CLICKED, &preferences_dialog::open_cover_art_dialog},
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

    encoding_combo_ = GetDlgItem(window_, IDC_ENCODING);
    for (const char* label : encoding_labels)
        SendMessageW(encoding_combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(utf8_to_wide(label).text()));
    output_list_ = GetDlgItem(window_, IDC_OUTPUT_LIST);
    // Long file names show whole in the open list, whatever the closed box's width.
    SendMessageW(output_list_, CB_SETDROPPEDWIDTH, 200, 0);
    selected_ = 0;
    fill_output_list();
    show_selected_output();

    CheckDlgButton(window_, IDC_DELAY_ENABLED,
                   event_settings.word(event_word::delay_enabled) != 0 ? BST_CHECKED : BST_UNCHECKED);

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
    EnableWindow(GetDlgItem(window_, IDC_COPY_TO_CLIPBOARD), selected_ == 0);
    EnableWindow(GetDlgItem(window_, IDC_ADD_OUTPUT), added_outputs.outputs().size() < max_added_outputs);
    EnableWindow(GetDlgItem(window_, IDC_REMOVE_OUTPUT), selected_ != 0);
}

output_settings* preferences_dialog::selected_added() noexcept
{
    std::vector<output_settings>& added = added_outputs.outputs();
    return selected_ != 0 && selected_ <= added.size() ? &added[selected_ - 1] : nullptr;
}

// The controls show the selected output's settings; the clipboard's box is output 1's alone.
void preferences_dialog::show_selected_output()
{
    const output_settings* added = selected_added();
    uSetDlgItemText(window_, IDC_SCRIPT, added != nullptr ? added->script.c_str() : now_playing_script.text());
    uSetDlgItemText(window_, IDC_OUTPUT_PATH, added != nullptr ? added->path.c_str() : output_path.text());
    uSetDlgItemText(window_, IDC_EXIT_TEXT, added != nullptr ? added->exit_text.c_str() : exit_text.text());
    SendMessageW(encoding_combo_, CB_SETCURSEL,
                 static_cast<WPARAM>(added != nullptr ? added->encoding : output_encoding.value()), 0);
    const bool logging = added != nullptr ? added->log_mode : log_mode.value() != 0;
    const bool saving =
        added != nullptr ? added->save_to_file : output_targets.word(output_target_word::save_to_file) != 0;
    const bool copying = added == nullptr && output_targets.word(output_target_word::copy_to_clipboard) != 0;
    CheckDlgButton(window_, IDC_LOG_MODE, logging ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, IDC_SAVE_TO_FILE, saving ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, IDC_COPY_TO_CLIPBOARD, copying ? BST_CHECKED : BST_UNCHECKED);
    if (initialised_) {
        refresh_preview();
        update_enabled_states();
    }
}

void preferences_dialog::fill_output_list()
{
    SendMessageW(output_list_, CB_RESETCONTENT, 0, 0);
    SendMessageW(output_list_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(output_label(1, output_path.text()).c_str()));
    const std::vector<output_settings>& added = added_outputs.outputs();
    for (std::size_t index = 0; index < added.size(); ++index)
        SendMessageW(output_list_, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(output_label(index + 2, added[index].path.c_str()).c_str()));
    SendMessageW(output_list_, CB_SETCURSEL, selected_, 0);
}

// What the edits hold goes to the output they show before another is shown: a mnemonic may press a button
// without taking the focus from an edit, whose own write comes only when it loses the focus.
void preferences_dialog::keep_text_edits()
{
    for (int control : {IDC_SCRIPT, IDC_OUTPUT_PATH, IDC_EXIT_TEXT})
        write_text_setting(control);
}

void preferences_dialog::select_output(int)
{
    const LRESULT chosen = SendMessageW(output_list_, CB_GETCURSEL, 0, 0);
    if (chosen == CB_ERR || static_cast<std::size_t>(chosen) > added_outputs.outputs().size())
        return;
    keep_text_edits();
    selected_ = static_cast<std::size_t>(chosen);
    SendMessageW(output_list_, CB_SETCURSEL, selected_, 0);
    show_selected_output();
}

void preferences_dialog::add_output(int)
{
    std::vector<output_settings>& added = added_outputs.outputs();
    if (added.size() >= max_added_outputs)
        return;
    keep_text_edits();
    added.push_back(default_added_output());
    on_output_added();
    selected_ = added.size();
    fill_output_list();
    show_selected_output();
}

void preferences_dialog::remove_output(int)
{
    std::vector<output_settings>& added = added_outputs.outputs();
    if (selected_ == 0 || selected_ > added.size())
        return;
    keep_text_edits();
    added.erase(added.begin() + static_cast<std::ptrdiff_t>(selected_ - 1));
    on_output_removed(selected_);
    --selected_;
    fill_output_list();
    show_selected_output();
}

void preferences_dialog::write_text_setting(int control)
{
    utf8_string text;
    uGetDlgItemText(window_, static_cast<UINT>(control), &text);
    if (output_settings* added = selected_added()) {
        std::string& setting = control == IDC_SCRIPT        ? added->script
                               : control == IDC_OUTPUT_PATH ? added->path
                                                            : added->exit_text;
        setting = text.c_str();
    } else {
        config_string& setting = control == IDC_SCRIPT        ? now_playing_script
                                 : control == IDC_OUTPUT_PATH ? output_path
                                                              : exit_text;
        setting.set(text.c_str());
    }
    if (control == IDC_OUTPUT_PATH)
        fill_output_list();
}

void preferences_dialog::write_encoding(int)
{
    const auto encoding = static_cast<std::int32_t>(SendMessageW(encoding_combo_, CB_GETCURSEL, 0, 0));
    if (output_settings* added = selected_added())
        added->encoding = encoding;
    else
        output_encoding.set(encoding);
}

void preferences_dialog::write_flag(int control)
{
    const std::uint32_t value = checked(window_, control) ? 1 : 0;
    output_settings* added = selected_added();
    switch (control) {
    case IDC_LOG_MODE:
        if (added != nullptr)
            added->log_mode = value != 0;
        else
            log_mode.set(static_cast<std::int32_t>(value));
        break;
    case IDC_SAVE_TO_FILE:
        if (added != nullptr)
            added->save_to_file = value != 0;
        else
            output_targets.set_word(output_target_word::save_to_file, value);
        break;
    case IDC_COPY_TO_CLIPBOARD:
        if (added == nullptr)
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
    write_text_setting(IDC_OUTPUT_PATH);
}

void preferences_dialog::open_overlay_dialog(int)
{
    show_overlay_dialog(window_);
}

void preferences_dialog::open_cover_art_dialog(int)
{
    show_cover_art_dialog(window_);
}

void preferences_dialog::show_events_menu(int)
{
    output_settings* added = selected_added();
    const auto switched_on = [added](const event_item& item) {
        return added != nullptr ? added->*event_switch(item.flag) : event_settings.word(item.flag) != 0;
    };
    const popup_menu menu;
    for (const event_item& item : event_items)
        AppendMenuW(menu.get(), MF_STRING | (switched_on(item) ? MF_CHECKED : MF_UNCHECKED), item.id, item.label);
    RECT button;
    GetWindowRect(GetDlgItem(window_, IDC_EVENTS), &button);
    const LONG left = clamped_menu_left(button.left, button.bottom);
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY, left, button.bottom, 0, window_, nullptr));
    for (const event_item& item : event_items) {
        if (item.id != chosen)
            continue;
        if (added != nullptr)
            added->*event_switch(item.flag) = !(added->*event_switch(item.flag));
        else
            event_settings.set_word(item.flag, event_settings.word(item.flag) != 0 ? 0 : 1);
    }
}

} // namespace velmora
