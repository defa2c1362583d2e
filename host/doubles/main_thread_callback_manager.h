#pragma once

#include <atomic>
#include <deque>
#include <mutex>

#include <windows.h>

#include "host/doubles/counted.h"

namespace stand_in {

// Runs queued callbacks later on the thread that made it, from that thread's message loop, and releases each after
// its run. queue_callback may be called from any thread.
class main_thread_callback_manager final : public counted<kestrune::main_thread_callback_manager> {
public:
    explicit main_thread_callback_manager(reference_audit& audit);
    ~main_thread_callback_manager();

    void __thiscall queue_callback(kestrune::main_thread_callback* callback) override;

    // Runs what is queued now; the message loop calls it, tests may too.
    void run_pending();
    // Releases what is queued now without running it, as a host that drops its queue does.
    void discard_pending();

    unsigned queued() const noexcept { return queued_; }
    unsigned runs() const noexcept { return runs_; }
    // When set, queue_callback throws std::runtime_error (and takes over nothing).
    bool fail_queueing = false;

private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    HWND window_;
    std::mutex mutex_;
    std::deque<kestrune::main_thread_callback*> pending_;
    std::atomic<unsigned> queued_{0};
    unsigned runs_ = 0;
};

} // namespace stand_in
