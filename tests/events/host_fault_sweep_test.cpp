#include <functional>
#include <stdexcept>
#include <string>

#include "boundary/service_ptr.h"
#include "events/delayed_write_callback.h"
#include "events/init_quit_hook.h"
#include "events/playback_event_sink.h"
#include "host/doubles/host_call_faults.h"
#include "tests/host_call_sweep.h"
#include "tests/host_fixture.h"

namespace velmora {
namespace {

// Makes each host call in turn fail, until a run passes without reaching the failure: every failure must reach the
// caller, leave no reference held, and leave the file either as it was or with the whole new text.
class HostFaultSweep : public host_fixture {
protected:
    void SetUp() override
    {
        host_fixture::SetUp();
        log_mode.set(0);
        now_playing_script.set("%volume% $if(%isplaying%,%title%,none)");
        control.volume = -2.5f;
        event_settings.set_word(event_word::on_pause, 1);
    }

    void TearDown() override
    {
        stand_in::fail_host_call(0);
        sink.scheduler().close();
        host_fixture::TearDown();
    }

    // Gives the number of host calls the action makes.
    unsigned sweep(const std::function<void()>& action, const std::string& whole_text)
    {
        return sweep_host_calls([&] { std::ofstream(path.c_str(), std::ios::binary) << "before"; }, action,
                                [&](unsigned, bool) {
                                    // The output thread's own host calls are over once its writes are.
                                    wait_for_writes();
                                    EXPECT_EQ(audit.findings(), "");
                                    const std::string content = file_text();
                                    EXPECT_TRUE(content == "before" || content == whole_text) << content;
                                });
    }

    kestrune::playback_event_callbacks& host_view() { return sink; }

    playback_event_sink sink;
    init_quit_hook hook{sink.scheduler()};
    stand_in::track_handle song{audit, "song", {{"title", "Tune"}}};
};

TEST_F(HostFaultSweep, EveryHostCallOfAnEventWriteMayFail)
{
    control.playing = &song;
    EXPECT_GE(sweep([&] { host_view().on_pause(1); }, "-2.50 Tune"), 8u);
}

TEST_F(HostFaultSweep, EveryHostCallOfAWriteWithNothingPlayingMayFail)
{
    EXPECT_GE(sweep([&] { host_view().on_pause(1); }, "-2.50 none"), 8u);
}

TEST_F(HostFaultSweep, EveryHostCallOfReportingAnUnopenableFileMayFail)
{
    control.playing = &song;
    output_path.set("C:\\velmora-no-such-folder\\now.txt");
    EXPECT_GE(sweep([&] { host_view().on_pause(1); }, "before"), 9u);
    EXPECT_EQ(receiver.lines.size(), 1u) << "only the run that got through reported";
}

TEST_F(HostFaultSweep, EveryHostCallOfTheStartupWriteMayFail)
{
    control.playing = &song;
    EXPECT_GE(sweep([&] { hook.on_startup(); }, "-2.50 Tune"), 8u);
}

TEST_F(HostFaultSweep, EveryHostCallOfADelayedWriteMayFail)
{
    control.playing = &song;
    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 3600000);
    // The delayed write's own part: the callback the host runs on its main thread.
    auto callback = make_host_callback<delayed_write_callback>(sink.scheduler());
    EXPECT_GE(sweep([&] { callback->run(); }, "-2.50 Tune"), 8u);
}

// The timer's own part runs on the worker: a failed call there drops that elapse only, and the next one queues its
// write. The main thread makes no host call meanwhile, since it runs no callback until the end.
TEST_F(HostFaultSweep, EveryHostCallOfATimerElapseMayFailAndOnlyThatElapseIsLost)
{
    control.playing = &song;
    event_settings.set_word(event_word::delay_enabled, 1);
    for (unsigned nth = 1; nth <= 8; ++nth) {
        event_settings.set_word(event_word::delay_ms, 20);
        const unsigned queued_before = callbacks.queued();
        stand_in::fail_host_call(nth);
        sink.scheduler().request_write();
        const DWORD start = GetTickCount();
        while ((stand_in::host_call_failure_pending() || callbacks.queued() == queued_before) &&
               GetTickCount() - start < 10000) {
            Sleep(5);
            // A queued write holds back the next elapse's; dropping it lets the elapses go on without a host call
            // of the main thread.
            if (stand_in::host_call_failure_pending())
                callbacks.discard_pending();
        }
        EXPECT_FALSE(stand_in::host_call_failure_pending()) << nth;
        EXPECT_GT(callbacks.queued(), queued_before) << "the timer went on after failing at call " << nth;
        // Quiet again: the next elapse is an hour away.
        event_settings.set_word(event_word::delay_ms, 3600000);
        sink.scheduler().request_write();
        Sleep(50);
        stand_in::fail_host_call(0);
        pump_messages_for(0);
        EXPECT_EQ(audit.findings(), "") << nth;
        EXPECT_EQ(file_text(), "-2.50 Tune");
    }
}

} // namespace
} // namespace velmora
