#pragma once

#include <gtest/gtest.h>

#include "output/output_thread.h"
#include "test_watchdog.h"

namespace velmora {

// The writes asked for so far, carried out by the output thread and their error lines and clipboard texts handed
// over: what a test waits for before it looks at the file. Ten seconds at most, so that a fault fails rather than
// hangs.
inline void wait_for_writes()
{
    const velmora_tests::watchdog_wait waiting("the output thread to finish its writes");
    EXPECT_TRUE(wait_for_output(10000)) << "the output thread did not finish its writes within 10 s";
}

// Every test program that writes ends the output thread after its last test, as the host's shut-down does: a
// process that exits with the thread still waiting for work dies at its exit under the emulated Wine of the build
// machines.
class output_thread_ending final : public ::testing::Environment {
public:
    void TearDown() override { finish_output_at_shutdown(10000); }
};
inline ::testing::Environment* const output_thread_ending_environment =
    ::testing::AddGlobalTestEnvironment(new output_thread_ending);

} // namespace velmora
