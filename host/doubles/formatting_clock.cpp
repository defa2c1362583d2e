#include "host/doubles/formatting_clock.h"

#include <windows.h>

namespace stand_in {

namespace {

std::int64_t ticks_now() noexcept
{
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

} // namespace

std::atomic<std::int64_t> formatting_clock::ticks_{0};

double formatting_clock::seconds() noexcept
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks_.load()) / static_cast<double>(frequency.QuadPart);
}

formatting_clock::section::section() noexcept : start_(ticks_now()) {}

formatting_clock::section::~section()
{
    ticks_ += ticks_now() - start_;
}

} // namespace stand_in
