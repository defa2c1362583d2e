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

// Gives back the end of block past size bytes (size > 0) where the heap can do so without moving it; the block
// stays valid and where it was either way.
void heap_shrink_in_place(void* block, std::size_t size) noexcept;

// count * unit_size, or std::bad_alloc when the product does not fit 32 bits.
std::size_t heap_size_of(std::size_t count, std::size_t unit_size);

#ifdef VELMORA_ALLOCATION_SEAM
// Test builds only. A heap request is a new text block or any operator new of the program.
// The nth heap request from now (1 = the next) fails; 0 lets every request through again.
void fail_heap_request(unsigned nth) noexcept;

// As fail_heap_request, but every request from the nth on fails, as when memory has run out, until
// fail_heap_request(0).
void fail_heap_requests_from(unsigned nth) noexcept;

// Whether the planned failure is still ahead (it has not been reached yet).
bool heap_request_failure_pending() noexcept;

// The number of blocks allocated and not yet freed, to tell whether an operation leaked.
long live_heap_blocks() noexcept;
#endif

} // namespace velmora
