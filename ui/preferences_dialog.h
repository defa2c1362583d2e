#pragma once

#include <memory>

#include <windows.h>

#include "settings/added_outputs.h"
#include "ui/hyperlink_control.h"

namespace velmora {

// The preferences page: every setting in a control, written at once on its notification, and a live preview of
// the script in the edit box. The output list chooses the output the controls edit, but the delay's, which all
// outputs share. One object serves each page window in turn.
class preferences_dialog {
public:
    static constexpr wchar_t link_target[] = L"https://velmora.example.org/";

    preferences_dialog() noexcept = default;
    preferences_dialog(const preferences_dialog&) = delete;
    preferences_dialog& operator=(const preferences_dialog&) = delete;

    // A modeless child dialog of the parent; null when it can't be made.
    HWND create(HWND parent) noexcept;

    HWND window() const noexcept { return window_; }
    const hyperlink_control* link() const noexcept { return link_.get(); }

private:
    using action = void (preferences_dialog::*)(int control);
    struct command {
        int control;
        int notification; // any_notification: every notification of the control
        action run;
    };
    static constexpr int any_notification = -1;
    static const command commands[];

    static INT_PTR CALLBACK dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
    INT_PTR on_message(UINT message, WPARAM wparam);
    BOOL on_init_dialog();
    bool on_command(int control, int notification);
    void on_destroy();

    void refresh_preview() noexcept;
    void update_enabled_states();
    // The added output being edited, or null for output 1.
    output_settings* selected_added() noexcept;
    void show_selected_output();
    void fill_output_list();
    void keep_text_edits();
    void select_output(int control);
    void add_output(int control);
    void remove_output(int control);
    void write_text_setting(int control);
    void write_encoding(int control);
    void write_flag(int control);
    void write_delay(int control);
    void browse_for_output_file(int control);
    void show_events_menu(int control);
    void open_overlay_dialog(int control);
    void open_cover_art_dialog(int control);
    void refresh_preview_on_change(int control);

    HWND window_ = nullptr;
    std::unique_ptr<hyperlink_control> link_;
    HWND encoding_combo_ = nullptr;
    HWND output_list_ = nullptr;
    // 0 for output 1, n for the added output n + 1.
    std::size_t selected_ = 0;
    bool initialised_ = false;
};

} // namespace velmora
