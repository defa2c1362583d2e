#pragma once

#include <cstddef>

#include <windows.h>

namespace stand_in {

// What a long run must give back: compared before and after it.
struct process_counts {
    // Counted by asking the system about every possible handle value, since Wine's process handle count is 0.
    std::size_t handles = 0;
    // 0 under Wine, which does not count them.
    DWORD gdi_objects = 0;
    DWORD user_objects = 0;
    // This thread's windows, children included.
    std::size_t windows = 0;
    // Busy bytes of the process heap, where the component's texts live.
    std::size_t heap_bytes = 0;
};

process_counts process_counts_now();

} // namespace stand_in
