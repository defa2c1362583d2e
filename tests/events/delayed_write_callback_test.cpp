#include "events/delayed_write_callback.h"

#include "tests/host_fixture.h"

namespace velmora {
namespace {

using MainThreadWrite = event_sink_fixture;

// Born with its maker's reference, as every counted object: adopting it takes that one, and the last release
// frees it (the heap checks of the long runs see a double free or a leak).
TEST_F(MainThreadWrite, IsBornWithOneReferenceAndFreedByTheLast)
{
    kestrune::main_thread_callback* made = make_host_callback<delayed_write_callback>(sink.scheduler()).detach();
    EXPECT_EQ(made->add_ref(), 2);
    EXPECT_EQ(made->release(), 1);
    EXPECT_EQ(made->release(), 0);
}

TEST_F(MainThreadWrite, AnElapseQueuesNoSecondWriteWhileTheHostHasNotRunTheFirst)
{
    event_settings.set_word(event_word::on_pause, 1);
    event_settings.set_word(event_word::delay_enabled, 1);
    event_settings.set_word(event_word::delay_ms, 20);
    const unsigned queued_before = callbacks.queued();
    host_view().on_pause(1);
    Sleep(400);
    EXPECT_EQ(callbacks.queued() - queued_before, 1u) << "twenty elapses, one queued write";
    ASSERT_TRUE(pump_until_writes(2)) << "once it has run, the next elapse queues again";
}

} // namespace
} // namespace velmora
