#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "events/playback_event_sink.h"
#include "host/doubles/process_counts.h"
#include "tests/fuzz_rounds.h"
#include "tests/host_fixture.h"
#include "ui/preferences_dialog.h"
#include "win32/heap_memory.h"

namespace velmora {
namespace {

struct stretch {
    bool delay;
    bool log;
    // 0: closed, 1: open, 2: opened and closed every minute
    int page;
};

const stretch stretches[] = {
    {false, true, 0}, {false, false, 1}, {true, true, 1}, {true, false, 0}, {false, true, 2}, {true, true, 2},
};

// A quarter of an hour of playback at full speed (VELMORA_SOAK_HOURS sets hours, for the long runs), a write every
// second, in six stretches that switch the delay, log mode and the preferences page: every write lands whole in the
// file, and afterwards the process holds exactly the handles, windows and memory it held before.
class Soak : public host_fixture {
protected:
    void SetUp() override
    {
        host_fixture::SetUp();
        host_window = CreateWindowExW(0, L"STATIC", L"host preferences", WS_OVERLAPPEDWINDOW, 40, 40, 700, 640, nullptr,
                                      nullptr, nullptr, nullptr);
        control.playing = &song;
        now_playing_script.set("%title%;");
        event_settings.set_word(event_word::on_every_second, 1);
        event_settings.set_word(event_word::delay_ms, 5);
        for (std::size_t index = 0; index < 2 * std::size(stretches); ++index) {
            files.push_back(path + L"." + std::to_wstring(index));
            DeleteFileW(files.back().c_str());
        }
    }

    void TearDown() override
    {
        sink.scheduler().close();
        DestroyWindow(host_window);
        for (const std::wstring& file : files)
            DeleteFileW(file.c_str());
        host_fixture::TearDown();
    }

    // Plays the given simulated seconds; gives the number of writes made.
    std::size_t play(const stretch& settings, unsigned seconds)
    {
        log_mode.set(settings.log ? 1 : 0);
        event_settings.set_word(event_word::delay_enabled, settings.delay ? 1 : 0);
        std::size_t writes = 0;
        for (unsigned second = 0; second < seconds; ++second) {
            const bool page_wanted = settings.page == 1 || (settings.page == 2 && second / 60 % 2 == 0);
            if (page_wanted && page.window() == nullptr)
                page.create(host_window);
            else if (!page_wanted && page.window() != nullptr)
                DestroyWindow(page.window());

            song.fields["title"] = std::to_string(++clock);
            const unsigned runs_before = callbacks.runs();
            host_view().on_playback_time(clock);
            if (settings.delay) {
                const DWORD start = GetTickCount();
                while (callbacks.runs() == runs_before && GetTickCount() - start < 5000)
                    pump_messages_for(1);
                EXPECT_NE(callbacks.runs(), runs_before) << "the delayed write of second " << clock << " came";
            } else {
                ++writes;
            }
            pump_messages_for(0);
            writes += callbacks.runs() - runs_before;
            forget_host_records();
        }
        return writes;
    }

    // Plays the seconds in a file of their own and checks what the file holds.
    void run_stretch(const stretch& settings, unsigned seconds)
    {
        SCOPED_TRACE(::testing::Message()
                     << "delay " << settings.delay << ", log mode " << settings.log << ", page " << settings.page);
        const std::wstring& file = next_file();
        const unsigned first = clock + 1;
        const std::size_t writes = play(settings, seconds);
        const std::string content = content_of(file);
        const std::string last = std::to_string(clock) + ";";
        // An entry dropped for a backlog says so here.
        EXPECT_EQ(receiver.lines, std::vector<std::string>()) << "the console's lines";
        if (!settings.log) {
            EXPECT_EQ(content, last);
            return;
        }
        // One entry per write, each a whole text: the seconds in order, a delayed one possibly more than once.
        std::size_t entries = 0;
        unsigned previous = first;
        for (std::size_t at = 0; at < content.size();) {
            const std::size_t end = content.find(';', at);
            ASSERT_NE(end, std::string::npos) << "a cut entry at " << at;
            const unsigned second = static_cast<unsigned>(std::stoul(content.substr(at, end - at)));
            ASSERT_TRUE(second == previous || second == previous + 1) << second << " after " << previous;
            previous = second;
            ++entries;
            at = end + 1;
        }
        EXPECT_EQ(entries, writes);
        EXPECT_GE(entries, seconds);
        ASSERT_GE(content.size(), last.size());
        EXPECT_EQ(content.substr(content.size() - last.size()), last);
    }

    // Lets no timer write until the next request, and hands back what the host recorded.
    void quiet()
    {
        event_settings.set_word(event_word::delay_enabled, 1);
        event_settings.set_word(event_word::delay_ms, 3600000);
        host_view().on_playback_time(clock);
        pump_messages_for(100);
        if (page.window() != nullptr)
            DestroyWindow(page.window());
        pump_messages_for(0);
        event_settings.set_word(event_word::delay_ms, 5);
        forget_host_records();
    }

    void forget_host_records()
    {
        compiler.forget();
        factory.forget();
    }

    // The files are named before anything is counted, so that their names are not counted as kept memory.
    const std::wstring& next_file()
    {
        const std::wstring& file = files.at(files_used++);
        char utf8[MAX_PATH * 3];
        WideCharToMultiByte(CP_UTF8, 0, file.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
        output_path.set(utf8);
        return file;
    }

    static std::string content_of(const std::wstring& file)
    {
        wait_for_writes();
        std::ifstream stream(file.c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(stream), {});
    }

    kestrune::playback_event_callbacks& host_view() { return sink; }

    playback_event_sink sink;
    preferences_dialog page;
    HWND host_window = nullptr;
    stand_in::track_handle song{audit, "song", {{"title", "0"}}};
    std::vector<std::wstring> files;
    std::size_t files_used = 0;
    unsigned clock = 0;
};

TEST_F(Soak, LongPlaybackKeepsEveryTextAndGivesBackEverything)
{
    // Everything that is made once (the worker, the page's window class, the fonts, the runtime's own) is made
    // in a short run before counting.
    for (const stretch& settings : stretches)
        run_stretch(settings, 2);
    quiet();
    const stand_in::process_counts before = stand_in::process_counts_now();
    const long blocks_before = live_heap_blocks();

    const unsigned hours = static_cast<unsigned>(environment_number("VELMORA_SOAK_HOURS", 0));
    for (const stretch& settings : stretches)
        run_stretch(settings, hours != 0 ? 600 * hours : 150);

    quiet();
    const stand_in::process_counts after = stand_in::process_counts_now();
    // A failure above keeps its own record in blocks of the test framework's.
    EXPECT_EQ(live_heap_blocks(), blocks_before) << "blocks still allocated";
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.gdi_objects, before.gdi_objects);
    EXPECT_EQ(after.user_objects, before.user_objects);
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_LE(after.heap_bytes, before.heap_bytes + 4096) << "process heap bytes, the system's own included";
    std::printf("  soak: %u simulated seconds; handles %u, windows %u, heap bytes %u -> %u, blocks %ld\n", clock,
                static_cast<unsigned>(after.handles), static_cast<unsigned>(after.windows),
                static_cast<unsigned>(before.heap_bytes), static_cast<unsigned>(after.heap_bytes), blocks_before);
}

} // namespace
} // namespace velmora
