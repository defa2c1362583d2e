#include "events/delay_scheduler.h"

#include <atomic>
#include <utility>

#include "boundary/host_services.h"
#include "boundary/service_ptr.h"
#include "events/delayed_write_callback.h"
#include "events/now_playing_request.h"
#include "settings/component_settings.h"
#include "win32/kernel_handle.h"
#include "win32/message_wait.h"
#include "win32/this_module.h"

namespace velmora {

namespace {

// The starter waits this long for the worker's queue, and closing waits this long for the worker's end. A thread
// that takes longer holds its own reference on the module, so giving up on it is safe.
constexpr DWORD worker_start_limit_ms = 1000;
constexpr DWORD worker_end_limit_ms = 500;

// What the starter hands the worker, shared by both: the one that lets go last frees it, so that a starter that has
// stopped waiting leaves the worker nothing dangling.
struct worker_start {
    kernel_handle started;
    const delay_scheduler* scheduler;
    HMODULE module;
    std::atomic<int> holders{2};

    static void let_go(worker_start* start) noexcept
    {
        if (--start->holders == 0)
            delete start;
    }
};

// The scheduler whose worker runs on this thread, for the timer procedure, which gets no argument of its own.
thread_local const delay_scheduler* worker_scheduler = nullptr;

void CALLBACK on_timer_elapsed(HWND, UINT, UINT_PTR, DWORD) noexcept
{
    // One write the host has not run yet is enough: it writes the newest text when it runs.
    if (!delayed_write_callback::claim())
        return;
    // Nothing may leave a timer procedure. A failed lookup or allocation drops this elapse's write; the callback
    // made before the lookup is released with it (which gives the claim back), and the timer goes on.
    service_ptr<kestrune::main_thread_callback> callback;
    try {
        callback = make_host_callback<delayed_write_callback>(*worker_scheduler);
        if (callback) {
            const auto manager =
                lookup_service<kestrune::main_thread_callback_manager>(kestrune::main_thread_callback_manager_guid);
            // The host takes the reference over only when the call returns; a call that throws leaves it ours.
            manager->queue_callback(callback.get());
            callback.detach();
            return;
        }
    } catch (...) {
    }
    // No callback was made (retired, or no memory for it): nothing else gives the claim back.
    if (!callback)
        delayed_write_callback::unclaim();
}

DWORD WINAPI run_worker(void* argument) noexcept
{
    auto* start = static_cast<worker_start*>(argument);
    worker_scheduler = start->scheduler;
    const HMODULE module = start->module;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(start->started.get());
    worker_start::let_go(start);

    UINT_PTR timer = 0;
    for (;;) {
        const BOOL result = GetMessageW(&message, nullptr, 0, 0);
        if (result == 0)
            break;
        if (result == -1)
            continue;
        if (message.message == MSG_ARM_DELAY && message.wParam == arm_delay_wparam &&
            message.lParam == arm_delay_lparam) {
            if (timer != 0)
                KillTimer(nullptr, timer);
            timer =
                SetTimer(nullptr, 0, static_cast<UINT>(event_settings.word(event_word::delay_ms)), on_timer_elapsed);
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (timer != 0)
        KillTimer(nullptr, timer);
    // Drops the worker's own reference on the module without returning into it.
    FreeLibraryAndExitThread(module, 0);
}

} // namespace

delay_scheduler::~delay_scheduler()
{
    stop_worker(false);
}

bool delay_scheduler::start_worker()
{
    kernel_handle started(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!started.valid())
        return false;
    auto* start = new worker_start{std::move(started), this, reference_this_module()};
    worker_.thread = CreateThread(nullptr, 0, run_worker, start, 0, &worker_.thread_id);
    if (worker_.thread != nullptr) {
        // A request that comes before the worker's queue exists is lost, as a failed post is.
        wait_answering_sent_messages(start->started.get(), worker_start_limit_ms);
        worker_start::let_go(start);
    } else {
        worker_.thread_id = 0;
        if (start->module != nullptr)
            FreeLibrary(start->module);
        delete start;
    }
    return worker_.thread != nullptr;
}

void delay_scheduler::request_write(output_set outputs)
{
    if (closed())
        return;
    if (event_settings.word(event_word::delay_enabled) == 0) {
        queue_now_playing(outputs);
        return;
    }
    // No worker is started while the host's services are withdrawn: the write goes at once.
    if (worker_.thread == nullptr && (withdrawn_ || !start_worker())) {
        queue_now_playing(outputs);
        return;
    }
    add_delayed_outputs(outputs);
    PostThreadMessageW(worker_.thread_id, MSG_ARM_DELAY, arm_delay_wparam, arm_delay_lparam);
}

void delay_scheduler::close()
{
    closed_ = true;
    stop_worker(true);
}

void delay_scheduler::stop_worker(bool wait) noexcept
{
    if (worker_.thread == nullptr)
        return;
    PostThreadMessageW(worker_.thread_id, WM_QUIT, 0, 0);
    if (wait)
        wait_answering_sent_messages(worker_.thread, worker_end_limit_ms);
    kernel_handle(std::exchange(worker_.thread, nullptr)).reset();
    worker_.thread_id = 0;
}

} // namespace velmora
