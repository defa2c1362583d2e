#pragma once

#include <functional>
#include <new>

#include <gtest/gtest.h>

#include "win32/heap_memory.h"

namespace velmora {

// Runs action with the first, second, third ... heap request failing, until a run gets through without meeting the
// failure, and gives the number of requests that run made. A run that ends in std::bad_alloc must have freed every
// block it took and passes check_unchanged; a run that met the failure and still got through (a failed shrink keeps
// the larger block) is left alone. prepare runs before each run, with every request let through.
// Single-threaded code only: another thread's requests would count too.
inline unsigned sweep_heap_requests(
    const std::function<void()>& prepare, const std::function<void()>& action,
    const std::function<void()>& check_unchanged, const std::function<void()>& settle = [] {})
{
    const auto failures = [] {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    };
    for (unsigned nth = 1; nth < 10000; ++nth) {
        prepare();
        const long blocks_before = live_heap_blocks();
        bool thrown = false;
        fail_heap_request(nth);
        try {
            action();
        } catch (const std::bad_alloc&) {
            thrown = true;
        }
        const bool reached = !heap_request_failure_pending();
        fail_heap_request(0);
        settle();
        const long blocks_after = live_heap_blocks();
        if (!reached) {
            EXPECT_FALSE(thrown);
            return nth - 1;
        }
        if (!thrown)
            continue;
        const int failures_before = failures();
        EXPECT_EQ(blocks_after, blocks_before) << "request " << nth << " failed and left blocks behind";
        SCOPED_TRACE(::testing::Message() << "request " << nth << " failed");
        check_unchanged();
        if (failures() != failures_before)
            return nth;
    }
    ADD_FAILURE() << "the action never got through";
    return 0;
}

} // namespace velmora
