#pragma once

#include <memory>

#include <windows.h>

#include "win32/gdi_object.h"

namespace velmora {

// Parses "red,green,blue" (decimal parts as wcstol reads them, each cut to 8 bits) into a COLORREF, or gives
// CLR_INVALID when a part is missing or the red or green part reads as -1. The text is cut at its commas.
COLORREF parse_colour(wchar_t* text) noexcept;

// Turns an existing static text control into a link: link colours from the user's browser settings, an underlined
// font, the hand cursor over the text, a tooltip with the target, a focus rectangle, and the shell's "open" on a
// click, Enter or Space.
class hyperlink_control {
public:
    static constexpr COLORREF default_link_colour = RGB(0, 0, 255);
    static constexpr COLORREF default_visited_colour = RGB(128, 0, 128);

    hyperlink_control() noexcept = default;
    hyperlink_control(const hyperlink_control&) = delete;
    hyperlink_control& operator=(const hyperlink_control&) = delete;
    ~hyperlink_control();

    // Installs the control's window procedure on a window that already exists.
    bool attach(HWND window) noexcept;
    // Once, right after a successful attach.
    void initialise();
    // Ends the link and destroys its tooltip. The previous window procedure goes back where the control's own is
    // still the installed one; under a subclass installed after ours, our procedure stays in the chain and only
    // passes messages on, so that the object may go at once whatever sits above it.
    void detach() noexcept;

    bool set_caption(const wchar_t* caption) noexcept;
    bool set_target(const wchar_t* target) noexcept;

    const wchar_t* caption() const noexcept { return caption_.get(); }
    const wchar_t* target() const noexcept { return target_.get(); }
    const RECT& label_rectangle() const noexcept { return label_; }
    COLORREF link_colour() const noexcept { return link_colour_; }
    COLORREF visited_colour() const noexcept { return visited_colour_; }
    bool visited() const noexcept { return visited_; }
    HWND tooltip() const noexcept { return tooltip_; }

private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT pass_on(UINT message, WPARAM wparam, LPARAM lparam) const;

    const wchar_t* drawn_text() const noexcept { return caption_ ? caption_.get() : target_.get(); }
    UINT alignment() const noexcept;
    bool in_label(LPARAM point) const noexcept;
    void compute_label_rectangle();
    void register_target_with_tooltip() noexcept;
    void read_colours_from_registry() noexcept;
    void paint(HDC given);
    void activate() noexcept;
    void relay_to_tooltip(UINT message, WPARAM wparam, LPARAM lparam) noexcept;
    void invalidate(bool update_now) const noexcept;
    void destroy_tooltip() noexcept;

    HWND window_ = nullptr;
    WNDPROC previous_procedure_ = DefWindowProcW;
    std::unique_ptr<wchar_t[]> caption_;
    std::unique_ptr<wchar_t[]> target_;
    HCURSOR hand_cursor_ = nullptr;
    gdi_object<HFONT> link_font_;
    HFONT normal_font_ = nullptr;
    RECT label_{};
    HWND tooltip_ = nullptr;
    COLORREF link_colour_ = default_link_colour;
    COLORREF visited_colour_ = default_visited_colour;
    bool visited_ = false;
};

} // namespace velmora
