#include "events/delayed_write_callback.h"

#include <atomic>

#include "events/delay_scheduler.h"
#include "events/now_playing_request.h"

namespace velmora {

namespace {
// Module-wide rather than the scheduler's: a callback the host releases late must not reach a scheduler that is gone.
std::atomic<bool> write_queued{false};
} // namespace

bool delayed_write_callback::claim() noexcept
{
    return !write_queued.exchange(true);
}

void delayed_write_callback::unclaim() noexcept
{
    write_queued = false;
}

delayed_write_callback::~delayed_write_callback()
{
    // Released without a run: the host dropped it, and the next elapse may queue another.
    if (!ran_)
        unclaim();
}

void delayed_write_callback::run_on_main_thread()
{
    // Cleared first, so that an elapse during the write may queue the next.
    ran_ = true;
    unclaim();
    if (!scheduler_.closed())
        queue_now_playing(take_delayed_outputs());
}

} // namespace velmora
