#include "pipeline/output_thread.h"

#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "boundary/host_services.h"
#include "pipeline/file_step.h"
#include "pipeline/host_callback.h"
#include "pipeline/output_writer.h"
#include "win32/kernel_handle.h"
#include "win32/srw_lock.h"
#include "win32/this_module.h"

namespace velmora {

namespace {

// Log entries waiting past this many are dropped rather than have the main thread wait for a disk that has stopped.
constexpr std::size_t log_backlog_limit = 1000;

struct finished_job {
    std::shared_ptr<const output_job> job;
    file_outcome outcome;
};

// Shared by the main thread and the output thread, under the lock.
struct output_queue {
    srw_lock lock;
    std::deque<std::shared_ptr<const output_job>> waiting;
    std::shared_ptr<const output_job> in_progress;
    // Reserved by the main thread as jobs come, so that the output thread never allocates to hand one back.
    std::vector<finished_job> finished;
    std::size_t waiting_log_entries = 0;
    bool backlog_reported = false;
    // From the exit text's queueing to the end of shut-down: that last entry is never dropped for the backlog.
    bool shutting_down = false;
    bool thread_running = false;
    bool end_when_idle = false;
    bool delivery_queued = false;
    // So that a write costs the main thread no call into the system: the thread is woken only when it waits, and
    // told to say it is idle only when someone waits for that.
    bool thread_waiting = false;
    bool idle_awaited = false;
    // Set at a shut-down that gave up: what the job in progress comes to is no longer anyone's.
    bool outcomes_abandoned = false;
    kernel_handle thread;
    CONDITION_VARIABLE work_arrived = CONDITION_VARIABLE_INIT;
    kernel_handle idle_reached; // auto-reset, set when idle_awaited
};
output_queue queue;

// Runs on the main thread when the host gets to it: hands over what came back.
// Made only through make_host_callback.
class output_delivery final : public host_callback<output_delivery> {
public:
    output_delivery() noexcept = default;

    void run_on_main_thread()
    {
        {
            const std::lock_guard<srw_lock> lock(queue.lock);
            queue.delivery_queued = false;
        }
        deliver_output_outcomes();
    }

private:
    friend class host_callback<output_delivery>;

    ~output_delivery() = default;
};

// Output thread. Where no callback can be queued (no manager, no memory, retired), what came back waits for the
// main thread's next write or wait.
bool queue_delivery() noexcept
{
    try {
        auto callback = make_host_callback<output_delivery>();
        if (!callback)
            return false;
        const auto manager =
            lookup_service<kestrune::main_thread_callback_manager>(kestrune::main_thread_callback_manager_guid);
        // The host takes the reference over only when the call returns; a call that throws leaves it ours.
        manager->queue_callback(callback.get());
        callback.detach();
        return true;
    } catch (...) {
        return false;
    }
}

bool needs_main_thread(const output_job& job, file_outcome outcome) noexcept
{
    return outcome.error != ERROR_SUCCESS || (outcome.opened && job.copy_to_clipboard);
}

DWORD WINAPI run_output_thread(void* module) noexcept
{
    std::unique_lock<srw_lock> lock(queue.lock);
    for (;;) {
        if (queue.waiting.empty()) {
            if (queue.end_when_idle)
                break;
            queue.thread_waiting = true;
            SleepConditionVariableSRW(&queue.work_arrived, queue.lock.native(), INFINITE, 0);
            queue.thread_waiting = false;
            continue;
        }
        std::shared_ptr<const output_job> job = std::move(queue.waiting.front());
        queue.waiting.pop_front();
        if (job->mode == file_mode::append && --queue.waiting_log_entries == 0)
            queue.backlog_reported = false;
        queue.in_progress = job;
        lock.unlock();

        const file_outcome outcome = carry_out_file_step(job);

        lock.lock();
        if (needs_main_thread(*job, outcome) && !queue.outcomes_abandoned) {
            queue.finished.push_back({std::move(job), outcome});
            if (!std::exchange(queue.delivery_queued, true)) {
                lock.unlock();
                const bool queued = queue_delivery();
                lock.lock();
                if (!queued)
                    queue.delivery_queued = false;
            }
        }
        // Done with the job only now, host calls included, so that a waiter finds this thread holding nothing.
        queue.in_progress.reset();
        if (queue.waiting.empty() && queue.idle_awaited)
            SetEvent(queue.idle_reached.get());
    }
    queue.thread_running = false;
    lock.unlock();
    // Gives back the thread's reference on the module without returning into it.
    if (module != nullptr)
        FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
    return 0;
}

// Under the lock. The thread holds a reference on the module, so that the module's code stays under it.
bool start_output_thread() noexcept
{
    if (!queue.idle_reached.valid())
        queue.idle_reached = kernel_handle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!queue.idle_reached.valid())
        return false;
    const HMODULE module = reference_this_module();
    kernel_handle thread(CreateThread(nullptr, 0, run_output_thread, module, 0, nullptr));
    if (!thread.valid()) {
        if (module != nullptr)
            FreeLibrary(module);
        return false;
    }
    queue.thread = std::move(thread);
    queue.thread_running = true;
    queue.thread_waiting = false;
    return true;
}

bool nothing_outstanding() noexcept
{
    return queue.waiting.empty() && queue.in_progress == nullptr && queue.finished.empty();
}

} // namespace

void submit_output(std::shared_ptr<const output_job> job)
{
    std::unique_lock<srw_lock> lock(queue.lock);
    // The clipboard alone, with nothing before it: set now, in order all the same.
    if (job->mode == file_mode::none && nothing_outstanding()) {
        lock.unlock();
        deliver_output_outcome(*job, {true, ERROR_SUCCESS});
        return;
    }
    if (job->mode == file_mode::append && queue.waiting_log_entries >= log_backlog_limit && !queue.shutting_down) {
        const bool report = !std::exchange(queue.backlog_reported, true);
        const std::size_t waiting = queue.waiting_log_entries;
        lock.unlock();
        if (report)
            report_log_backlog(*job, waiting);
        return;
    }
    queue.finished.reserve(queue.finished.size() + queue.waiting.size() + 2);
    queue.waiting.push_back(job);
    // A replace not yet started that this one makes pointless goes: nothing older may land after it.
    if (job->mode == file_mode::replace) {
        for (auto waiting = queue.waiting.begin(); waiting + 1 != queue.waiting.end();) {
            if ((*waiting)->mode == file_mode::replace && (*waiting)->path == job->path)
                waiting = queue.waiting.erase(waiting);
            else
                ++waiting;
        }
    }
    if (job->mode == file_mode::append)
        ++queue.waiting_log_entries;
    queue.end_when_idle = false;
    queue.outcomes_abandoned = false;
    if (queue.thread_running || start_output_thread()) {
        if (queue.thread_waiting)
            WakeConditionVariable(&queue.work_arrived);
        return;
    }
    // No thread to be had: this write is done here and now, as every write once was.
    queue.waiting.pop_back();
    if (job->mode == file_mode::append)
        --queue.waiting_log_entries;
    lock.unlock();
    deliver_output_outcome(*job, carry_out_file_step(job));
}

void deliver_output_outcomes()
{
    for (;;) {
        finished_job next;
        {
            const std::lock_guard<srw_lock> lock(queue.lock);
            if (queue.finished.empty())
                return;
            next = std::move(queue.finished.front());
            queue.finished.erase(queue.finished.begin());
        }
        deliver_output_outcome(*next.job, next.outcome);
    }
}

bool wait_for_output(DWORD limit_ms)
{
    const DWORD start = GetTickCount();
    bool done = false;
    for (;;) {
        HANDLE idle_reached = nullptr;
        {
            const std::lock_guard<srw_lock> lock(queue.lock);
            done = queue.waiting.empty() && queue.in_progress == nullptr;
            queue.idle_awaited = !done;
            idle_reached = queue.idle_reached.get();
        }
        const DWORD elapsed = GetTickCount() - start;
        if (done || idle_reached == nullptr || elapsed >= limit_ms)
            break;
        // Only the messages other threads send are handled here; posted ones wait for the host's loop.
        if (MsgWaitForMultipleObjects(1, &idle_reached, FALSE, limit_ms - elapsed, QS_SENDMESSAGE) ==
            WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    {
        const std::lock_guard<srw_lock> lock(queue.lock);
        queue.idle_awaited = false;
    }
    deliver_output_outcomes();
    return done;
}

void begin_output_shutdown() noexcept
{
    const std::lock_guard<srw_lock> lock(queue.lock);
    queue.shutting_down = true;
}

void finish_output(DWORD limit_ms)
{
    const bool done = wait_for_output(limit_ms);
    std::shared_ptr<const output_job> unfinished;
    {
        const std::lock_guard<srw_lock> lock(queue.lock);
        queue.shutting_down = false;
        queue.end_when_idle = true;
        if (!done) {
            unfinished = !queue.waiting.empty() ? queue.waiting.back() : queue.in_progress;
            queue.waiting.clear();
            queue.waiting_log_entries = 0;
            queue.outcomes_abandoned = true;
            // Given up on: it is no longer waited for either.
            queue.in_progress.reset();
            // A file call that waits for a disk that has gone is cancelled; one that cannot be cancelled finishes in
            // a module kept loaded for it.
            CancelSynchronousIo(queue.thread.get());
        }
        WakeConditionVariable(&queue.work_arrived);
    }
    if (unfinished != nullptr)
        deliver_output_outcome(*unfinished, {false, ERROR_TIMEOUT});
}

void end_output_when_idle() noexcept
{
    const std::lock_guard<srw_lock> lock(queue.lock);
    queue.end_when_idle = true;
    WakeConditionVariable(&queue.work_arrived);
}

} // namespace velmora
