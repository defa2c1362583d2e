#include "host/doubles/host_call_faults.h"

#include <atomic>
#include <stdexcept>
#include <string>

#include <windows.h>

namespace stand_in {

namespace {
std::atomic<unsigned> calls_until_failure{0};
std::atomic<DWORD> failing_thread{0};
} // namespace

void fail_host_call(unsigned nth, bool this_thread_only) noexcept
{
    failing_thread = this_thread_only ? GetCurrentThreadId() : 0;
    calls_until_failure = nth;
}

bool host_call_failure_pending() noexcept
{
    return calls_until_failure.load() != 0;
}

void count_host_call(const char* operation)
{
    const DWORD thread = failing_thread.load();
    if (thread != 0 && thread != GetCurrentThreadId())
        return;
    unsigned remaining = calls_until_failure.load();
    while (remaining != 0 && !calls_until_failure.compare_exchange_weak(remaining, remaining - 1)) {
    }
    if (remaining == 1)
        throw std::runtime_error(std::string("host failure in ") + operation);
}

} // namespace stand_in
