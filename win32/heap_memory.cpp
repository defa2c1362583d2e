#include "win32/heap_memory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include <windows.h>

namespace velmora {

#ifdef VELMORA_ALLOCATION_SEAM
namespace {
std::atomic<unsigned> requests_until_failure{0};
std::atomic<bool> failures_persist{false};
std::atomic<bool> failure_met{false};
std::atomic<long> live_blocks{0};

bool injected_failure() noexcept
{
    unsigned remaining = requests_until_failure.load();
    for (;;) {
        if (remaining == 0)
            return false;
        if (remaining == 1 && failures_persist.load()) {
            failure_met = true;
            return true;
        }
        if (requests_until_failure.compare_exchange_weak(remaining, remaining - 1)) {
            if (remaining == 1)
                failure_met = true;
            return remaining == 1;
        }
    }
}

void count_block(long change) noexcept
{
    live_blocks += change;
}
} // namespace

void fail_heap_request(unsigned nth) noexcept
{
    failures_persist = false;
    failure_met = false;
    requests_until_failure = nth;
}

void fail_heap_requests_from(unsigned nth) noexcept
{
    failures_persist = true;
    failure_met = false;
    requests_until_failure = nth;
}

bool heap_request_failure_pending() noexcept
{
    return requests_until_failure.load() != 0 && !failure_met.load();
}

long live_heap_blocks() noexcept
{
    return live_blocks.load();
}
#else
namespace {
constexpr bool injected_failure() noexcept
{
    return false;
}

constexpr void count_block(long) noexcept {}
} // namespace
#endif

void* heap_try_reallocate(void* block, std::size_t size) noexcept
{
    if (size == 0) {
        heap_free(block);
        return nullptr;
    }
    if (injected_failure())
        return nullptr;
    if (block == nullptr) {
        void* fresh = HeapAlloc(GetProcessHeap(), 0, size);
        if (fresh != nullptr)
            count_block(1);
        return fresh;
    }
    return HeapReAlloc(GetProcessHeap(), 0, block, size);
}

void* heap_reallocate(void* block, std::size_t size)
{
    void* result = heap_try_reallocate(block, size);
    if (result == nullptr && size != 0)
        throw std::bad_alloc();
    return result;
}

void heap_free(void* block) noexcept
{
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
        count_block(-1);
    }
}

void heap_shrink_in_place(void* block, std::size_t size) noexcept
{
    if (block != nullptr && size != 0)
        HeapReAlloc(GetProcessHeap(), HEAP_REALLOC_IN_PLACE_ONLY, block, size);
}

std::size_t heap_size_of(std::size_t count, std::size_t unit_size)
{
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * unit_size;
    if (bytes > UINT32_MAX)
        throw std::bad_alloc();
    return static_cast<std::size_t>(bytes);
}

} // namespace velmora

#ifdef VELMORA_ALLOCATION_SEAM
// In test builds every operator new of the program counts as a heap request too, so that a sweep reaches the
// standard library's allocations as well as the text blocks.
namespace {
void* counted_allocation(std::size_t size) noexcept
{
    if (velmora::injected_failure())
        return nullptr;
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr)
        velmora::count_block(1);
    return block;
}

void counted_release(void* block) noexcept
{
    if (block != nullptr) {
        velmora::count_block(-1);
        std::free(block);
    }
}

void* checked_allocation(std::size_t size)
{
    void* block = counted_allocation(size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}
} // namespace

void* operator new(std::size_t size)
{
    return checked_allocation(size);
}

void* operator new[](std::size_t size)
{
    return checked_allocation(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return counted_allocation(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return counted_allocation(size);
}

void operator delete(void* block) noexcept
{
    counted_release(block);
}

void operator delete[](void* block) noexcept
{
    counted_release(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    counted_release(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    counted_release(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    counted_release(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    counted_release(block);
}
#endif
