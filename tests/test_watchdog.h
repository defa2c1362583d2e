#pragma once

namespace velmora_tests {

// What the running test waits for, for the watchdog to print should the test run past its limit. Null for nothing
// in particular. The text must outlive the wait; a literal does.
void watchdog_waiting_for(const char* what) noexcept;

// Names a wait for the watchdog while it lasts.
class watchdog_wait {
public:
    explicit watchdog_wait(const char* what) noexcept { watchdog_waiting_for(what); }
    watchdog_wait(const watchdog_wait&) = delete;
    watchdog_wait& operator=(const watchdog_wait&) = delete;
    ~watchdog_wait() { watchdog_waiting_for(nullptr); }
};

} // namespace velmora_tests
