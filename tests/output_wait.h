#pragma once

#include <gtest/gtest.h>

#include "output/output_thread.h"

namespace velmora {

// The writes asked for so far, carried out by the output thread and their error lines and clipboard texts handed
// over: what a test waits for before it looks at the file. Ten seconds at most, so that a fault fails rather than
// hangs.
inline void wait_for_writes()
{
    EXPECT_TRUE(wait_for_output(10000)) << "the output thread did not finish its writes within 10 s";
}

} // namespace velmora
