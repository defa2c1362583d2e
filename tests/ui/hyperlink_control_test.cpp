#include "ui/hyperlink_control.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <commctrl.h>

#include <gtest/gtest.h>

#include "tests/fuzz_rounds.h"
#include "tests/ui/later_subclass.h"

namespace velmora {
namespace {

COLORREF parse(std::wstring text)
{
    return parse_colour(text.data());
}

TEST(ColourParser, ReadsThreeDecimalPartsCutToEightBits)
{
    EXPECT_EQ(parse(L"0,128,0"), RGB(0, 128, 0));
    EXPECT_EQ(parse(L"10, 20, 30"), RGB(10, 20, 30));
    EXPECT_EQ(parse(L"1,2,3,4"), RGB(1, 2, 3));
    EXPECT_EQ(parse(L"a,b,c"), RGB(0, 0, 0));
    EXPECT_EQ(parse(L"256,0,0"), RGB(0, 0, 0));
    EXPECT_EQ(parse(L"300,0,0"), RGB(44, 0, 0));
    EXPECT_EQ(parse(L"5,6,-1"), RGB(5, 6, 255));
    EXPECT_EQ(parse(L"99999999999,0,0"), RGB(255, 0, 0)) << "saturated at the 32-bit maximum";
    for (const wchar_t* refused : {L"0,0", L"1,2,", L"-1,0,0", L"0,-1,0", L"", L"7"})
        EXPECT_EQ(parse(refused), CLR_INVALID) << refused;
}

// wcstol's decimal rules written out: leading blanks, a sign, digits up to the first other character, saturated.
long reference_number(const std::wstring& text)
{
    std::size_t at = text.find_first_not_of(L" \t\r\n\v\f");
    if (at == std::wstring::npos)
        return 0;
    const bool negative = text[at] == L'-';
    if (text[at] == L'-' || text[at] == L'+')
        ++at;
    long long value = 0;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at)
        value = std::min(value * 10 + (text[at] - L'0'), 1LL << 32);
    if (negative)
        return value > 2147483648LL ? LONG_MIN : static_cast<long>(-value);
    return value > LONG_MAX ? LONG_MAX : static_cast<long>(value);
}

COLORREF reference_colour(const std::wstring& text)
{
    const std::size_t first = text.find(L',');
    if (first == std::wstring::npos)
        return CLR_INVALID;
    const long red = reference_number(text.substr(0, first));
    if (red == -1)
        return CLR_INVALID;
    const std::size_t second = text.find(L',', first + 1);
    if (second == std::wstring::npos)
        return CLR_INVALID;
    const long green = reference_number(text.substr(first + 1, second - first - 1));
    if (green == -1 || second + 1 == text.size())
        return CLR_INVALID;
    const long blue = reference_number(text.substr(second + 1));
    return RGB(red & 0xFF, green & 0xFF, blue & 0xFF);
}

TEST(ColourParser, AgreesWithThePlainRulesOnRandomText)
{
    std::mt19937 random(fuzz_seed(99));
    const std::wstring alphabet = L"0123456789,,,-- \t+xa\u00E9\r";
    const std::wstring large[] = {L"2147483647", L"2147483648", L"99999999999", L"-2147483648", L"-2147483649"};
    for (unsigned long round = 0; round < fuzz_rounds(5000); ++round) {
        std::wstring text;
        const std::size_t pieces = random() % 10;
        for (std::size_t piece = 0; piece < pieces; ++piece) {
            if (random() % 8 == 0)
                text += large[random() % std::size(large)];
            else
                text += alphabet[random() % alphabet.size()];
        }
        ASSERT_EQ(parse(text), reference_colour(text)) << "round " << round;
    }
}

// A parent window with a static control to turn into a link.
class HyperlinkControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, settings_key);
        parent = CreateWindowExW(0, L"STATIC", L"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 200, nullptr,
                                 nullptr, nullptr, nullptr);
        label = CreateWindowExW(0, L"STATIC", L"link", WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 0, 300, 40, parent,
                                nullptr, nullptr, nullptr);
    }

    void TearDown() override
    {
        DestroyWindow(parent);
        RegDeleteTreeW(HKEY_CURRENT_USER, settings_key);
    }

    void set_registry_value(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
    {
        HKEY key;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, settings_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
        RegCloseKey(key);
    }

    void set_colour_text(const wchar_t* name, const std::wstring& text)
    {
        set_registry_value(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    void attach_and_initialise(hyperlink_control& link)
    {
        ASSERT_TRUE(link.attach(label));
        link.initialise();
    }

    static LPARAM point(int x, int y) { return MAKELPARAM(x, y); }

    static constexpr wchar_t settings_key[] = L"Software\\Microsoft\\Internet Explorer\\Settings";
    HWND parent = nullptr;
    HWND label = nullptr;
};

TEST_F(HyperlinkControl, TakesItsColoursFromTheBrowserSettings)
{
    set_colour_text(L"Anchor Color", L"0,128,0");
    set_colour_text(L"Anchor Color Visited", L"10, 20, 30");
    hyperlink_control link;
    attach_and_initialise(link);
    EXPECT_EQ(link.link_colour(), RGB(0, 128, 0));
    EXPECT_EQ(link.visited_colour(), RGB(10, 20, 30));
}

TEST_F(HyperlinkControl, KeepsItsDefaultsForMissingOrBadValues)
{
    {
        hyperlink_control link;
        attach_and_initialise(link);
        EXPECT_EQ(link.link_colour(), hyperlink_control::default_link_colour);
        EXPECT_EQ(link.visited_colour(), hyperlink_control::default_visited_colour);
        link.detach();
    }
    set_colour_text(L"Anchor Color", L"100,100,1000");
    const DWORD number = 0x00FF00;
    set_registry_value(L"Anchor Color Visited", REG_DWORD, &number, sizeof number);
    hyperlink_control link;
    attach_and_initialise(link);
    EXPECT_EQ(link.link_colour(), hyperlink_control::default_link_colour) << "12 characters do not fit";
    EXPECT_EQ(link.visited_colour(), hyperlink_control::default_visited_colour) << "not a text value";
    link.detach();

    set_colour_text(L"Anchor Color", L"0,0");
    set_colour_text(L"Anchor Color Visited", L"-1,0,0");
    hyperlink_control refused;
    attach_and_initialise(refused);
    EXPECT_EQ(refused.link_colour(), hyperlink_control::default_link_colour);
    EXPECT_EQ(refused.visited_colour(), hyperlink_control::default_visited_colour);
}

TEST_F(HyperlinkControl, TakesItsCaptionFromTheWindowAndCentresTheLabel)
{
    hyperlink_control link;
    attach_and_initialise(link);
    EXPECT_STREQ(link.caption(), L"link");
    EXPECT_STREQ(link.target(), L"link") << "the caption becomes the target";
    EXPECT_NE(GetWindowLongW(label, GWL_STYLE) & SS_NOTIFY, 0);
    const RECT& text = link.label_rectangle();
    RECT client;
    GetClientRect(label, &client);
    EXPECT_GT(text.right - text.left, 0);
    EXPECT_LT(text.right - text.left, client.right / 2);
    EXPECT_LE(std::abs((text.left - client.left) - (client.right - text.right)), 1) << "centred";
    EXPECT_GE(SendMessageW(link.tooltip(), TTM_GETTOOLCOUNT, 0, 0), 1);
}

TEST_F(HyperlinkControl, PressAndReleaseInsideTheTextActivateOnlyThere)
{
    hyperlink_control link;
    attach_and_initialise(link);
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring target(program);
    target = target.substr(0, target.find_last_of(L'\\') + 1) + L"harmless_target.exe";
    ASSERT_TRUE(link.set_target(target.c_str()));
    const RECT text = link.label_rectangle();
    const int inside_x = (text.left + text.right) / 2;
    const int inside_y = (text.top + text.bottom) / 2;

    SetFocus(parent);
    SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, point(text.right + 20, inside_y));
    EXPECT_NE(GetFocus(), label) << "a press outside the text does nothing";
    EXPECT_NE(GetCapture(), label);

    SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, point(inside_x, inside_y));
    EXPECT_EQ(GetFocus(), label);
    EXPECT_EQ(GetCapture(), label);
    SendMessageW(label, WM_LBUTTONUP, 0, point(text.right + 20, inside_y));
    EXPECT_NE(GetCapture(), label);
    EXPECT_FALSE(link.visited()) << "released outside the text";

    EXPECT_EQ(SendMessageW(label, WM_CHAR, L'x', 0), 0);
    EXPECT_FALSE(link.visited());
    EXPECT_EQ(SendMessageW(label, WM_GETDLGCODE, 0, 0), DLGC_WANTCHARS);

    SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, point(inside_x, inside_y));
    SendMessageW(label, WM_LBUTTONUP, 0, point(inside_x, inside_y));
    EXPECT_TRUE(link.visited()) << "a completed click opens the target";
}

TEST_F(HyperlinkControl, EnterAndSpaceOpenTheTargetAndAFailedOpenChangesNothing)
{
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program);
    folder = folder.substr(0, folder.find_last_of(L'\\') + 1);
    for (wchar_t key : {L'\r', L' '}) {
        hyperlink_control link;
        attach_and_initialise(link);
        ASSERT_TRUE(link.set_target((folder + L"no such program.velmora").c_str()));
        SendMessageW(label, WM_CHAR, key, 0);
        EXPECT_FALSE(link.visited()) << "the shell could not open it";
        ASSERT_TRUE(link.set_target((folder + L"harmless_target.exe").c_str()));
        SendMessageW(label, WM_CHAR, key, 0);
        EXPECT_TRUE(link.visited()) << static_cast<int>(key);
        link.detach();
    }
}

// Whether a pixel of the colour is in the painted control.
bool painted_with(HWND window, COLORREF colour)
{
    RECT client;
    GetClientRect(window, &client);
    const HDC screen = GetDC(window);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    bool found = false;
    for (int y = 0; y < client.bottom && !found; ++y)
        for (int x = 0; x < client.right && !found; ++x)
            found = GetPixel(memory, x, y) == colour;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return found;
}

TEST_F(HyperlinkControl, DrawsInLinkColourAndInGreyWhileDisabled)
{
    set_colour_text(L"Anchor Color", L"0,128,0");
    hyperlink_control link;
    attach_and_initialise(link);
    EXPECT_TRUE(painted_with(label, RGB(0, 128, 0)));
    EnableWindow(label, FALSE);
    EXPECT_FALSE(painted_with(label, RGB(0, 128, 0)));
    EXPECT_TRUE(painted_with(label, GetSysColor(COLOR_GRAYTEXT)));
    EnableWindow(label, TRUE);
    EXPECT_TRUE(painted_with(label, RGB(0, 128, 0)));
}

TEST_F(HyperlinkControl, DetachPutsThePreviousProcedureBackAndUnderALaterSubclassLetsTheObjectGo)
{
    const LONG_PTR original = GetWindowLongPtrW(label, GWLP_WNDPROC);
    {
        hyperlink_control link;
        attach_and_initialise(link);
        EXPECT_NE(GetWindowLongPtrW(label, GWLP_WNDPROC), original);
        const HWND tooltip = link.tooltip();
        link.detach();
        EXPECT_EQ(GetWindowLongPtrW(label, GWLP_WNDPROC), original);
        EXPECT_FALSE(IsWindow(tooltip));
    }
    for (const bool common_controls : {false, true}) {
        const HWND window = CreateWindowExW(0, L"STATIC", L"link", WS_CHILD | WS_VISIBLE, 0, 50, 300, 40, parent,
                                            nullptr, nullptr, nullptr);
        // The storage is overwritten once the object is gone, so that a call still reaching it crashes.
        alignas(hyperlink_control) unsigned char storage[sizeof(hyperlink_control)];
        auto* link = new (storage) hyperlink_control;
        ASSERT_TRUE(link->attach(window));
        link->initialise();
        const HWND tooltip = link->tooltip();
        ASSERT_TRUE(later_subclass::install(window, common_controls));
        link->~hyperlink_control();
        std::memset(storage, 0xCD, sizeof storage);
        EXPECT_FALSE(IsWindow(tooltip)) << common_controls;
        EXPECT_FALSE(hyperlink_control().attach(window)) << "our procedure is still in the chain";

        wchar_t text[8] = {};
        EXPECT_EQ(GetWindowTextW(window, text, 8), 4) << "the static still answers through the chain";
        EXPECT_STREQ(text, L"link");
        DestroyWindow(window);
        EXPECT_GE(later_subclass::messages, 3u)
            << "the text, the destroy and the last message reached the later subclass";
    }
}

} // namespace
} // namespace velmora
