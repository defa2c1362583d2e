#include "host/doubles/formatting_clock.h"

#include <x86intrin.h>

#include <windows.h>

namespace stand_in {

namespace {

// The processor's time-stamp counter: a section costs a few instructions, where the system's counter costs a call
// into the system that an emulator makes dear, and a formatting makes a dozen host calls.
std::int64_t ticks_now() noexcept
{
    return static_cast<std::int64_t>(__rdtsc());
}

std::int64_t system_ticks_now() noexcept
{
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

// The counter's rate, from its run against the system's counter since the program started.
struct calibration {
    std::int64_t ticks = ticks_now();
    std::int64_t system_ticks = system_ticks_now();
};
const calibration started;

} // namespace

std::atomic<std::int64_t> formatting_clock::ticks_{0};

double formatting_clock::seconds() noexcept
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double system_seconds =
        static_cast<double>(system_ticks_now() - started.system_ticks) / static_cast<double>(frequency.QuadPart);
    const double ticks = static_cast<double>(ticks_now() - started.ticks);
    if (system_seconds <= 0 || ticks <= 0)
        return 0;
    return static_cast<double>(ticks_.load()) * system_seconds / ticks;
}

formatting_clock::section::section() noexcept : start_(ticks_now()) {}

formatting_clock::section::~section()
{
    ticks_ += ticks_now() - start_;
}

formatting_clock::component_call::component_call() noexcept : start_(ticks_now()) {}

formatting_clock::component_call::~component_call()
{
    ticks_ -= ticks_now() - start_;
}

} // namespace stand_in
