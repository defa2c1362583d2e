#include "events/delay_scheduler.h"

#include <tlhelp32.h>

#include "tests/host_fixture.h"
#include "win32/heap_memory.h"

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

using WriteScheduler = event_sink_fixture;

TEST_F(WriteScheduler, WithoutTheDelayNoWorkerIsEverCreated)
{
    event_settings.set_word(event_word::on_every_second, 1);
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

TEST_F(WriteScheduler, ABurstGivesOneWriteAPeriodAfterTheLastRequestThenOnePerPeriod)
{
    const unsigned threads = threads_of_this_process();
    event_settings.set_word(event_word::on_every_second, 1);
    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 400);
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

TEST_F(WriteScheduler, SwitchingTheDelayOffLeavesTheArmedTimerRunning)
{
    event_settings.set_word(event_word::on_pause, 1);
    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 150);
    host_view().on_pause(1);
    event_settings.set_word(event_word::delay_enabled, 0);
    host_view().on_pause(0);
    EXPECT_EQ(writes(), 1u) << "the new request is written at once";
    pump_messages_for(1200);
    EXPECT_GE(writes(), 4u) << "and the armed timer goes on";
}

TEST_F(WriteScheduler, AFailedLookupInTheTimerDropsOnlyThatWrite)
{
    registry.clear();
    registry.add(kestrune::playback_control_guid, control);
    registry.add(kestrune::title_format_compiler_guid, compiler);
    registry.add(kestrune::track_handle_factory_guid, factory);
    event_settings.set_word(event_word::on_pause, 1);
    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 100);
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

} // namespace
} // namespace velmora
