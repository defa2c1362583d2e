#include "output/output_thread.h"

#include <array>
#include <atomic>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "boundary/host_services.h"
#include "output/file_step.h"
#include "output/outcome_delivery.h"
#include "win32/kernel_handle.h"
#include "win32/message_wait.h"
#include "win32/owned_window.h"
#include "win32/srw_lock.h"
#include "win32/this_module.h"
#include "win32/thread_start.h"

namespace velmora {

namespace {

// Log entries waiting past this many are dropped rather than have the main thread wait for a disk that has stopped.
constexpr std::size_t log_backlog_limit = 1000;
// Jobs given way to that wait for the output thread to free them; beyond these the main thread frees them itself.
constexpr std::size_t superseded_limit = 64;
// Files a shut-down that gives up reports, more than the outputs there can be.
constexpr std::size_t timeout_report_limit = 32;

// Posted by the output thread to the delivery window: outcomes are waiting.
constexpr UINT WM_OUTPUT_OUTCOMES = WM_APP + 0x3A1;
constexpr wchar_t delivery_window_class[] = L"Velmora output delivery";

struct finished_job {
    std::shared_ptr<const output_job> job;
    file_outcome outcome;
    bool report_failure;
};

// What the main thread and the output thread share, under the lock. What the thread keeps between jobs is its own
// file_step, on its own stack.
struct output_queue {
    srw_lock lock;
    std::deque<std::shared_ptr<output_job>> waiting;
    std::shared_ptr<const output_job> in_progress;
    // Freed by the output thread as it takes the next job, so that an event costs the main thread no freeing.
    std::array<std::shared_ptr<output_job>, superseded_limit> superseded;
    std::size_t superseded_count = 0;
    // Reserved by the main thread as jobs come, so that the output thread never allocates to hand one back.
    std::vector<finished_job> finished;
    // Whether finished holds anything, so that a write finds nothing waiting without taking the lock.
    std::atomic<bool> outcomes_waiting{false};
    std::size_t waiting_log_entries = 0;
    bool backlog_reported = false;
    // Set by the main thread before it makes a thread, cleared by the thread as it ends.
    bool thread_running = false;
    bool end_when_idle = false;
    // The services-ready flag is cleared: no thread is started and no error line is kept.
    bool withdrawn = false;
    bool start_failure_reported = false;
    // So that a write costs the main thread no call into the system: the thread is woken only when it waits, and
    // told to say it is idle only when someone waits for that.
    bool thread_waiting = false;
    bool idle_awaited = false;
    // Made and destroyed by the main thread; the thread posts to it, under the lock, once until it is answered.
    HWND delivery_window = nullptr;
    bool delivery_posted = false;
    // Raised when shut-down gives up on the job in progress; read by its file step without the lock.
    std::atomic<bool> given_up{false};
    kernel_handle thread;
    CONDITION_VARIABLE work_arrived = CONDITION_VARIABLE_INIT;
    kernel_handle idle_reached; // auto-reset, set when idle_awaited
};

// The queue is left alone at a program's exit while its thread runs: the system ends that thread only after the
// program's static objects are destroyed, and the thread may still be in a file call. A module is never unloaded
// under the thread, which holds a reference on it.
class queue_holder {
public:
    queue_holder() noexcept : queue_(new (storage_) output_queue) {}
    queue_holder(const queue_holder&) = delete;
    queue_holder& operator=(const queue_holder&) = delete;
    ~queue_holder()
    {
        bool running = false;
        {
            const std::lock_guard<srw_lock> lock(queue_->lock);
            running = queue_->thread_running;
        }
        if (!running)
            queue_->~output_queue();
    }

    output_queue* operator->() const noexcept { return queue_; }

private:
    alignas(output_queue) unsigned char storage_[sizeof(output_queue)];
    output_queue* queue_;
};
queue_holder queue;

// The window itself, on the main thread that made it; gone with the shut-down, the services or the module, before
// the module can go: a host that pumps its messages after unloading us would otherwise dispatch what the thread
// posted to a procedure that is gone. A class a module registered outlives the module unless unregistered, and a
// module loaded again would find it with a procedure that is gone.
class delivery_window_holder {
public:
    delivery_window_holder() noexcept = default;
    delivery_window_holder(const delivery_window_holder&) = delete;
    delivery_window_holder& operator=(const delivery_window_holder&) = delete;
    ~delivery_window_holder() { close(); }

    // Main thread, once the thread can no longer post to it (its handle is taken from the queue first).
    void close() noexcept
    {
        if (window.get() != nullptr) {
            MSG posted;
            while (PeekMessageW(&posted, window.get(), WM_OUTPUT_OUTCOMES, WM_OUTPUT_OUTCOMES, PM_REMOVE)) {
            }
        }
        window.reset();
        if (registered)
            registered = UnregisterClassW(delivery_window_class, this_module()) == 0;
    }

    owned_window window;
    bool registered = false;
};
delivery_window_holder delivery;

// Main thread: the thread posts no more, and the window goes; the next write makes another.
void close_delivery_window() noexcept
{
    {
        const std::lock_guard<srw_lock> lock(queue->lock);
        queue->delivery_window = nullptr;
        queue->delivery_posted = false;
    }
    delivery.close();
}

HANDLE create_with_system(LPTHREAD_START_ROUTINE procedure, void* argument)
{
    return start_thread(procedure, argument);
}
output_thread_creator thread_creator = create_with_system;

LRESULT CALLBACK delivery_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    if (message != WM_OUTPUT_OUTCOMES)
        return DefWindowProcW(window, message, wparam, lparam);
    {
        const std::lock_guard<srw_lock> lock(queue->lock);
        queue->delivery_posted = false;
    }
    // Nothing leaves a window procedure: a receiver that throws loses its own line only.
    try {
        deliver_output_outcomes();
    } catch (...) {
    }
    return 0;
}

// Main thread. Without a window, what came back waits for the main thread's next write or wait.
void make_delivery_window() noexcept
{
    if (delivery.window.get() != nullptr)
        return;
    {
        const std::lock_guard<srw_lock> lock(queue->lock);
        if (queue->withdrawn)
            return;
    }
    if (!delivery.registered) {
        WNDCLASSEXW window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = delivery_window_procedure;
        window_class.hInstance = this_module();
        window_class.lpszClassName = delivery_window_class;
        delivery.registered = RegisterClassExW(&window_class) != 0;
    }
    delivery.window = owned_window(
        CreateWindowExW(0, delivery_window_class, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, this_module(), nullptr));
    const std::lock_guard<srw_lock> lock(queue->lock);
    queue->delivery_window = delivery.window.get();
}

// Output thread, under the lock.
void hand_back(std::shared_ptr<const output_job> job, file_outcome outcome)
{
    const bool failed = outcome.error != ERROR_SUCCESS;
    const bool report_failure = failed && job->report_failure && !queue->withdrawn;
    const bool copy = job->copy_to_clipboard && !outcome.open_failed;
    // Without room reserved for it, the outcome goes: the thread does not allocate.
    if ((!report_failure && !copy) || queue->finished.size() == queue->finished.capacity())
        return;
    queue->finished.push_back({std::move(job), outcome, report_failure});
    queue->outcomes_waiting = true;
    if (!queue->delivery_posted && queue->delivery_window != nullptr &&
        PostMessageW(queue->delivery_window, WM_OUTPUT_OUTCOMES, 0, 0))
        queue->delivery_posted = true;
}

// Output thread: carries out jobs until told to end once idle; returns under the lock.
void run_jobs(std::unique_lock<srw_lock>& lock) noexcept
{
    file_step step;
    std::array<std::shared_ptr<output_job>, superseded_limit> retired;
    for (;;) {
        if (queue->waiting.empty()) {
            if (queue->end_when_idle)
                return;
            queue->thread_waiting = true;
            SleepConditionVariableSRW(&queue->work_arrived, queue->lock.native(), INFINITE, 0);
            queue->thread_waiting = false;
            continue;
        }
        std::shared_ptr<const output_job> job = std::move(queue->waiting.front());
        queue->waiting.pop_front();
        queue->waiting_log_entries -= job->log_entries;
        if (queue->waiting_log_entries == 0)
            queue->backlog_reported = false;
        queue->in_progress = job;
        const std::size_t retired_count = std::exchange(queue->superseded_count, 0);
        for (std::size_t index = 0; index < retired_count; ++index)
            retired[index] = std::move(queue->superseded[index]);
        lock.unlock();

        for (std::size_t index = 0; index < retired_count; ++index)
            retired[index].reset();
        const file_outcome outcome = step.carry_out(job, queue->given_up);

        lock.lock();
        // A job given up on comes to nothing: shut-down has reported it.
        if (!queue->given_up.exchange(false))
            hand_back(std::move(job), outcome);
        queue->in_progress.reset();
        if (queue->waiting.empty() && queue->idle_awaited)
            SetEvent(queue->idle_reached.get());
    }
}

DWORD WINAPI run_output_thread(void* module) noexcept
{
    std::unique_lock<srw_lock> lock(queue->lock);
    run_jobs(lock);
    queue->thread_running = false;
    queue->thread.reset();
    lock.unlock();
    // Gives back the thread's reference on the module without returning into it.
    if (module != nullptr)
        FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
    return 0;
}

// Main thread, not under the lock, with thread_running set for it. The thread holds a reference on the module, so
// that the module's code stays under it. Gives the system's error, ERROR_SUCCESS once started.
DWORD start_output_thread() noexcept
{
    DWORD error = ERROR_SUCCESS;
    if (!queue->idle_reached.valid()) {
        kernel_handle idle_reached(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!idle_reached.valid())
            error = GetLastError();
        const std::lock_guard<srw_lock> lock(queue->lock);
        queue->idle_reached = std::move(idle_reached);
    }
    HMODULE module = nullptr;
    kernel_handle thread;
    if (error == ERROR_SUCCESS) {
        module = reference_this_module();
        thread = kernel_handle(thread_creator(run_output_thread, module));
        if (!thread.valid()) {
            error = GetLastError();
            if (error == ERROR_SUCCESS)
                error = ERROR_NOT_ENOUGH_MEMORY;
            if (module != nullptr)
                FreeLibrary(module);
        }
    }
    const std::lock_guard<srw_lock> lock(queue->lock);
    if (error != ERROR_SUCCESS) {
        queue->thread_running = false;
        return error;
    }
    // The thread may already have ended; its handle is kept only while it runs.
    if (queue->thread_running)
        queue->thread = std::move(thread);
    queue->start_failure_reported = false;
    return ERROR_SUCCESS;
}

// Main thread: starts a thread when jobs wait for one and the services are there; reports a failure once until a
// start succeeds.
void start_thread_if_wanted()
{
    {
        const std::lock_guard<srw_lock> lock(queue->lock);
        if (queue->thread_running || queue->withdrawn || queue->waiting.empty())
            return;
        queue->thread_running = true;
        queue->end_when_idle = false;
    }
    const DWORD error = start_output_thread();
    if (error == ERROR_SUCCESS)
        return;
    bool report = false;
    {
        const std::lock_guard<srw_lock> lock(queue->lock);
        report = !std::exchange(queue->start_failure_reported, true);
    }
    if (report)
        report_system_error("Can't start the output thread", error);
}

bool nothing_outstanding() noexcept
{
    return queue->waiting.empty() && queue->in_progress == nullptr && queue->finished.empty();
}

bool idle() noexcept
{
    return queue->waiting.empty() && queue->in_progress == nullptr;
}

// Under the lock: a job waiting that the new one makes pointless goes, so that nothing older lands after it, to the
// output thread to free, or into dropped, to be freed once the lock is let go, when the thread has not taken the
// last ones yet; a log entry joins the one waiting for the same file. Gives whether the new one joined.
bool merge_into_waiting(const std::shared_ptr<output_job>& job, std::shared_ptr<output_job>& dropped)
{
    if (job->kind == job_kind::append_to_file) {
        if (queue->waiting.empty())
            return false;
        output_job& last = *queue->waiting.back();
        if (last.kind != job_kind::append_to_file || last.exit_text || job->exit_text || last.path != job->path ||
            last.configured_path != job->configured_path || last.entry.encoding() != job->entry.encoding() ||
            last.copy_to_clipboard != job->copy_to_clipboard || last.report_failure != job->report_failure)
            return false;
        last.entry.append_entry(job->entry);
        if (job->copy_to_clipboard)
            last.clipboard_text = std::move(job->clipboard_text);
        last.log_entries += job->log_entries;
        return true;
    }
    for (auto waiting = queue->waiting.begin(); waiting != queue->waiting.end();) {
        const output_job& older = **waiting;
        // Another output's text for the same file leaves the clipboard's text of the first output alone.
        const bool superseded = older.kind == job->kind &&
                                (job->kind == job_kind::clipboard_only || older.path == job->path) &&
                                (job->copy_to_clipboard || !older.copy_to_clipboard);
        if (superseded) {
            if (queue->superseded_count < superseded_limit)
                queue->superseded[queue->superseded_count++] = std::move(*waiting);
            else
                dropped = std::move(*waiting);
            waiting = queue->waiting.erase(waiting);
        } else
            ++waiting;
    }
    return false;
}

// Main thread: waits until the queue is idle or limit_ms has passed since start, answering sent messages meanwhile,
// then calls decide(idle) under the lock, in the same step as the last look at the queue.
template <typename decision> void wait_until_idle(DWORD start, DWORD limit_ms, decision decide)
{
    for (;;) {
        HANDLE idle_reached = nullptr;
        {
            const std::lock_guard<srw_lock> lock(queue->lock);
            const bool done = idle();
            const DWORD elapsed = GetTickCount() - start;
            if (done || elapsed >= limit_ms || !queue->thread_running || !queue->idle_reached.valid()) {
                queue->idle_awaited = false;
                decide(done);
                return;
            }
            queue->idle_awaited = true;
            idle_reached = queue->idle_reached.get();
        }
        const DWORD elapsed = GetTickCount() - start;
        wait_answering_sent_messages(idle_reached, elapsed < limit_ms ? limit_ms - elapsed : 0);
    }
}

} // namespace

void submit_output(std::shared_ptr<output_job> job)
{
    if (!services_ready())
        job->report_failure = false;
    make_delivery_window();
    std::shared_ptr<output_job> dropped;
    {
        std::unique_lock<srw_lock> lock(queue->lock);
        // The clipboard alone, with nothing before it: set now, in order all the same.
        if (job->kind == job_kind::clipboard_only && nothing_outstanding()) {
            lock.unlock();
            deliver_output_outcome(*job, {ERROR_SUCCESS, false});
            return;
        }
        if (job->kind == job_kind::append_to_file && queue->waiting_log_entries >= log_backlog_limit &&
            !job->exit_text) {
            const bool report = !std::exchange(queue->backlog_reported, true);
            const std::size_t waiting = queue->waiting_log_entries;
            lock.unlock();
            if (report)
                report_log_backlog(*job, waiting);
            return;
        }
        queue->finished.reserve(queue->finished.size() + queue->waiting.size() + 2);
        const std::size_t entries = job->log_entries;
        if (!merge_into_waiting(job, dropped))
            queue->waiting.push_back(std::move(job));
        queue->waiting_log_entries += entries;
        if (queue->thread_running) {
            if (queue->thread_waiting)
                WakeConditionVariable(&queue->work_arrived);
            return;
        }
    }
    start_thread_if_wanted();
}

void deliver_output_outcomes()
{
    // What the thread has just handed back is delivered at the next write, or by the message it posts.
    if (!queue->outcomes_waiting.load())
        return;
    for (;;) {
        finished_job next;
        {
            const std::lock_guard<srw_lock> lock(queue->lock);
            if (queue->finished.empty()) {
                queue->outcomes_waiting = false;
                return;
            }
            next = std::move(queue->finished.front());
            queue->finished.erase(queue->finished.begin());
        }
        if (!next.report_failure)
            next.outcome.error = ERROR_SUCCESS;
        deliver_output_outcome(*next.job, next.outcome);
    }
}

bool wait_for_output(DWORD limit_ms)
{
    bool done = false;
    wait_until_idle(GetTickCount(), limit_ms, [&](bool idle_now) { done = idle_now; });
    deliver_output_outcomes();
    return done;
}

void finish_output_at_shutdown(DWORD limit_ms)
{
    const DWORD start = GetTickCount();
    // The newest unfinished job of each file, newest first; fixed, so that giving up allocates nothing.
    std::array<std::shared_ptr<const output_job>, timeout_report_limit> timed_out;
    std::size_t timed_out_count = 0;
    const auto give_up_on = [&](const std::shared_ptr<const output_job>& job) {
        if (job->kind == job_kind::clipboard_only || timed_out_count == timed_out.size())
            return;
        for (std::size_t index = 0; index < timed_out_count; ++index) {
            if (timed_out[index]->path == job->path)
                return;
        }
        timed_out[timed_out_count++] = job;
    };
    kernel_handle ending_thread;
    // Done or given up, in one decision: nothing the thread does after it is delivered.
    wait_until_idle(start, limit_ms, [&](bool done) {
        if (!done) {
            for (auto job = queue->waiting.rbegin(); job != queue->waiting.rend(); ++job)
                give_up_on(*job);
            if (queue->in_progress != nullptr)
                give_up_on(queue->in_progress);
            queue->waiting.clear();
            for (std::size_t index = 0; index < queue->superseded_count; ++index)
                queue->superseded[index].reset();
            queue->superseded_count = 0;
            queue->waiting_log_entries = 0;
            queue->backlog_reported = false;
            if (queue->in_progress != nullptr) {
                queue->given_up = true;
                // A file call that waits for a disk that has gone is cancelled where the system can.
                CancelSynchronousIo(queue->thread.get());
            }
        }
        queue->end_when_idle = true;
        if (queue->thread_waiting)
            WakeConditionVariable(&queue->work_arrived);
        // The thread closes its own handle as it ends, so the wait below needs one of its own.
        if (done && queue->thread_running && queue->thread.valid()) {
            HANDLE copy = nullptr;
            if (DuplicateHandle(GetCurrentProcess(), queue->thread.get(), GetCurrentProcess(), &copy, SYNCHRONIZE,
                                FALSE, 0))
                ending_thread = kernel_handle(copy);
        }
    });
    // A host that exits right after shut-down finds no thread of ours still on its way out.
    if (ending_thread.valid()) {
        const DWORD elapsed = GetTickCount() - start;
        wait_answering_sent_messages(ending_thread.get(), elapsed < limit_ms ? limit_ms - elapsed : 0);
    }
    // Every outcome is delivered, and then the timeout, whatever a receiver throws on the way.
    std::exception_ptr first_failure;
    for (bool more = true; more;) {
        try {
            deliver_output_outcomes();
            more = false;
        } catch (...) {
            if (!first_failure)
                first_failure = std::current_exception();
        }
    }
    // One line for each file given up on, in the order its jobs came.
    while (timed_out_count > 0) {
        const std::shared_ptr<const output_job> job = std::move(timed_out[--timed_out_count]);
        if (!job->report_failure)
            continue;
        try {
            deliver_output_outcome(*job, {ERROR_TIMEOUT, true});
        } catch (...) {
            if (!first_failure)
                first_failure = std::current_exception();
        }
    }
    // What the thread posted and nobody pumped yet goes with the window: everything has been delivered above.
    close_delivery_window();
    if (first_failure)
        std::rethrow_exception(first_failure);
}

void withdraw_output() noexcept
{
    {
        const std::lock_guard<srw_lock> lock(queue->lock);
        queue->withdrawn = true;
        queue->end_when_idle = true;
        for (finished_job& finished : queue->finished)
            finished.report_failure = false;
        if (queue->thread_waiting)
            WakeConditionVariable(&queue->work_arrived);
    }
    close_delivery_window();
}

void restore_output() noexcept
{
    {
        const std::lock_guard<srw_lock> lock(queue->lock);
        queue->withdrawn = false;
    }
    try {
        start_thread_if_wanted();
    } catch (...) {
    }
}

void set_output_thread_creator(output_thread_creator creator) noexcept
{
    thread_creator = creator != nullptr ? creator : create_with_system;
}

} // namespace velmora
