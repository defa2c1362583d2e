#pragma once

#include <cstddef>

namespace velmora {

// Blocks from the process heap, so that text handed to or taken from the host never depends on which C runtime
// either side uses.

// Reallocates block (null: allocates) to size bytes; size 0 frees it and gives null. On failure the old block is
// untouched and std::bad_alloc is thrown.
void* heap_reallocate(void* block, std::size_t size);

// As heap_reallocate, but a failure gives null and leaves the old block untouched.
void* heap_try_reallocate(void* block, std::size_t size) noexcept;

void heap_free(void* block) noexcept;

// count * unit_size, or std::bad_alloc when the product does not fit 32 bits.
std::size_t heap_size_of(std::size_t count, std::size_t unit_size);

#ifdef VELMORA_ALLOCATION_SEAM
// Test builds only: the nth heap request from now (1 = the next) fails; 0 lets every request through again.
void fail_heap_request(unsigned nth) noexcept;
#endif

} // namespace velmora
