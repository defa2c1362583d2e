#include <functional>
#include <new>
#include <string>
#include <utility>

#include "events/init_quit_hook.h"
#include "events/output_request.h"
#include "events/playback_event_sink.h"
#include "formatting/text_formatting.h"
#include "tests/heap_sweep.h"
#include "tests/host_fixture.h"

namespace velmora {
namespace {

// Makes each heap request of the formatting and writing paths fail in turn, the stand-in host's own included: the
// failure must reach the caller, the output must keep its previous text, and every block taken must be freed.
class PipelineHeapSweep : public host_fixture {
protected:
    void SetUp() override
    {
        host_fixture::SetUp();
        log_mode.set(0);
        control.volume = -2.5f;
    }

    // What the stand-in host recorded is its own memory, not the component's.
    void forget_host_records()
    {
        compiler.forget();
        factory.forget();
        std::vector<std::string>().swap(receiver.lines);
    }

    unsigned sweep_file_writes(const std::function<void()>& write, const std::string& whole_text)
    {
        return sweep_heap_requests(
            [&] {
                std::ofstream(path.c_str(), std::ios::binary) << "before";
                forget_host_records();
            },
            [&] {
                write();
                wait_for_writes();
            },
            [&] {
                const std::string content = file_text();
                EXPECT_TRUE(content == "before" || content == whole_text) << content.size() << " bytes";
            },
            [&] { forget_host_records(); });
    }

    stand_in::track_handle song{audit, "song", {{"title", "Tune"}}};
};

TEST_F(PipelineHeapSweep, FormattingKeepsThePreviousTextOnEveryPath)
{
    const char* script = "%volume% %datetime% $if(%isplaying%,%title%,none)";
    for (stand_in::track_handle* playing : {&song, static_cast<stand_in::track_handle*>(nullptr)}) {
        control.playing = playing;
        utf8_string out;
        bool formatted = false;
        EXPECT_GE(sweep_heap_requests(
                      [&] {
                          out.assign("previous");
                          forget_host_records();
                      },
                      [&] { formatted = format_now_playing(script, out); },
                      [&] { EXPECT_STREQ(out.c_str(), "previous"); }, [&] { forget_host_records(); }),
                  5u);
        EXPECT_TRUE(formatted);
        const std::string text = out.c_str();
        EXPECT_EQ(text.substr(0, 6), "-2.50 ");
        EXPECT_EQ(text.substr(text.size() - 5), playing != nullptr ? " Tune" : " none");
    }
}

TEST_F(PipelineHeapSweep, TheWriterLeavesTheFileAsItWasInEveryEncodingAndMode)
{
    ASSERT_EQ(GetACP(), 1252u) << "the ANSI bytes below are code page 1252's";
    const utf8_string text("h\xC3\xA9 \xF0\x9F\x8E\xB5");
    const std::string expected[][2] = {
        {"h\xC3\xA9 \xF0\x9F\x8E\xB5", "beforeh\xC3\xA9 \xF0\x9F\x8E\xB5"},
        {"\xEF\xBB\xBFh\xC3\xA9 \xF0\x9F\x8E\xB5", "beforeh\xC3\xA9 \xF0\x9F\x8E\xB5"},
        {std::string("\xFF\xFEh\0\xE9\0 \0\x3C\xD8\xB5\xDF", 12),
         std::string("before\xFF\xFEh\0\xE9\0 \0\x3C\xD8\xB5\xDF", 18)},
        {"h\xE9 ??", "beforeh\xE9 ??"},
    };
    for (std::int32_t encoding = encoding_utf8; encoding <= encoding_ansi; ++encoding) {
        for (std::int32_t log : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << "encoding " << encoding << ", log mode " << log);
            output_encoding.set(encoding);
            log_mode.set(log);
            EXPECT_GE(sweep_file_writes([&] { queue_output(text); }, expected[encoding][log]), 1u);
            EXPECT_EQ(file_text(), expected[encoding][log]);
        }
    }
}

TEST_F(PipelineHeapSweep, AnEventWriteLeavesTheFileAsItWasOrWhole)
{
    playback_event_sink sink;
    kestrune::playback_event_callbacks& host_view = sink;
    control.playing = &song;
    now_playing_script.set("%volume% $if(%isplaying%,%title%,none)");
    event_settings.set_word(event_word::on_pause, 1);
    output_encoding.set(encoding_unicode);
    const std::string whole("\xFF\xFE-\0"
                            "2\0.\0"
                            "5\0"
                            "0\0 \0T\0u\0n\0e\0",
                            22);
    EXPECT_GE(sweep_file_writes([&] { host_view.on_pause(1); }, whole), 8u);
    EXPECT_EQ(file_text(), whole);
    sink.scheduler().close();
}

// With memory gone for good from some point on, every event, the start-up write and the exit text either get
// through whole or throw std::bad_alloc to the host, with the file as it was.
TEST_F(PipelineHeapSweep, RunningOutOfMemoryForGoodLeavesTheFileAsItWasOrWhole)
{
    playback_event_sink sink;
    init_quit_hook hook{sink.scheduler()};
    kestrune::playback_event_callbacks& host_view = sink;
    control.playing = &song;
    now_playing_script.set("%title%");
    exit_text.set("gone");
    event_settings.set_word(event_word::on_pause, 1);
    const std::pair<std::function<void()>, std::string> steps[] = {
        {[&] { host_view.on_pause(1); }, "Tune"},
        {[&] { hook.on_startup(); }, "Tune"},
        {[&] { hook.on_shutdown(); }, "gone"},
    };
    for (const auto& [step, whole_text] : steps) {
        unsigned nth = 1;
        for (; nth < 200; ++nth) {
            std::ofstream(path.c_str(), std::ios::binary) << "before";
            fail_heap_requests_from(nth);
            bool thrown = false;
            try {
                step();
            } catch (const std::bad_alloc&) {
                thrown = true;
            }
            const bool reached = !heap_request_failure_pending();
            fail_heap_request(0);
            forget_host_records();
            const std::string content = file_text();
            EXPECT_EQ(thrown, reached) << nth;
            EXPECT_TRUE(content == (thrown ? "before" : whole_text)) << nth << ": " << content;
            EXPECT_EQ(audit.findings(), "") << nth;
            if (!reached)
                break;
        }
        EXPECT_GT(nth, 3u) << whole_text;
    }
}

} // namespace
} // namespace velmora
