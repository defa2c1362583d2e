#include "boundary/host_callback.h"

#include "win32/this_module.h"

namespace velmora::host_callbacks {

namespace {
// The count of held callbacks, with the top bit set while retired: one word, so that admitting and retiring cannot
// cross (a callback admitted after the count was read at retiring would be held in an unpinned module).
constexpr std::uint32_t retired_bit = 0x80000000u;
std::atomic<std::uint32_t> state{0};
} // namespace

bool admit() noexcept
{
    std::uint32_t current = state.load();
    do {
        if ((current & retired_bit) != 0)
            return false;
    } while (!state.compare_exchange_weak(current, current + 1));
    return true;
}

void leave() noexcept
{
    state.fetch_sub(1);
}

void retire() noexcept
{
    const std::uint32_t before = state.fetch_or(retired_bit);
    if ((before & ~retired_bit) != 0)
        pin_this_module();
}

void reopen() noexcept
{
    state.fetch_and(~retired_bit);
}

bool retired() noexcept
{
    return (state.load() & retired_bit) != 0;
}

} // namespace velmora::host_callbacks
