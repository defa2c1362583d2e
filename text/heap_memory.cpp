#include "text/heap_memory.h"

#include <cstdint>
#include <new>

#include <windows.h>

namespace velmora {

#ifdef VELMORA_ALLOCATION_SEAM
namespace {
unsigned requests_until_failure = 0;

bool injected_failure() noexcept
{
    if (requests_until_failure == 0)
        return false;
    return --requests_until_failure == 0;
}
} // namespace

void fail_heap_request(unsigned nth) noexcept
{
    requests_until_failure = nth;
}
#else
namespace {
constexpr bool injected_failure() noexcept
{
    return false;
}
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
    if (block == nullptr)
        return HeapAlloc(GetProcessHeap(), 0, size);
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
    if (block != nullptr)
        HeapFree(GetProcessHeap(), 0, block);
}

std::size_t heap_size_of(std::size_t count, std::size_t unit_size)
{
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * unit_size;
    if (bytes > UINT32_MAX)
        throw std::bad_alloc();
    return static_cast<std::size_t>(bytes);
}

} // namespace velmora
