#include "pipeline/main_thread_write.h"

#include <atomic>

#include "pipeline/write_now_playing.h"
#include "pipeline/write_scheduler.h"

namespace velmora {

namespace {
// Module-wide rather than the scheduler's: a callback the host releases late must not reach a scheduler that is gone.
std::atomic<bool> write_queued{false};
} // namespace

bool main_thread_write::claim() noexcept
{
    return !write_queued.exchange(true);
}

void main_thread_write::unclaim() noexcept
{
    write_queued = false;
}

main_thread_write::~main_thread_write()
{
    // Released without a run: the host dropped it, and the next elapse may queue another.
    if (!ran_)
        unclaim();
}

void main_thread_write::run_on_main_thread()
{
    // Cleared first, so that an elapse during the write may queue the next.
    ran_ = true;
    unclaim();
    if (!scheduler_.closed())
        write_now_playing();
}

} // namespace velmora
