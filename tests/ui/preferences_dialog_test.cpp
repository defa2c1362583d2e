#include <winsock2.h>

#include "ui/preferences_dialog.h"

#include <string>
#include <vector>

#include <commctrl.h>

#include <gtest/gtest.h>

#include "boundary/host_services.h"
#include "events/now_playing_request.h"
#include "host/doubles/host_call_faults.h"
#include "host/doubles/player_services.h"
#include "host/shared_dll/file_dialog_script.h"
#include "output/cover_thread.h"
#include "overlay/overlay_server.h"
#include "settings/component_settings.h"
#include "tests/ui/later_subclass.h"
#include "text/text_conversion.h"
#include "ui/preferences_ids.h"
#include "ui/preferences_window.h"
#include "win32/file_handle.h"
#include "win32/heap_memory.h"
#include "win32/socket_handle.h"

namespace velmora {
namespace {

std::wstring text_of(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(text.size() - 1);
    return text;
}

void pump_messages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

class PreferencesPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        set_service_registry(&registry);
        host_window = CreateWindowExW(0, L"STATIC", L"host preferences", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 700,
                                      640, nullptr, nullptr, nullptr, nullptr);
    }

    void TearDown() override
    {
        DestroyWindow(host_window);
        set_service_registry(nullptr);
        now_playing_script.set(default_now_playing_script);
        output_path.set("");
        exit_text.set(default_exit_text);
        output_encoding.set(default_output_encoding);
        log_mode.set(0);
        event_settings.set_words({1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
        output_targets.set_words({1, 0, 0, 0, 0, 0, 0, 0});
        added_outputs.outputs().clear();
        stand_in_show_file_dialog();
        EXPECT_EQ(audit.findings(), "");
    }

    HWND open_page()
    {
        const HWND window = page.create(host_window);
        EXPECT_NE(window, nullptr);
        return window;
    }

    HWND item(int control) const { return GetDlgItem(page.window(), control); }
    std::wstring preview() const { return text_of(item(IDC_PREVIEW)); }

    void notify(int control, int notification)
    {
        SendMessageW(page.window(), WM_COMMAND, MAKEWPARAM(control, notification),
                     reinterpret_cast<LPARAM>(item(control)));
    }

    // As typing does: the edit notifies its change.
    void type_script(const wchar_t* text)
    {
        SendMessageW(item(IDC_SCRIPT), EM_SETSEL, 0, -1);
        SendMessageW(item(IDC_SCRIPT), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
    }

    void click(int control, bool check)
    {
        CheckDlgButton(page.window(), control, check ? BST_CHECKED : BST_UNCHECKED);
        notify(control, BN_CLICKED);
    }

    stand_in::reference_audit audit;
    stand_in::player_services player{audit};
    stand_in::service_registry& registry = player.registry;
    stand_in::playback_control& playback = player.control;
    stand_in::title_format_compiler& compiler = player.compiler;
    stand_in::track_handle_factory& factory = player.factory;
    stand_in::track_handle song{audit, "song", {{"artist", "A"}, {"title", "T"}}};
    HWND host_window = nullptr;
    preferences_dialog page;
};

TEST_F(PreferencesPage, ShowsEverySettingWhenItOpens)
{
    output_path.set("C:\\now.txt");
    exit_text.set("bye");
    output_encoding.set(encoding_ansi);
    log_mode.set(1);
    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 750);
    output_targets.set_word(output_target_word::copy_to_clipboard, 1);
    playback.playing = &song;

    const HWND window = open_page();
    EXPECT_EQ(preferences_window, window);
    EXPECT_EQ(GetParent(window), host_window);
    EXPECT_EQ(text_of(item(IDC_OUTPUT_PATH)), L"C:\\now.txt");
    EXPECT_EQ(text_of(item(IDC_EXIT_TEXT)), L"bye");
    EXPECT_EQ(text_of(item(IDC_SCRIPT)), L"$if(%isplaying%,\r\n$if(%ispaused%,\r\npaused\r\n,\r\nplaying\r\n): "
                                         L"%artist% - %title%,\r\nstopped\r\n)");
    EXPECT_EQ(SendMessageW(item(IDC_ENCODING), CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(SendMessageW(item(IDC_ENCODING), CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(IsDlgButtonChecked(window, IDC_LOG_MODE), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(window, IDC_DELAY_ENABLED), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(window, IDC_SAVE_TO_FILE), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(window, IDC_COPY_TO_CLIPBOARD), BST_CHECKED);
    EXPECT_EQ(text_of(item(IDC_DELAY_MS)), L"750");
    EXPECT_EQ(preview(), L"playing: A - T");
    ASSERT_NE(page.link(), nullptr);
    EXPECT_STREQ(page.link()->target(), preferences_dialog::link_target);
    EXPECT_STREQ(page.link()->caption(), L"velmora.example.org");

    DestroyWindow(window);
    EXPECT_EQ(preferences_window, nullptr);
    EXPECT_EQ(page.link(), nullptr);
}

BOOL CALLBACK count_window(HWND, LPARAM count)
{
    ++*reinterpret_cast<unsigned*>(count);
    return TRUE;
}

// The thread's top-level windows (owned pop-ups included), and the process's GDI and user objects. Wine answers 0
// for both object counts; Windows counts them.
std::vector<unsigned long> thread_resources()
{
    unsigned windows = 0;
    EnumThreadWindows(GetCurrentThreadId(), count_window, reinterpret_cast<LPARAM>(&windows));
    return {windows, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS),
            GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)};
}

TEST_F(PreferencesPage, OpeningAndClosingThePageLeavesNoWindowOrObjectBehind)
{
    std::vector<unsigned long> after_first_close;
    for (int opening = 0; opening < 50; ++opening) {
        const HWND window = open_page();
        ASSERT_NE(window, nullptr);
        // Two openings in three, a later subclass of either kind sits on the link when the page goes.
        if (opening % 3 != 0) {
            ASSERT_TRUE(later_subclass::install(item(IDC_LINK), opening % 3 == 1));
        }
        DestroyWindow(window);
        pump_messages();
        if (opening == 0)
            after_first_close = thread_resources();
    }
    EXPECT_EQ(thread_resources(), after_first_close) << "windows, GDI objects, user objects";
}

TEST_F(PreferencesPage, TextSettingsChangeOnlyWhenTheirEditLosesTheFocus)
{
    open_page();
    SetWindowTextW(item(IDC_SCRIPT), L"%title%!");
    EXPECT_STREQ(now_playing_script.text(), default_now_playing_script) << "typing alone stores nothing";
    notify(IDC_SCRIPT, EN_KILLFOCUS);
    EXPECT_STREQ(now_playing_script.text(), "%title%!");

    SetWindowTextW(item(IDC_OUTPUT_PATH), L"C:\\caf\u00E9.txt");
    notify(IDC_OUTPUT_PATH, EN_CHANGE);
    EXPECT_STREQ(output_path.text(), "");
    notify(IDC_OUTPUT_PATH, EN_KILLFOCUS);
    EXPECT_STREQ(output_path.text(), "C:\\caf\xC3\xA9.txt");

    SetWindowTextW(item(IDC_EXIT_TEXT), L"gone");
    notify(IDC_EXIT_TEXT, EN_KILLFOCUS);
    EXPECT_STREQ(exit_text.text(), "gone");
    EXPECT_STREQ(now_playing_script.text(), "%title%!");
}

TEST_F(PreferencesPage, ChoicesAndBoxesChangeExactlyTheirSetting)
{
    open_page();
    SendMessageW(item(IDC_ENCODING), CB_SETCURSEL, 1, 0);
    notify(IDC_ENCODING, CBN_SELCHANGE);
    EXPECT_EQ(output_encoding.value(), 1) << "only CBN_SELENDOK stores";
    SendMessageW(item(IDC_ENCODING), CB_SETCURSEL, 3, 0);
    notify(IDC_ENCODING, CBN_SELENDOK);
    EXPECT_EQ(output_encoding.value(), 3);

    click(IDC_LOG_MODE, true);
    EXPECT_EQ(log_mode.value(), 1);
    click(IDC_COPY_TO_CLIPBOARD, true);
    EXPECT_EQ(output_targets.word(output_target_word::copy_to_clipboard), 1u);
    click(IDC_DELAY_ENABLED, true);
    EXPECT_EQ(event_settings.word(event_word::delay_enabled), 1u);
    click(IDC_SAVE_TO_FILE, false);
    EXPECT_EQ(output_targets.word(output_target_word::save_to_file), 0u);
    EXPECT_EQ(log_mode.value(), 1);
    EXPECT_EQ(output_targets.word(output_target_word::copy_to_clipboard), 1u);

    SetWindowTextW(item(IDC_DELAY_MS), L"250");
    notify(IDC_DELAY_MS, EN_CHANGE);
    EXPECT_EQ(event_settings.word(event_word::delay_ms), 0u);
    notify(IDC_DELAY_MS, EN_KILLFOCUS);
    EXPECT_EQ(event_settings.word(event_word::delay_ms), 250u);
    SetWindowTextW(item(IDC_DELAY_MS), L"");
    notify(IDC_DELAY_MS, EN_KILLFOCUS);
    EXPECT_EQ(event_settings.word(event_word::delay_ms), 0u) << "an empty delay stores 0";
}

TEST_F(PreferencesPage, TheBoxesEnableTheirControls)
{
    open_page();
    click(IDC_SAVE_TO_FILE, false);
    for (int control : {IDC_OUTPUT_PATH, IDC_BROWSE, IDC_ENCODING, IDC_LOG_MODE})
        EXPECT_FALSE(IsWindowEnabled(item(control))) << control;
    for (int control : {IDC_COPY_TO_CLIPBOARD, IDC_DELAY_ENABLED, IDC_EVENTS, IDC_SCRIPT})
        EXPECT_TRUE(IsWindowEnabled(item(control))) << control;
    EXPECT_FALSE(IsWindowEnabled(item(IDC_DELAY_MS))) << "delay off by default";
    click(IDC_DELAY_ENABLED, true);
    EXPECT_TRUE(IsWindowEnabled(item(IDC_DELAY_MS)));
    EXPECT_TRUE(IsWindowEnabled(item(IDC_DELAY_SPIN)));
    click(IDC_SAVE_TO_FILE, true);
    EXPECT_TRUE(IsWindowEnabled(item(IDC_OUTPUT_PATH)));
}

TEST_F(PreferencesPage, ThePreviewFollowsTypingAndTheRefreshMessage)
{
    open_page();
    EXPECT_EQ(preview(), L"stopped");
    type_script(L"[%artist% - ]%title% & co");
    EXPECT_EQ(preview(), L"? & co");
    type_script(L"$if(%title%");
    EXPECT_EQ(preview(), L"COMPILE ERROR");
    type_script(L"%title%");
    playback.playing = &song;
    EXPECT_EQ(preview(), L"?") << "nothing refreshes until told";
    PostMessageW(page.window(), WM_REFRESH_PREVIEW, 0, 0);
    pump_messages();
    EXPECT_EQ(preview(), L"T");
}

TEST_F(PreferencesPage, AFailingHostLeavesThePageUsable)
{
    open_page();
    registry.clear();
    type_script(L"%title%");
    EXPECT_EQ(preview(), L"Cannot evaluate the text: Service not found");
    compiler.failure.name = "compile_script";
    registry.add(kestrune::playback_control_guid, playback);
    registry.add(kestrune::title_format_compiler_guid, compiler);
    registry.add(kestrune::track_handle_factory_guid, factory);
    PostMessageW(page.window(), WM_REFRESH_PREVIEW, 0, 0);
    pump_messages();
    EXPECT_EQ(preview(), L"Cannot evaluate the text: host failure in compile_script");
    compiler.failure.name.clear();
    type_script(L"ok");
    EXPECT_EQ(preview(), L"ok");
}

TEST_F(PreferencesPage, EveryHostCallOfAPreviewRefreshMayFail)
{
    playback.playing = &song;
    playback.volume = -2.5f;
    now_playing_script.set("%volume% $if(%isplaying%,%title%,none)");
    open_page();
    unsigned failures = 0;
    for (unsigned nth = 1; nth < 100; ++nth) {
        stand_in::fail_host_call(nth);
        SendMessageW(page.window(), WM_REFRESH_PREVIEW, 0, 0);
        const bool reached = !stand_in::host_call_failure_pending();
        stand_in::fail_host_call(0);
        EXPECT_EQ(audit.findings(), "") << nth;
        const std::wstring shown = preview();
        if (!reached) {
            EXPECT_EQ(shown, L"-2.50 T");
            break;
        }
        ++failures;
        EXPECT_EQ(shown.rfind(L"Cannot evaluate the text: host failure in ", 0), 0u) << nth;
    }
    EXPECT_GE(failures, 8u);
}

TEST_F(PreferencesPage, ThePreviewSurvivesRunningOutOfMemory)
{
    playback.playing = &song;
    now_playing_script.set("%artist% - %title%");
    open_page();
    for (unsigned nth = 1; nth < 60; ++nth) {
        SetWindowTextW(item(IDC_PREVIEW), L"");
        fail_heap_requests_from(nth);
        SendMessageW(page.window(), WM_REFRESH_PREVIEW, 0, 0);
        fail_heap_request(0);
        const std::wstring shown = preview();
        EXPECT_TRUE(shown == L"A - T" || shown.rfind(L"Cannot evaluate the text", 0) == 0) << nth;
        EXPECT_EQ(audit.findings(), "") << nth;
    }
    SendMessageW(page.window(), WM_REFRESH_PREVIEW, 0, 0);
    EXPECT_EQ(preview(), L"A - T");
}

TEST_F(PreferencesPage, OpeningAndUsingThePageSurvivesRunningOutOfMemory)
{
    playback.playing = &song;
    unsigned nth = 1;
    for (; nth < 400; ++nth) {
        fail_heap_requests_from(nth);
        const HWND window = page.create(host_window);
        if (window != nullptr) {
            type_script(L"%title% now");
            SendMessageW(window, WM_REFRESH_PREVIEW, 0, 0);
            notify(IDC_EXIT_TEXT, EN_KILLFOCUS);
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        }
        const bool reached = !heap_request_failure_pending();
        fail_heap_request(0);
        if (window != nullptr)
            DestroyWindow(window);
        pump_messages();
        EXPECT_EQ(preferences_window, nullptr) << nth;
        EXPECT_EQ(audit.findings(), "") << nth;
        if (!reached)
            break;
    }
    EXPECT_GT(nth, 5u) << "the page makes heap requests";
    EXPECT_STREQ(now_playing_script.text(), default_now_playing_script) << "typing alone stores nothing";
}

TEST_F(PreferencesPage, BrowsingStoresAChosenFileAtOnce)
{
    open_page();
    SetWindowTextW(item(IDC_OUTPUT_PATH), L"C:\\typed.txt");
    stand_in_script_file_dialog(nullptr);
    notify(IDC_BROWSE, BN_CLICKED);
    EXPECT_STREQ(output_path.text(), "") << "cancelled";
    EXPECT_EQ(text_of(item(IDC_OUTPUT_PATH)), L"C:\\typed.txt");

    stand_in_script_file_dialog("C:\\chosen.txt");
    notify(IDC_BROWSE, BN_CLICKED);
    EXPECT_STREQ(output_path.text(), "C:\\chosen.txt");
    EXPECT_EQ(text_of(item(IDC_OUTPUT_PATH)), L"C:\\chosen.txt");
    const stand_in_file_dialog_request* request = stand_in_last_file_dialog();
    EXPECT_STREQ(request->filter_list, "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
    EXPECT_EQ(request->filter_index, 0u);
    EXPECT_STREQ(request->default_extension, "txt");
    EXPECT_STREQ(request->title, "Save file...");
    EXPECT_STREQ(request->initial_path, "C:\\typed.txt");
    EXPECT_STREQ(request->file_name, "C:\\typed.txt");
    EXPECT_EQ(request->save, 1);
}

// Drives the modal Events menu from a timer that runs inside the menu's own loop.
struct menu_script {
    int downs = 0;   // items to step down before choosing; -1 dismisses
    RECT shown_at{}; // where the menu window appeared
};
menu_script* running_script = nullptr;

void CALLBACK drive_menu(HWND, UINT, UINT_PTR timer, DWORD)
{
    const HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu == nullptr || !IsWindowVisible(menu))
        return;
    KillTimer(nullptr, timer);
    GetWindowRect(menu, &running_script->shown_at);
    if (running_script->downs < 0) {
        EndMenu();
        return;
    }
    for (int step = 0; step <= running_script->downs; ++step)
        PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}

void run_events_menu(HWND dialog, menu_script& script)
{
    running_script = &script;
    SetTimer(nullptr, 0, 50, drive_menu);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_EVENTS, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_EVENTS)));
    running_script = nullptr;
}

TEST_F(PreferencesPage, TheEventsMenuInvertsTheChosenFlagOnly)
{
    open_page();
    menu_script choose_pause{1};
    run_events_menu(page.window(), choose_pause);
    EXPECT_EQ(event_settings.word(event_word::on_pause), 0u) << "a checked item is cleared";
    EXPECT_EQ(event_settings.word(event_word::on_new_track), 1u);
    menu_script choose_every_second{3};
    run_events_menu(page.window(), choose_every_second);
    EXPECT_EQ(event_settings.word(event_word::on_every_second), 1u) << "an unchecked item is set";

    menu_script dismiss{-1};
    run_events_menu(page.window(), dismiss);
    EXPECT_EQ(event_settings.word(event_word::on_new_track), 1u);
    EXPECT_EQ(event_settings.word(event_word::on_pause), 0u);
    EXPECT_EQ(event_settings.word(event_word::on_stop), 1u);
    EXPECT_EQ(event_settings.word(event_word::on_every_second), 1u);
}

// The output list's items, in order.
std::vector<std::wstring> list_items(HWND list)
{
    std::vector<std::wstring> items;
    for (LRESULT index = 0; index < SendMessageW(list, CB_GETCOUNT, 0, 0); ++index) {
        std::wstring text(static_cast<std::size_t>(SendMessageW(list, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
        SendMessageW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
        text.resize(text.size() - 1);
        items.push_back(text);
    }
    return items;
}

TEST_F(PreferencesPage, EveryControlButTheDelayEditsTheChosenOutput)
{
    output_path.set("C:\\out\\now playing.txt");
    output_targets.set_word(output_target_word::copy_to_clipboard, 1);
    open_page();
    const HWND list = item(IDC_OUTPUT_LIST);
    EXPECT_EQ(list_items(list), std::vector<std::wstring>{L"1: now playing.txt"});
    EXPECT_FALSE(IsWindowEnabled(item(IDC_REMOVE_OUTPUT))) << "output 1 cannot be removed";

    notify(IDC_ADD_OUTPUT, BN_CLICKED);
    ASSERT_EQ(added_outputs.outputs().size(), 1u);
    EXPECT_EQ(added_outputs.outputs()[0], default_added_output());
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 1) << "the new output is chosen";
    EXPECT_FALSE(IsWindowEnabled(item(IDC_COPY_TO_CLIPBOARD)));
    EXPECT_EQ(IsDlgButtonChecked(page.window(), IDC_COPY_TO_CLIPBOARD), BST_UNCHECKED);
    SetWindowTextW(item(IDC_OUTPUT_PATH), L"C:\\out\\title.txt");
    notify(IDC_OUTPUT_PATH, EN_KILLFOCUS);
    type_script(L"%title%");
    notify(IDC_SCRIPT, EN_KILLFOCUS);
    SendMessageW(item(IDC_ENCODING), CB_SETCURSEL, 2, 0);
    notify(IDC_ENCODING, CBN_SELENDOK);
    click(IDC_LOG_MODE, true);
    click(IDC_DELAY_ENABLED, true);
    playback.playing = &song;
    PostMessageW(page.window(), WM_REFRESH_PREVIEW, 0, 0);
    pump_messages();
    EXPECT_EQ(preview(), L"T");
    menu_script choose_every_second{3};
    run_events_menu(page.window(), choose_every_second);
    const output_settings& second = added_outputs.outputs()[0];
    EXPECT_EQ(second.path, "C:\\out\\title.txt");
    EXPECT_EQ(second.script, "%title%");
    EXPECT_EQ(second.encoding, encoding_unicode);
    EXPECT_TRUE(second.log_mode);
    EXPECT_TRUE(second.on_every_second);
    EXPECT_EQ(list_items(list), (std::vector<std::wstring>{L"1: now playing.txt", L"2: title.txt"}));
    EXPECT_STREQ(output_path.text(), "C:\\out\\now playing.txt") << "output 1 is left alone";
    EXPECT_EQ(output_encoding.value(), default_output_encoding);
    EXPECT_EQ(log_mode.value(), 0);
    EXPECT_EQ(event_settings.word(event_word::on_every_second), 0u);
    EXPECT_EQ(event_settings.word(event_word::delay_enabled), 1u) << "the delay is every output's";

    // Choosing output 1 again shows its own settings, and the preview its script; an edit that kept the focus is
    // kept for the output it showed.
    SetWindowTextW(item(IDC_EXIT_TEXT), L"bye 2");
    SendMessageW(list, CB_SETCURSEL, 0, 0);
    notify(IDC_OUTPUT_LIST, CBN_SELCHANGE);
    EXPECT_EQ(second.exit_text, "bye 2");
    EXPECT_STREQ(exit_text.text(), default_exit_text);
    EXPECT_EQ(text_of(item(IDC_OUTPUT_PATH)), L"C:\\out\\now playing.txt");
    EXPECT_EQ(IsDlgButtonChecked(page.window(), IDC_LOG_MODE), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(page.window(), IDC_COPY_TO_CLIPBOARD), BST_CHECKED);
    EXPECT_EQ(preview(), L"playing: A - T");

    for (std::size_t count = 1; count < max_added_outputs; ++count)
        notify(IDC_ADD_OUTPUT, BN_CLICKED);
    EXPECT_EQ(added_outputs.outputs().size(), max_added_outputs);
    EXPECT_FALSE(IsWindowEnabled(item(IDC_ADD_OUTPUT))) << "16 outputs in all";
    EXPECT_EQ(list_items(list).back(), L"16: (no file)");
    EXPECT_EQ(overlay_served().texts.size(), max_added_outputs + 1) << "the overlay shows the added outputs at once";
    // Output 2 goes while outputs 1 and 3 wait for the delay: the overlay and the marks move with the outputs.
    for (std::size_t index = 0; index <= max_added_outputs; ++index)
        set_overlay_text(index, "text " + std::to_string(index + 1), max_added_outputs + 1, playback_state::playing);
    add_delayed_outputs(0b101);
    SendMessageW(list, CB_SETCURSEL, 1, 0);
    notify(IDC_OUTPUT_LIST, CBN_SELCHANGE);
    notify(IDC_REMOVE_OUTPUT, BN_CLICKED);
    EXPECT_EQ(added_outputs.outputs().size(), max_added_outputs - 1);
    EXPECT_EQ(added_outputs.outputs()[0], default_added_output()) << "output 2 went, the next took its place";
    EXPECT_EQ(take_delayed_outputs(), output_set{0b11}) << "outputs 1 and 3, now 2, write; no other";
    ASSERT_EQ(overlay_served().texts.size(), max_added_outputs);
    EXPECT_EQ(overlay_served().texts[1], "text 3");
    EXPECT_EQ(overlay_served().texts.back(), "text 16");
    EXPECT_TRUE(IsWindowEnabled(item(IDC_ADD_OUTPUT)));
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(text_of(item(IDC_OUTPUT_PATH)), L"C:\\out\\now playing.txt");
}

TEST_F(PreferencesPage, TheEventsMenuStaysOnAMonitor)
{
    open_page();
    RECT button;
    GetWindowRect(item(IDC_EVENTS), &button);
    SetWindowPos(host_window, nullptr, -button.right - 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    GetWindowRect(item(IDC_EVENTS), &button);
    ASSERT_LT(button.left, 0);
    menu_script dismiss{-1};
    run_events_menu(page.window(), dismiss);
    MONITORINFO information{};
    information.cbSize = sizeof information;
    GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTONEAREST), &information);
    EXPECT_EQ(dismiss.shown_at.left, information.rcWork.left);
    EXPECT_EQ(dismiss.shown_at.top, button.bottom);
}

// Drives the modal overlay dialog, and the message box it may raise, from a timer that runs inside their loops:
// each port in turn is typed and OK pressed; a message box is read and closed.
struct overlay_script {
    std::vector<std::wstring> ports;
    bool serve = false;
    std::size_t typed = 0;
    std::wstring refusal; // what a message box said
    std::wstring address; // the link's caption at the last OK
};
overlay_script* running_overlay_script = nullptr;

void CALLBACK drive_overlay_dialog(HWND, UINT, UINT_PTR, DWORD)
{
    overlay_script& script = *running_overlay_script;
    for (HWND shown = FindWindowExW(nullptr, nullptr, L"#32770", L"Overlay"); shown != nullptr;
         shown = FindWindowExW(nullptr, shown, L"#32770", L"Overlay")) {
        if (GetDlgItem(shown, IDC_OVERLAY_PORT) == nullptr) {
            script.refusal = text_of(GetDlgItem(shown, 0xFFFF));
            PostMessageW(shown, WM_COMMAND, IDOK, 0);
            return;
        }
    }
    const HWND dialog = FindWindowW(L"#32770", L"Overlay");
    if (dialog == nullptr || !IsWindowEnabled(dialog) || script.typed == script.ports.size())
        return;
    SetWindowTextW(GetDlgItem(dialog, IDC_OVERLAY_PORT), script.ports[script.typed++].c_str());
    CheckDlgButton(dialog, IDC_OVERLAY_ENABLED, script.serve ? BST_CHECKED : BST_UNCHECKED);
    script.address = text_of(GetDlgItem(dialog, IDC_OVERLAY_LINK));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

// Whether something listens on the loopback port: a connection from this process would do, but under the emulated
// Wine of the build machines a blocking connect to a server of the same process can bring the process down.
bool port_taken(std::uint16_t port)
{
    const socket_handle probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
           WSAGetLastError() == WSAEADDRINUSE;
}

TEST_F(PreferencesPage, TheOverlayDialogAppliesAtOnceAndRefusesAPortThatIsNone)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    set_services_ready_flag(1);
    open_page();
    const auto run_dialog = [&](overlay_script& script) {
        running_overlay_script = &script;
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, drive_overlay_dialog);
        notify(IDC_OVERLAY, BN_CLICKED);
        KillTimer(nullptr, timer);
        running_overlay_script = nullptr;
    };
    // A port out of range is refused with a reason, and the dialog stays until a good one is given.
    const std::uint16_t port = 41000 + static_cast<std::uint16_t>(GetCurrentProcessId() % 8000);
    overlay_script serve;
    serve.ports = {L"70000", std::to_wstring(port)};
    serve.serve = true;
    run_dialog(serve);
    EXPECT_NE(serve.refusal.find(L"1 to 65535"), std::wstring::npos) << serve.refusal;
    EXPECT_EQ(serve.address, L"http://127.0.0.1:" + std::to_wstring(port) + L"/");
    EXPECT_TRUE(overlay.enabled() && overlay.port() == port);
    EXPECT_TRUE(port_taken(port)) << "served at once on " << port;

    overlay_script end;
    end.ports = {std::to_wstring(port)};
    run_dialog(end);
    EXPECT_TRUE(end.refusal.empty());
    EXPECT_FALSE(overlay.enabled());
    EXPECT_FALSE(port_taken(port)) << "ended at once";
    overlay.set(false, default_overlay_port);
    set_services_ready_flag(0);
    WSACleanup();
}

// Drives the cover art dialog from a timer inside its loop: reads what it says of the art, chooses the file through
// the scripted file dialog, types the placeholder and presses OK.
struct cover_art_script {
    std::string chosen_file;
    std::wstring placeholder;
    std::wstring said_now;
    bool done = false;
};
cover_art_script* running_cover_art_script = nullptr;

void CALLBACK drive_cover_art_dialog(HWND, UINT, UINT_PTR, DWORD)
{
    cover_art_script& script = *running_cover_art_script;
    const HWND dialog = FindWindowW(L"#32770", L"Cover art");
    if (dialog == nullptr || script.done)
        return;
    script.done = true;
    script.said_now = text_of(GetDlgItem(dialog, IDC_COVER_NOW));
    stand_in_script_file_dialog(script.chosen_file.c_str());
    SendMessageW(dialog, WM_COMMAND, IDC_COVER_BROWSE, 0);
    SetWindowTextW(GetDlgItem(dialog, IDC_COVER_PLACEHOLDER), script.placeholder.c_str());
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

TEST_F(PreferencesPage, TheCoverArtDialogStoresBothAndPublishesAtOnce)
{
    set_services_ready_flag(1);
    open_page();
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring cover = std::wstring(folder) + L"velmora-dialog-cover-" + std::to_wstring(GetCurrentProcessId());
    DeleteFileW(cover.c_str());
    cover_art_script script;
    const byte_buffer chosen = wide_to_utf8(cover.c_str());
    script.chosen_file = chosen.text();
    script.placeholder = L"C:\\no such picture.png";
    running_cover_art_script = &script;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, drive_cover_art_dialog);
    notify(IDC_COVER_ART, BN_CLICKED);
    KillTimer(nullptr, timer);
    running_cover_art_script = nullptr;

    EXPECT_EQ(script.said_now, L"none") << "nothing plays";
    EXPECT_TRUE(stand_in_last_file_dialog()->save) << "the cover file is a file to write";
    EXPECT_EQ(cover_settings.cover_path(), script.chosen_file);
    EXPECT_EQ(cover_settings.placeholder(), "C:\\no such picture.png");
    // Nothing plays: the file holds the placeholder once OK is pressed, the transparent pixel standing in for a
    // placeholder that is no picture.
    EXPECT_TRUE(wait_for_cover(10000));
    const file_handle written(
        CreateFileW(cover.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes(256, '\0');
    DWORD read = 0;
    ASSERT_TRUE(written.valid() && ReadFile(written.get(), bytes.data(), 256, &read, nullptr));
    bytes.resize(read);
    EXPECT_EQ(bytes, transparent_picture());
    finish_cover_at_shutdown(5000);
    deliver_cover_lines();
    cover_settings.set("", "");
    DeleteFileW(cover.c_str());
    set_services_ready_flag(0);
}

} // namespace
} // namespace velmora
