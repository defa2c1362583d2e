#include "events/playback_event_sink.h"

#include <fstream>
#include <functional>
#include <optional>
#include <vector>

#include "boundary/host_exceptions.h"
#include "output/cover_thread.h"
#include "settings/component_settings.h"
#include "tests/host_fixture.h"
#include "ui/preferences_window.h"

namespace velmora {
namespace {

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

using PlaybackEventSink = event_sink_fixture;

TEST_F(PlaybackEventSink, PresentsBothTablesAndTheWorkerFieldsWhereTheHostLooks)
{
    const auto* base = reinterpret_cast<const char*>(&sink);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<kestrune::playback_event_service*>(&sink)), base);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<kestrune::playback_event_callbacks*>(&sink)), base + 4);
    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 60000);
    sink.scheduler().request_write();
    const auto* worker = reinterpret_cast<const kestrune::playback_event_worker*>(base + 8);
    ASSERT_NE(worker->thread, nullptr);
    EXPECT_EQ(worker->thread_id, GetThreadId(worker->thread));
    EXPECT_EQ(worker->thread, sink.scheduler().worker_thread());

    EXPECT_EQ(sink.subscribed_events(), 0x196u);
    kestrune::service_object* found = nullptr;
    EXPECT_FALSE(sink.query_by_guid(&found, kestrune::init_quit_hook_guid));
    EXPECT_TRUE(sink.query_by_guid(&found, kestrune::playback_event_sink_guid));
    EXPECT_EQ(found, static_cast<kestrune::service_object*>(&sink));
    EXPECT_TRUE(hook.query_by_guid(&found, kestrune::init_quit_hook_guid));
}

TEST_F(PlaybackEventSink, ANewTracksTextCarriesItsLocationToTheCoverArtInOneFormatting)
{
    const std::wstring folder = path + L".album";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::string picture = "GIF89a\x01\x00\x01\x00picture";
    std::ofstream(std::wstring(folder + L"\\cover.gif").c_str(), std::ios::binary) << picture;
    char location[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, (folder + L"\\01.mp3").c_str(), -1, location, sizeof location, nullptr, nullptr);
    stand_in::track_handle track(audit, "track with art", {{"title", "T"}, {"path", location}});
    control.playing = &track;
    cover_settings.set(std::string(location) + ".cover.gif", "");
    event_settings.set_word(event_word::on_new_track, 1);
    for (int event = 0; event < 2; ++event) {
        const std::size_t compiled = compiler.received.size();
        track.add_ref();
        host_view().on_new_track(&track);
        ASSERT_TRUE(wait_for_cover(10000));
        ASSERT_TRUE(published_cover().has_value());
        EXPECT_EQ(*published_cover()->bytes, picture);
        // The first time the script is checked against formattings apart; from then on one formatting gives both.
        if (event == 1) {
            EXPECT_EQ(compiler.received.size() - compiled, 1u);
        }
    }
    finish_cover_at_shutdown(5000);
    cover_settings.set("", "");
    control.playing = nullptr;
    DeleteFileW((std::wstring(path) + L".album\\01.mp3.cover.gif").c_str());
    DeleteFileW((folder + L"\\cover.gif").c_str());
    RemoveDirectoryW(folder.c_str());
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
        std::optional<event_word> switch_word;
        std::size_t writes_when_on;
    };
    auto& host = host_view();
    const std::vector<notification> notifications = {
        {"playback starting", [&] { host.on_playback_starting(1, 0); }, std::nullopt, 1},
        {"new track", [&] { host.on_new_track(owned_track()); }, event_word::on_new_track, 1},
        {"stop, reason 0", [&] { host.on_playback_stop(0); }, event_word::on_stop, 1},
        {"stop, reason 1", [&] { host.on_playback_stop(1); }, event_word::on_stop, 1},
        {"stop, reason 2", [&] { host.on_playback_stop(2); }, event_word::on_stop, 0},
        {"seek", [&] { host.on_seek(12.5); }, std::nullopt, 0},
        {"pause", [&] { host.on_pause(1); }, event_word::on_pause, 1},
        {"resume", [&] { host.on_pause(0); }, event_word::on_pause, 1},
        {"track edited", [&] { host.on_track_edited(owned_track()); }, std::nullopt, 0},
        {"dynamic info", [&] { host.on_dynamic_info(nullptr); }, std::nullopt, 0},
        {"dynamic track info", [&] { host.on_dynamic_track_info(nullptr); }, event_word::on_new_track, 1},
        {"playback time", [&] { host.on_playback_time(3.0); }, event_word::on_every_second, 1},
        {"volume", [&] { host.on_volume_change(-3.0f); }, std::nullopt, 0},
    };
    for (const notification& sent : notifications) {
        for (std::uint32_t switched : {0u, 1u}) {
            for (event_word word :
                 {event_word::on_new_track, event_word::on_pause, event_word::on_stop, event_word::on_every_second})
                event_settings.set_word(word, 1 - switched);
            if (sent.switch_word)
                event_settings.set_word(*sent.switch_word, switched);
            const std::size_t before = writes();
            sent.send();
            const std::size_t expected = !sent.switch_word || switched ? sent.writes_when_on : 0;
            EXPECT_EQ(writes() - before, expected) << sent.name << " with its switch " << switched;
            EXPECT_EQ(track.references(), 1) << sent.name;
        }
    }
    EXPECT_EQ(sink.scheduler().worker_thread(), nullptr);
}

// Output 2 appends "y" to output 1's file, so that the file shows which outputs wrote, and in which order.
TEST_F(PlaybackEventSink, EveryOutputFollowsItsOwnSwitchesInOutputOrder)
{
    output_settings second = default_added_output();
    second.path = output_path.text();
    second.script = "y";
    second.encoding = encoding_utf8;
    second.log_mode = true;
    added_outputs.outputs().push_back(second);
    struct event_kind {
        event_word word;
        bool output_settings::*second_switch;
        std::function<void()> send;
    };
    auto& host = host_view();
    const event_kind kinds[] = {
        {event_word::on_new_track, &output_settings::on_new_track, [&] { host.on_dynamic_track_info(nullptr); }},
        {event_word::on_pause, &output_settings::on_pause, [&] { host.on_pause(1); }},
        {event_word::on_stop, &output_settings::on_stop, [&] { host.on_playback_stop(0); }},
        {event_word::on_every_second, &output_settings::on_every_second, [&] { host.on_playback_time(1.0); }},
    };
    for (const event_kind& kind : kinds) {
        for (int switches = 0; switches < 4; ++switches) {
            event_settings.set_word(kind.word, switches & 1);
            added_outputs.outputs()[0].*kind.second_switch = (switches & 2) != 0;
            const std::string before = file_text();
            kind.send();
            const std::string expected = std::string((switches & 1) != 0 ? "x" : "") + ((switches & 2) != 0 ? "y" : "");
            EXPECT_EQ(file_text().substr(before.size()), expected) << static_cast<int>(kind.word) << " " << switches;
        }
    }
    const std::string expected = file_text() + "x" + "xy";
    host.on_playback_starting(1, 0);
    hook.on_startup();
    EXPECT_EQ(file_text(), expected) << "playback starting writes the first output, start-up every output";
}

TEST_F(PlaybackEventSink, TheNewTrackIsReleasedWhenTheWriteThrows)
{
    stand_in::track_handle track(audit, "notified track", {});
    event_settings.set_word(event_word::on_new_track, 1);
    registry.clear();
    track.add_ref();
    EXPECT_THROW(host_view().on_new_track(&track), exception_service_not_found);
    EXPECT_EQ(track.references(), 1);
}

TEST_F(PlaybackEventSink, TheOpenPageIsRefreshedAfterEventWritesOnly)
{
    preview_window page;
    event_settings.set_word(event_word::on_pause, 1);
    host_view().on_pause(1);
    EXPECT_EQ(page.refreshes(), 1u);
    hook.on_startup();
    EXPECT_EQ(page.refreshes(), 0u);

    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 100);
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

} // namespace
} // namespace velmora
