#pragma once

#include <atomic>
#include <type_traits>

#include <windows.h>

#include "boundary/host_boundary.h"
#include "events/now_playing_request.h"

namespace velmora {

// Carries out event-driven writes: at once, or with the delay on through a worker thread whose periodic thread
// timer is restarted by every request, so that a burst of requests gives one write a delay after the last, and
// then one each period. It begins with the worker's fields as the host reads them in the event sink.
class delay_scheduler {
public:
    delay_scheduler() noexcept = default;
    delay_scheduler(const delay_scheduler&) = delete;
    delay_scheduler& operator=(const delay_scheduler&) = delete;
    // Never waits: it may run under the loader lock. The worker keeps the module loaded while it runs, so it has
    // ended before the module goes away.
    ~delay_scheduler();

    // A write of the chosen outputs; with the delay on, one burst writes every output any of its requests chose.
    void request_write(output_set outputs = every_output);

    // At host shut-down: ends the worker and its timer (waiting a moment at most), and from then on writes nothing,
    // so that no write can replace the exit text.
    void close();
    // When the host clears the services-ready flag: the worker ends on its own, without a wait, so that no timer of
    // ours queues callbacks through host services that may be going, and none starts until restore; meanwhile a
    // delayed request writes at once.
    void end_worker() noexcept
    {
        withdrawn_ = true;
        stop_worker(false);
    }
    void restore() noexcept { withdrawn_ = false; }
    bool closed() const noexcept { return closed_.load(); }

    HANDLE worker_thread() const noexcept { return worker_.thread; }
    DWORD worker_thread_id() const noexcept { return worker_.thread_id; }

private:
    bool start_worker();
    void stop_worker(bool wait) noexcept;

    // Only the main thread writes them; the thread handle is the scheduler's own and closed by stop_worker.
    kestrune::playback_event_worker worker_{};
    std::atomic<bool> closed_{false};
    bool withdrawn_ = false;
};

// Standard layout puts the worker's fields at the scheduler's own address.
static_assert(std::is_standard_layout_v<delay_scheduler>, "the worker's fields come first");

// The thread message that restarts the worker's timer, with its two fixed parameters.
inline constexpr UINT MSG_ARM_DELAY = WM_USER + 4;
inline constexpr WPARAM arm_delay_wparam = 1;
inline constexpr LPARAM arm_delay_lparam = 2;

} // namespace velmora
