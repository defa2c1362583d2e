#pragma once

#include <utility>

#include <windows.h>

namespace velmora {

// A global memory block, freed on every way out unless handed over to the system.
class global_memory {
public:
    global_memory(UINT flags, SIZE_T bytes) noexcept : block_(GlobalAlloc(flags, bytes)) {}
    global_memory(const global_memory&) = delete;
    global_memory& operator=(const global_memory&) = delete;
    ~global_memory()
    {
        if (block_ != nullptr)
            GlobalFree(block_);
    }

    HGLOBAL get() const noexcept { return block_; }
    // Call once the system has accepted the block as its own.
    void hand_over() noexcept { block_ = nullptr; }

private:
    HGLOBAL block_;
};

// A global memory block locked for this scope.
class global_lock {
public:
    explicit global_lock(HGLOBAL block) noexcept : block_(block), data_(GlobalLock(block)) {}
    global_lock(const global_lock&) = delete;
    global_lock& operator=(const global_lock&) = delete;
    ~global_lock()
    {
        if (data_ != nullptr)
            GlobalUnlock(block_);
    }

    void* data() const noexcept { return data_; }

private:
    HGLOBAL block_;
    void* data_;
};

} // namespace velmora
