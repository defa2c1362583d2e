#include "ui/hyperlink_control.h"

#include <cwchar>
#include <new>

#include <commctrl.h>
#include <shellapi.h>

#include "win32/paint_session.h"
#include "win32/registry_key.h"
#include "win32/this_module.h"
#include "win32/window_dc.h"

namespace velmora {

namespace {

constexpr wchar_t binding_property[] = L"velmora.hyperlink_control";
constexpr wchar_t previous_property[] = L"velmora.hyperlink_control.previous";
constexpr wchar_t browser_settings_key[] = L"Software\\Microsoft\\Internet Explorer\\Settings";
constexpr std::size_t colour_text_units = 12;
constexpr UINT_PTR tooltip_tool_id = 1;

// A copy of the text, or null when it can't be allocated.
std::unique_ptr<wchar_t[]> copy_text(const wchar_t* text) noexcept
{
    const std::size_t units = std::wcslen(text) + 1;
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[units]);
    if (copy)
        std::wmemcpy(copy.get(), text, units);
    return copy;
}

// The registry value as a colour, or CLR_INVALID when it is missing, too long, of another type or unterminated.
COLORREF colour_value(HKEY key, const wchar_t* name) noexcept
{
    wchar_t text[colour_text_units] = {};
    DWORD type = 0;
    DWORD bytes = sizeof text;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS)
        return CLR_INVALID;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes % 2 != 0)
        return CLR_INVALID;
    if (bytes != 0 && text[bytes / 2 - 1] != L'\0')
        return CLR_INVALID;
    return parse_colour(text);
}

} // namespace

COLORREF parse_colour(wchar_t* text) noexcept
{
    long parts[2] = {-1, -1};
    wchar_t* cursor = text;
    for (long& part : parts) {
        wchar_t* scan = cursor;
        while (*scan != L'\0' && *scan != L',')
            scan = CharNextW(scan);
        if (*scan == L',') {
            *scan = L'\0';
            part = std::wcstol(cursor, nullptr, 10);
            cursor = scan + 1;
        }
        if (part == -1)
            return CLR_INVALID;
    }
    if (*cursor == L'\0')
        return CLR_INVALID;
    const long blue = std::wcstol(cursor, nullptr, 10);
    return static_cast<COLORREF>(((blue & 0xFF) << 16) | ((parts[1] & 0xFF) << 8) | (parts[0] & 0xFF));
}

hyperlink_control::~hyperlink_control()
{
    detach();
}

bool hyperlink_control::attach(HWND window) noexcept
{
    // A window that still carries our procedure would have it call itself.
    if (GetPropW(window, previous_property) != nullptr || !SetPropW(window, binding_property, this))
        return false;
    const LONG_PTR previous =
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&hyperlink_control::window_procedure));
    if (previous == 0) {
        RemovePropW(window, binding_property);
        return false;
    }
    if (!SetPropW(window, previous_property, reinterpret_cast<HANDLE>(previous))) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, previous);
        RemovePropW(window, binding_property);
        return false;
    }
    window_ = window;
    previous_procedure_ = reinterpret_cast<WNDPROC>(previous);
    return true;
}

void hyperlink_control::detach() noexcept
{
    destroy_tooltip();
    if (window_ == nullptr)
        return;
    // Putting our predecessor back under a later subclass would cut that subclass out of the chain, so there our
    // procedure stays and finds the predecessor through the window's property.
    const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window_, GWLP_WNDPROC));
    if (current == &hyperlink_control::window_procedure &&
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_procedure_)) != 0)
        RemovePropW(window_, previous_property);
    RemovePropW(window_, binding_property);
    window_ = nullptr;
    previous_procedure_ = DefWindowProcW;
}

void hyperlink_control::destroy_tooltip() noexcept
{
    // A pop-up's owner is the top-level window, not the static it was created for, so it would outlive the page.
    if (tooltip_ != nullptr && IsWindow(tooltip_))
        DestroyWindow(tooltip_);
    tooltip_ = nullptr;
}

void hyperlink_control::initialise()
{
    wchar_t class_name[8];
    if (GetClassNameW(window_, class_name, 8) > 0 && lstrcmpiW(class_name, L"static") == 0) {
        const LONG style = GetWindowLongW(window_, GWL_STYLE);
        if ((style & SS_NOTIFY) == 0)
            SetWindowLongW(window_, GWL_STYLE, style | SS_NOTIFY);
    }

    hand_cursor_ = LoadCursorW(nullptr, IDC_HAND);

    normal_font_ = reinterpret_cast<HFONT>(SendMessageW(GetParent(window_), WM_GETFONT, 0, 0));
    if (normal_font_ == nullptr)
        normal_font_ = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    if (normal_font_ != nullptr && link_font_.get() == nullptr) {
        LOGFONTW description{};
        GetObjectW(normal_font_, sizeof description, &description);
        description.lfUnderline = 1;
        link_font_.reset(CreateFontIndirectW(&description));
    }

    tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, window_, nullptr, this_module(), nullptr);

    if (!caption_) {
        const int length = GetWindowTextLengthW(window_);
        if (length > 0) {
            std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[static_cast<std::size_t>(length) + 1]);
            if (text && GetWindowTextW(window_, text.get(), length + 1) > 0)
                set_caption(text.get());
        }
    }

    compute_label_rectangle();

    if (target_)
        register_target_with_tooltip();
    else if (caption_)
        set_target(caption_.get());

    read_colours_from_registry();
}

bool hyperlink_control::set_caption(const wchar_t* caption) noexcept
{
    caption_ = copy_text(caption);
    if (!caption_)
        return false;
    compute_label_rectangle();
    if (window_ != nullptr)
        SetWindowTextW(window_, caption_.get());
    return true;
}

bool hyperlink_control::set_target(const wchar_t* target) noexcept
{
    target_ = copy_text(target);
    if (!target_)
        return false;
    if (!caption_)
        compute_label_rectangle();
    if (tooltip_ != nullptr)
        register_target_with_tooltip();
    return true;
}

UINT hyperlink_control::alignment() const noexcept
{
    const LONG style = GetWindowLongW(window_, GWL_STYLE);
    if ((style & SS_CENTER) != 0)
        return DT_CENTER;
    if ((style & SS_RIGHT) != 0)
        return DT_RIGHT;
    return DT_LEFT;
}

void hyperlink_control::compute_label_rectangle()
{
    if (!IsWindow(window_) || drawn_text() == nullptr)
        return;
    const window_dc dc(window_);
    RECT client;
    GetClientRect(window_, &client);
    label_ = client;
    const UINT align = alignment();
    {
        const selected_object font(dc.get(), link_font_.get());
        DrawTextW(dc.get(), drawn_text(), -1, &label_, DT_CALCRECT | DT_WORDBREAK | align);
    }
    if (align == DT_CENTER)
        OffsetRect(&label_, (client.right - label_.right) / 2, 0);
    else if (align == DT_RIGHT)
        OffsetRect(&label_, client.right - label_.right, 0);
}

void hyperlink_control::register_target_with_tooltip() noexcept
{
    SendMessageW(tooltip_, TTM_ACTIVATE, TRUE, 0);
    TOOLINFOW tool{};
    tool.cbSize = 48;
    tool.uFlags = 0;
    tool.hwnd = window_;
    tool.uId = tooltip_tool_id;
    tool.rect = label_;
    tool.hinst = this_module();
    tool.lpszText = target_.get();
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void hyperlink_control::read_colours_from_registry() noexcept
{
    const registry_key key(HKEY_CURRENT_USER, browser_settings_key, KEY_READ | KEY_WRITE);
    if (key.get() == nullptr)
        return;
    const COLORREF link = colour_value(key.get(), L"Anchor Color");
    if (link != CLR_INVALID)
        link_colour_ = link;
    const COLORREF visited = colour_value(key.get(), L"Anchor Color Visited");
    if (visited != CLR_INVALID)
        visited_colour_ = visited;
}

bool hyperlink_control::in_label(LPARAM point) const noexcept
{
    const POINT where{static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    return PtInRect(&label_, where) != FALSE;
}

void hyperlink_control::invalidate(bool update_now) const noexcept
{
    InvalidateRect(window_, nullptr, TRUE);
    if (update_now)
        UpdateWindow(window_);
}

void hyperlink_control::paint(HDC given)
{
    const paint_session session(window_, given);
    const HDC dc = session.get();
    RECT client;
    GetClientRect(window_, &client);
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
        GetParent(window_), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window_)));
    if (brush != nullptr)
        FillRect(dc, &client, brush);
    SetBkMode(dc, TRANSPARENT);
    const COLORREF colour = !IsWindowEnabled(window_) ? GetSysColor(COLOR_GRAYTEXT)
                            : visited_                ? visited_colour_
                                                      : link_colour_;
    const COLORREF previous_colour = SetTextColor(dc, colour);
    {
        const selected_object font(dc, link_font_.get() != nullptr ? link_font_.get() : normal_font_);
        const wchar_t* text = drawn_text();
        RECT label = label_;
        if (text != nullptr)
            DrawTextW(dc, text, -1, &label, DT_WORDBREAK | alignment());
        if (GetFocus() == window_)
            DrawFocusRect(dc, &label_);
    }
    SetTextColor(dc, previous_colour);
}

void hyperlink_control::activate() noexcept
{
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", target_.get(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) {
        visited_ = true;
        invalidate(false);
    }
}

void hyperlink_control::relay_to_tooltip(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    if (!IsWindow(tooltip_))
        return;
    MSG relayed{window_, message, wparam, lparam, 0, {0, 0}};
    SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

LRESULT hyperlink_control::pass_on(UINT message, WPARAM wparam, LPARAM lparam) const
{
    return CallWindowProcW(previous_procedure_, window_, message, wparam, lparam);
}

LRESULT hyperlink_control::handle(UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message >= WM_MOUSEFIRST && message <= WM_XBUTTONDBLCLK)
        relay_to_tooltip(message, wparam, lparam);

    switch (message) {
    case WM_DESTROY:
        destroy_tooltip();
        return pass_on(message, wparam, lparam);
    case WM_SIZE:
        compute_label_rectangle();
        invalidate(false);
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        invalidate(false);
        return 0;
    case WM_ENABLE:
        invalidate(true);
        return 0;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        paint(reinterpret_cast<HDC>(wparam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETCURSOR: {
        POINT cursor;
        GetCursorPos(&cursor);
        ScreenToClient(window_, &cursor);
        if (target_ && PtInRect(&label_, cursor))
            return 1;
        return pass_on(message, wparam, lparam);
    }
    case WM_SETFONT:
        normal_font_ = reinterpret_cast<HFONT>(wparam);
        if (lparam != 0)
            invalidate(true);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(normal_font_);
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS;
    case WM_CHAR:
        if (wparam == VK_RETURN || wparam == VK_SPACE)
            activate();
        return 0;
    case WM_UPDATEUISTATE:
        return 0;
    case WM_MOUSEMOVE:
        if (target_ && in_label(lparam)) {
            SetCursor(hand_cursor_);
            return 0;
        }
        return pass_on(message, wparam, lparam);
    case WM_LBUTTONDOWN:
        if (in_label(lparam)) {
            SetFocus(window_);
            SetCapture(window_);
        }
        return 0;
    case WM_LBUTTONUP:
        if (GetCapture() == window_) {
            ReleaseCapture();
            if (in_label(lparam))
                activate();
        }
        return 0;
    default:
        return pass_on(message, wparam, lparam);
    }
}

LRESULT CALLBACK hyperlink_control::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    auto* control = static_cast<hyperlink_control*>(GetPropW(window, binding_property));
    if (control == nullptr || message == WM_NCDESTROY) {
        // Detached under a later subclass, or the window's last message: nothing of ours may stay bound to it.
        const auto previous = reinterpret_cast<WNDPROC>(GetPropW(window, previous_property));
        if (message == WM_NCDESTROY) {
            if (control != nullptr)
                control->detach();
            RemovePropW(window, previous_property);
        }
        return CallWindowProcW(previous != nullptr ? previous : DefWindowProcW, window, message, wparam, lparam);
    }
    // Nothing may unwind through the system's frames; what fails here leaves the message to the old procedure.
    try {
        return control->handle(message, wparam, lparam);
    } catch (...) {
        return control->pass_on(message, wparam, lparam);
    }
}

} // namespace velmora
