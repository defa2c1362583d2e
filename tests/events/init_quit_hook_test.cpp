#include "events/init_quit_hook.h"

#include <regex>
#include <vector>

#include "tests/host_fixture.h"

namespace velmora {
namespace {

using InitQuitHook = event_sink_fixture;

TEST_F(InitQuitHook, StartupWritesAtOnceAndShutdownWritesTheExitText)
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

TEST_F(InitQuitHook, ExitTextRulesDependOnLogMode)
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

    // Every output's exit text, in output order, each by its own output's rules.
    DeleteFileW(path.c_str());
    log_mode.set(1);
    exit_text.set("1");
    output_settings second = default_added_output();
    second.path = output_path.text();
    second.encoding = encoding_utf8;
    second.log_mode = true;
    second.exit_text = "2";
    output_settings silent = second;
    silent.exit_text = "";
    added_outputs.outputs() = {second, silent};
    init_quit_hook(sink.scheduler()).on_shutdown();
    EXPECT_EQ(file_text(), "1\r\n2\r\n");
    exit_text.set(default_exit_text);
}

TEST_F(InitQuitHook, NoWriteReplacesTheExitText)
{
    log_mode.set(0);
    event_settings.set_word(event_word::on_pause, 1);
    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 100);
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
