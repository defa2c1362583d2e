#include "host/doubles/process_counts.h"

#include <cstdint>

namespace stand_in {

namespace {

std::size_t open_handles()
{
    std::size_t count = 0;
    for (std::uintptr_t value = 4; value < 0x20000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}

BOOL CALLBACK count_window(HWND window, LPARAM count)
{
    ++*reinterpret_cast<std::size_t*>(count);
    EnumChildWindows(window, count_window, count);
    return TRUE;
}

std::size_t busy_heap_bytes()
{
    const HANDLE heap = GetProcessHeap();
    std::size_t busy = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
        if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0)
            busy += entry.cbData;
    }
    HeapUnlock(heap);
    return busy;
}

} // namespace

process_counts process_counts_now()
{
    process_counts counts;
    counts.handles = open_handles();
    counts.gdi_objects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    counts.user_objects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    EnumThreadWindows(GetCurrentThreadId(), count_window, reinterpret_cast<LPARAM>(&counts.windows));
    counts.heap_bytes = busy_heap_bytes();
    return counts;
}

} // namespace stand_in
