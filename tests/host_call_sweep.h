#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "host/doubles/host_call_faults.h"

namespace velmora {

// Runs action with the first, second, third ... call of this thread into the stand-in host failing, until a run gets through
// without meeting the failure, and gives the number of runs that met it. A failure met must reach the caller as the
// host's std::runtime_error. prepare runs before each run and check after it, both with every call let through;
// check learns whether the run met the failure. A run of more than limit - 1 calls is a failure of its own.
inline unsigned sweep_host_calls(const std::function<void()>& prepare, const std::function<void()>& action,
                                 const std::function<void(unsigned nth, bool met)>& check, unsigned limit = 400)
{
    for (unsigned nth = 1; nth < limit; ++nth) {
        prepare();
        bool thrown = false;
        stand_in::fail_host_call(nth, true);
        try {
            action();
        } catch (const std::runtime_error& error) {
            thrown = true;
            EXPECT_EQ(std::string(error.what()).rfind("host failure in ", 0), 0u) << error.what();
        }
        const bool met = !stand_in::host_call_failure_pending();
        stand_in::fail_host_call(0);
        EXPECT_EQ(thrown, met) << "call " << nth << ": a failure met must reach the caller";
        {
            SCOPED_TRACE(::testing::Message() << "call " << nth);
            check(nth, met);
        }
        if (!met || thrown != met)
            return nth - 1;
    }
    ADD_FAILURE() << "the action never got through";
    return 0;
}

} // namespace velmora
