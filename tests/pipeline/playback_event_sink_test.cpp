#include "pipeline/init_quit_hook.h"
#include "pipeline/output_writer.h"
#include "pipeline/playback_event_sink.h"

#include <functional>
#include <regex>
#include <vector>

#include <tlhelp32.h>

#include "boundary/host_exceptions.h"
#include "pipeline_fixture.h"
#include "win32/heap_memory.h"
#include "ui/preferences_window.h"

namespace velmora {
namespace {

unsigned threads_of_this_process()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    unsigned count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// A real window standing in for the open preferences page.
class preview_window {
public:
    preview_window()
        : window_(CreateWindowExW(0, L"STATIC", L"preview", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr))
    {
        open_preferences_window(window_);
    }
    ~preview_window()
    {
        close_preferences_window();
        DestroyWindow(window_);
    }

    // Refresh messages waiting for the page, removed as they are counted.
    unsigned refreshes()
    {
        unsigned count = 0;
        MSG message;
        while (PeekMessageW(&message, window_, WM_REFRESH_PREVIEW, WM_REFRESH_PREVIEW, PM_REMOVE))
            count += message.wParam == 0 && message.lParam == 0;
        return count;
    }

private:
    HWND window_;
};

class PlaybackEventSink : public pipeline_fixture {
protected:
    void TearDown() override
    {
        sink.scheduler().close();
        pipeline_fixture::TearDown();
    }

    kestrune::playback_event_callbacks& host_view() { return sink; }

    playback_event_sink sink;
    init_quit_hook hook{sink.scheduler()};
};

TEST_F(PlaybackEventSink, PresentsBothTablesAndTheWorkerFieldsWhereTheHostLooks)
{
    const auto* base = reinterpret_cast<const char*>(&sink);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<kestrune::playback_event_service*>(&sink)), base);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<kestrune::playback_event_callbacks*>(&sink)), base + 4);
    event_settings.set_word(delay_enabled, 1);
    event_settings.set_word(delay_ms, 60000);
    sink.scheduler().request_write();
    EXPECT_EQ(*reinterpret_cast<const HANDLE*>(base + 8), sink.scheduler().worker_thread());
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(base + 12), sink.scheduler().worker_thread_id());
    EXPECT_NE(sink.scheduler().worker_thread_id(), 0u);

    EXPECT_EQ(sink.subscribed_events(), 0x196u);
    kestrune::service_object* found = nullptr;
    EXPECT_FALSE(sink.query_by_guid(&found, kestrune::init_quit_hook_guid));
    EXPECT_TRUE(sink.query_by_guid(&found, kestrune::playback_event_sink_guid));
    EXPECT_EQ(found, static_cast<kestrune::service_object*>(&sink));
    EXPECT_TRUE(hook.query_by_guid(&found, kestrune::init_quit_hook_guid));
}

TEST_F(PlaybackEventSink, EachNotificationWritesOnlyWhenItsSwitchIsOn)
{
    stand_in::track_handle track(audit, "notified track", {});
    const auto owned_track = [&track] {
        track.add_ref();
        return &track;
    };
    struct notification {
        const char* name;
        std::function<void()> send;
        int switch_word; // -1: no switch
        std::size_t writes_when_on;
    };
    auto& host = host_view();
    const std::vector<notification> notifications = {
        {"playback starting", [&] { host.on_playback_starting(1, 0); }, -1, 1},
        {"new track", [&] { host.on_new_track(owned_track()); }, on_new_track, 1},
        {"stop, reason 0", [&] { host.on_playback_stop(0); }, on_stop, 1},
        {"stop, reason 1", [&] { host.on_playback_stop(1); }, on_stop, 1},
        {"stop, reason 2", [&] { host.on_playback_stop(2); }, on_stop, 0},
        {"seek", [&] { host.on_seek(12.5); }, -1, 0},
        {"pause", [&] { host.on_pause(1); }, on_pause, 1},
        {"resume", [&] { host.on_pause(0); }, on_pause, 1},
        {"track edited", [&] { host.on_track_edited(owned_track()); }, -1, 0},
        {"dynamic info", [&] { host.on_dynamic_info(nullptr); }, -1, 0},
        {"dynamic track info", [&] { host.on_dynamic_track_info(nullptr); }, on_new_track, 1},
        {"playback time", [&] { host.on_playback_time(3.0); }, on_every_second, 1},
        {"volume", [&] { host.on_volume_change(-3.0f); }, -1, 0},
    };
    for (const notification& sent : notifications) {
        for (std::uint32_t switched : {0u, 1u}) {
            for (std::size_t word = 0; word < 4; ++word)
                event_settings.set_word(word, 1 - switched);
            if (sent.switch_word >= 0)
                event_settings.set_word(static_cast<std::size_t>(sent.switch_word), switched);
            const std::size_t before = writes();
            sent.send();
            const std::size_t expected = sent.switch_word < 0 || switched ? sent.writes_when_on : 0;
            EXPECT_EQ(writes() - before, expected) << sent.name << " with its switch " << switched;
            EXPECT_EQ(track.references(), 1) << sent.name;
        }
    }
    EXPECT_EQ(sink.scheduler().worker_thread(), nullptr);
}

TEST_F(PlaybackEventSink, TheNewTrackIsReleasedWhenTheWriteThrows)
{
    stand_in::track_handle track(audit, "notified track", {});
    event_settings.set_word(on_new_track, 1);
    registry.clear();
    track.add_ref();
    EXPECT_THROW(host_view().on_new_track(&track), exception_service_not_found);
    EXPECT_EQ(track.references(), 1);
}

TEST_F(PlaybackEventSink, StartupWritesAtOnceAndShutdownWritesTheExitText)
{
    log_mode.set(0);
    now_playing_script.set("$if(%isplaying%,on,off)");
    hook.on_startup();
    EXPECT_EQ(file_text(), "off");

    exit_text.set("gone at %datetime% %volume%");
    hook.on_shutdown();
    const std::regex expected(R"(gone at \w{3} \w{3} \d\d \d\d:\d\d:\d\d \d{4} %volume%)");
    EXPECT_TRUE(std::regex_match(file_text(), expected)) << file_text();
    exit_text.set(default_exit_text);
}

TEST_F(PlaybackEventSink, ExitTextRulesDependOnLogMode)
{
    struct exit_case {
        std::int32_t log;
        const char* text;
        bool file_expected;
        const char* content;
    };
    for (const exit_case& shut : std::vector<exit_case>{{0, "", true, ""},
                                                        {1, "", false, ""},
                                                        {0, "not running", true, "not running"},
                                                        {1, "not running", true, "not running\r\n"}}) {
        DeleteFileW(path.c_str());
        log_mode.set(shut.log);
        exit_text.set(shut.text);
        init_quit_hook(sink.scheduler()).on_shutdown();
        EXPECT_EQ(GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES, shut.file_expected) << shut.log;
        EXPECT_EQ(file_text(), shut.content) << shut.log;
    }
    exit_text.set(default_exit_text);
}

TEST_F(PlaybackEventSink, WithoutTheDelayNoWorkerIsEverCreated)
{
    event_settings.set_word(on_every_second, 1);
    host_view().on_playback_time(0);
    EXPECT_EQ(writes(), 1u);
    // The output thread runs from the first write on; nothing else is started.
    const unsigned threads = threads_of_this_process();
    for (int second = 1; second < 5; ++second)
        host_view().on_playback_time(second);
    EXPECT_EQ(writes(), 5u);
    EXPECT_EQ(threads_of_this_process(), threads);
    EXPECT_EQ(sink.scheduler().worker_thread(), nullptr);
}

TEST_F(PlaybackEventSink, ABurstGivesOneWriteAPeriodAfterTheLastRequestThenOnePerPeriod)
{
    const unsigned threads = threads_of_this_process();
    event_settings.set_word(on_every_second, 1);
    event_settings.set_word(delay_enabled, 1);
    event_settings.set_word(delay_ms, 400);
    HANDLE worker = nullptr;
    DWORD last_request = 0;
    for (int request = 0; request < 4; ++request) {
        host_view().on_playback_time(request);
        // Taken here: a busy machine can stretch the pump below well past its 100 ms.
        last_request = GetTickCount();
        if (request == 0)
            worker = sink.scheduler().worker_thread();
        EXPECT_EQ(sink.scheduler().worker_thread(), worker);
        pump_messages_for(100);
    }
    EXPECT_LE(threads_of_this_process(), threads + 1) << "exactly one worker";
    EXPECT_EQ(writes(), 0u) << "nothing while the burst goes on";

    while (writes() == 0 && GetTickCount() - last_request < 5000)
        pump_messages_for(5);
    const DWORD first_write = GetTickCount() - last_request;
    EXPECT_EQ(writes(), 1u);
    EXPECT_GE(first_write, 350u) << "not before the period has passed since the last request";
    EXPECT_LE(first_write, 1500u);

    pump_messages_for(2000);
    EXPECT_GE(writes(), 3u) << "about one write every 400 ms";
    EXPECT_LE(writes(), 7u);
}

TEST_F(PlaybackEventSink, AnElapseQueuesNoSecondWriteWhileTheHostHasNotRunTheFirst)
{
    event_settings.set_word(on_pause, 1);
    event_settings.set_word(delay_enabled, 1);
    event_settings.set_word(delay_ms, 20);
    const unsigned queued_before = callbacks.queued();
    host_view().on_pause(1);
    Sleep(400);
    EXPECT_EQ(callbacks.queued() - queued_before, 1u) << "twenty elapses, one queued write";
    ASSERT_TRUE(pump_until_writes(2)) << "once it has run, the next elapse queues again";
}

TEST_F(PlaybackEventSink, ErrorLinesComeBackThroughTheHostsCallbacksInTheOrderOfTheFailedWrites)
{
    log_mode.set(0);
    const std::vector<std::string> unopenable = {"C:\\velmora-no-such-folder\\1.txt",
                                                 "C:\\velmora-no-such-folder\\2.txt",
                                                 "C:\\velmora-no-such-folder\\3.txt"};
    for (const std::string& file : unopenable) {
        output_path.set(file.c_str());
        write_output(utf8_string("x"));
    }
    // Only the host's own loop: the component's callback hands the lines over.
    const DWORD start = GetTickCount();
    while (receiver.lines.size() < unopenable.size() && GetTickCount() - start < 10000)
        pump_messages_for(10);
    ASSERT_EQ(receiver.lines.size(), unopenable.size());
    for (std::size_t line = 0; line < unopenable.size(); ++line)
        EXPECT_EQ(receiver.lines[line].rfind("Error: Can't write to the file " + unopenable[line] + ": ", 0), 0u)
            << receiver.lines[line];
    EXPECT_GE(callbacks.runs(), 1u);
}

TEST_F(PlaybackEventSink, SwitchingTheDelayOffLeavesTheArmedTimerRunning)
{
    event_settings.set_word(on_pause, 1);
    event_settings.set_word(delay_enabled, 1);
    event_settings.set_word(delay_ms, 150);
    host_view().on_pause(1);
    event_settings.set_word(delay_enabled, 0);
    host_view().on_pause(0);
    EXPECT_EQ(writes(), 1u) << "the new request is written at once";
    pump_messages_for(1200);
    EXPECT_GE(writes(), 4u) << "and the armed timer goes on";
}

TEST_F(PlaybackEventSink, TheOpenPageIsRefreshedAfterEventWritesOnly)
{
    preview_window page;
    event_settings.set_word(on_pause, 1);
    host_view().on_pause(1);
    EXPECT_EQ(page.refreshes(), 1u);
    hook.on_startup();
    EXPECT_EQ(page.refreshes(), 0u);

    event_settings.set_word(delay_enabled, 1);
    event_settings.set_word(delay_ms, 100);
    host_view().on_pause(0);
    ASSERT_TRUE(pump_until_writes(3));
    EXPECT_EQ(writes(), 3u);
    EXPECT_EQ(page.refreshes(), 0u) << "the page's messages were dispatched by the loop";
    const std::size_t before = writes();
    DWORD start = GetTickCount();
    unsigned refreshes = 0;
    while (GetTickCount() - start < 600) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        refreshes += page.refreshes();
        callbacks.run_pending();
    }
    refreshes += page.refreshes();
    EXPECT_EQ(refreshes, writes() - before) << "one refresh per delayed write";

    hook.on_shutdown();
    EXPECT_EQ(page.refreshes(), 0u);
}

TEST_F(PlaybackEventSink, AFailedLookupInTheTimerDropsOnlyThatWrite)
{
    registry.clear();
    registry.add(kestrune::playback_control_guid, control);
    registry.add(kestrune::title_format_compiler_guid, compiler);
    registry.add(kestrune::track_handle_factory_guid, factory);
    event_settings.set_word(on_pause, 1);
    event_settings.set_word(delay_enabled, 1);
    event_settings.set_word(delay_ms, 100);
    host_view().on_pause(1);
    pump_messages_for(500);
    EXPECT_EQ(writes(), 0u) << "no callback manager: the elapses write nothing, and the host lives on";

    callbacks.fail_queueing = true;
    registry.add(kestrune::main_thread_callback_manager_guid, callbacks);
    pump_messages_for(400);
    EXPECT_EQ(writes(), 0u);

    // Then an elapse finds no memory for its callback; only the main thread's sleep runs beside it.
    callbacks.fail_queueing = false;
    fail_heap_request(1);
    const DWORD start = GetTickCount();
    while (heap_request_failure_pending() && GetTickCount() - start < 5000)
        Sleep(5);
    EXPECT_FALSE(heap_request_failure_pending());
    fail_heap_request(0);
    pump_messages_for(500);
    EXPECT_GE(writes(), 2u) << "the timer went on without a new request";
}

TEST_F(PlaybackEventSink, NoWriteReplacesTheExitText)
{
    log_mode.set(0);
    event_settings.set_word(on_pause, 1);
    event_settings.set_word(delay_enabled, 1);
    event_settings.set_word(delay_ms, 100);
    host_view().on_pause(1);
    ASSERT_TRUE(pump_until_writes(1));
    hook.on_shutdown();
    EXPECT_EQ(sink.scheduler().worker_thread(), nullptr);
    pump_messages_for(500);
    host_view().on_pause(0);
    EXPECT_EQ(file_text(), "not running");
}

} // namespace
} // namespace velmora
