#include "output/output_thread.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <windows.h>

#include "events/init_quit_hook.h"
#include "events/output_request.h"
#include "host/doubles/host_call_faults.h"
#include "tests/clipboard_text.h"
#include "tests/host_fixture.h"

namespace velmora {
namespace {

const char* const unopenable[] = {"C:\\velmora-no-such-folder\\1.txt", "C:\\velmora-no-such-folder\\2.txt",
                                  "C:\\velmora-no-such-folder\\3.txt"};

std::string failure_prefix(const std::string& file)
{
    return "Error: Can't write to the file " + file + ": ";
}

HANDLE failing_creator(LPTHREAD_START_ROUTINE, void*)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

class OutputDelivery : public event_sink_fixture {
protected:
    void TearDown() override
    {
        set_output_thread_creator(nullptr);
        on_services_restored(sink.scheduler());
        event_sink_fixture::TearDown();
        host_callbacks::reopen();
    }

    // Only the host's own loop runs: what comes back is handed over by the component's window, without a write.
    bool pump_until_lines(std::size_t count)
    {
        const DWORD start = GetTickCount();
        while (receiver.lines.size() < count && GetTickCount() - start < 10000)
            pump_messages_for(10);
        return receiver.lines.size() >= count;
    }

    void fail_writes(std::size_t count)
    {
        for (std::size_t file = 0; file < count; ++file) {
            output_path.set(unopenable[file]);
            queue_output(utf8_string("x"));
        }
    }
};

TEST_F(OutputDelivery, ErrorLinesComeBackInOrderWithoutAHostCallbackAndWithoutAnotherWrite)
{
    log_mode.set(0);
    fail_writes(3);
    ASSERT_TRUE(pump_until_lines(3));
    for (std::size_t line = 0; line < 3; ++line)
        EXPECT_EQ(receiver.lines[line].rfind(failure_prefix(unopenable[line]), 0), 0u) << receiver.lines[line];
    // Again after a quiet spell: nothing stays stuck.
    Sleep(200);
    fail_writes(1);
    ASSERT_TRUE(pump_until_lines(4));
    EXPECT_EQ(callbacks.runs(), 0u) << "the output thread asks the host for nothing";

    // After shut-down too, a write's line comes without waiting for the next write.
    receiver.lines.clear();
    hook.on_shutdown();
    receiver.lines.clear();
    fail_writes(1);
    ASSERT_TRUE(pump_until_lines(1));
    EXPECT_EQ(receiver.lines[0].rfind(failure_prefix(unopenable[0]), 0), 0u) << receiver.lines[0];
}

TEST_F(OutputDelivery, WhileTheServicesAreWithdrawnNoThreadStartsAndErrorLinesAreDropped)
{
    log_mode.set(0);
    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 50);
    wait_for_writes();
    set_services_ready_flag(0);
    on_services_withdrawn(sink.scheduler());
    pump_messages_for(200);
    fail_writes(1);
    sink.scheduler().request_write();
    EXPECT_EQ(sink.scheduler().worker_thread(), nullptr) << "no worker while withdrawn";
    EXPECT_FALSE(wait_for_output(300)) << "no output thread while withdrawn: the jobs wait";

    set_services_ready_flag(1);
    on_services_restored(sink.scheduler());
    wait_for_writes();
    output_path.set(unopenable[1]);
    queue_output(utf8_string("x"));
    ASSERT_TRUE(pump_until_lines(1));
    pump_messages_for(100);
    ASSERT_EQ(receiver.lines.size(), 1u) << "the line of the write made while withdrawn is dropped";
    EXPECT_EQ(receiver.lines[0].rfind(failure_prefix(unopenable[1]), 0), 0u) << receiver.lines[0];
}

// Waiting clipboard texts give way to the newest, as waiting replace jobs do: the clipboard is set once.
TEST_F(OutputDelivery, AThreadThatCannotStartLeavesTheJobsQueuedAndSaysSoOnce)
{
    log_mode.set(0);
    wait_for_writes();
    output_targets.set_word(output_target_word::save_to_file, 0);
    output_targets.set_word(output_target_word::copy_to_clipboard, 1);
    DWORD clipboard_sets = GetClipboardSequenceNumber();
    queue_output(utf8_string("c0"));
    const DWORD one_set = GetClipboardSequenceNumber() - clipboard_sets;
    output_targets.set_word(output_target_word::save_to_file, 1);
    output_targets.set_word(output_target_word::copy_to_clipboard, 0);
    on_services_withdrawn(sink.scheduler());
    wait_for_output(2000);
    Sleep(100); // the thread has ended once it was idle
    set_output_thread_creator(failing_creator);
    on_services_restored(sink.scheduler());
    for (const char* text : {"1", "2", "3"})
        queue_output(utf8_string(text));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "no file work on the main thread";
    ASSERT_EQ(receiver.lines.size(), 1u);
    EXPECT_EQ(receiver.lines[0].rfind("Error: Can't start the output thread: ", 0), 0u) << receiver.lines[0];
    EXPECT_GT(receiver.lines[0].size(), std::string("Error: Can't start the output thread: ").size());
    output_targets.set_word(output_target_word::save_to_file, 0);
    output_targets.set_word(output_target_word::copy_to_clipboard, 1);
    for (const char* text : {"c1", "c2", "c3"})
        queue_output(utf8_string(text));
    output_targets.set_word(output_target_word::save_to_file, 1);
    output_targets.set_word(output_target_word::copy_to_clipboard, 0);
    clipboard_sets = GetClipboardSequenceNumber();

    set_output_thread_creator(nullptr);
    queue_output(utf8_string("4"));
    EXPECT_EQ(file_text(), "4");
    EXPECT_EQ(receiver.lines.size(), 1u);
    EXPECT_EQ(GetClipboardSequenceNumber() - clipboard_sets, one_set) << "the clipboard is set once";
    EXPECT_EQ(clipboard_text(), L"c3");
}

TEST_F(OutputDelivery, ABurstOfLogEntriesOnAFreeDiskLosesNone)
{
    std::string expected;
    for (int entry = 0; entry < 2000; ++entry) {
        const std::string text = std::to_string(entry) + ";";
        queue_output(utf8_string(text.c_str()));
        expected += text;
    }
    EXPECT_EQ(file_text(), expected);
    EXPECT_TRUE(receiver.lines.empty()) << receiver.lines.front();
}

TEST_F(OutputDelivery, AReceiverThatThrowsAtShutDownStopsNeitherTheExitTextNorTheRetirement)
{
    log_mode.set(0);
    output_path.set(unopenable[0]);
    queue_output(utf8_string("x"));
    // The next print throws: the one of the failed write before the exit text.
    Sleep(300);
    stand_in::fail_host_call(1, true);
    const std::wstring exit_file = path;
    char utf8[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, exit_file.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    exit_text.set("gone");
    output_path.set(utf8);
    EXPECT_THROW(hook.on_shutdown(), std::runtime_error);
    stand_in::fail_host_call(0);
    exit_text.set(default_exit_text);
    EXPECT_EQ(file_text(), "gone");
    EXPECT_TRUE(host_callbacks::retired());
}

} // namespace
} // namespace velmora
