#pragma once

#include <windows.h>

namespace velmora {

// A slim reader/writer lock, taken exclusively, usable with std::lock_guard and std::unique_lock. Unlike a mutex
// built on a kernel event it costs no call into the system when two threads meet on it (under Wine, no trip to
// the server, which other threads' file calls may be holding up). Nothing to release: it holds no handle.
class srw_lock {
public:
    srw_lock() noexcept = default;
    srw_lock(const srw_lock&) = delete;
    srw_lock& operator=(const srw_lock&) = delete;

    void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
    void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

    // For SleepConditionVariableSRW, while held.
    SRWLOCK* native() noexcept { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

} // namespace velmora
