#include "output/cover_thread.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "boundary/host_services.h"
#include "output/outcome_delivery.h"
#include "output/whole_file_publish.h"
#include "text/text_conversion.h"
#include "win32/file_handle.h"
#include "win32/kernel_handle.h"
#include "win32/message_wait.h"
#include "win32/srw_lock.h"
#include "win32/this_module.h"
#include "win32/thread_start.h"

namespace velmora {

namespace {

constexpr ULONGLONG ticks_per_second = 10000000;

// What the main thread and the cover thread share, under the lock. What the thread keeps between requests (the
// file's record, the placeholder it read) is its own, on its own stack.
// A line for the host's console: "Error: WHAT: REASON" when error is set, else the text alone.
struct cover_line {
    std::string text;
    DWORD error;
};

struct cover_queue {
    srw_lock lock;
    CONDITION_VARIABLE request_arrived = CONDITION_VARIABLE_INIT;
    // The newest request, when request_waiting; its strings keep their blocks from one request to the next.
    cover_request waiting;
    bool request_waiting = false;
    // The thread sleeps on request_arrived.
    bool asleep = false;
    // A request taken and not yet carried out.
    bool working = false;
    // Set by the main thread before it makes a thread, cleared by the thread as it ends.
    bool thread_running = false;
    bool end_when_idle = false;
    kernel_handle thread;
    kernel_handle idle_reached; // auto-reset, set when idle_awaited
    bool idle_awaited = false;
    std::atomic<bool> given_up{false};
    std::vector<cover_line> lines;
    std::optional<cover_art> published;
};

cover_queue covers;
std::atomic<cover_listener> listener{nullptr};

// The one file the thread publishes to, as it last left it.
struct cover_file_record {
    publish_plan plan;
    held_file held;
    std::shared_ptr<const std::string> bytes;
    ULONGLONG size = 0;
    FILETIME written{};
    // The second of the modified time of the last change, in file time units of whole seconds.
    ULONGLONG changed_second = 0;
};

ULONGLONG as_number(const FILETIME& time) noexcept
{
    return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME as_file_time(ULONGLONG number) noexcept
{
    return {static_cast<DWORD>(number), static_cast<DWORD>(number >> 32)};
}

void leave_line(std::string text, DWORD error = ERROR_SUCCESS)
{
    const std::lock_guard<srw_lock> lock(covers.lock);
    covers.lines.push_back({std::move(text), error});
}

std::string utf8_of(const std::wstring& text)
{
    const byte_buffer bytes = wide_to_utf8(text.c_str());
    return std::string(bytes.text(), bytes.length());
}

// Moves the modified time into a later second than the last change's, where the publish left it in the same one.
void move_past_last_change(cover_file_record& record) noexcept
{
    ULONGLONG second = as_number(record.written) / ticks_per_second * ticks_per_second;
    if (record.changed_second != 0 && second <= record.changed_second) {
        second = record.changed_second + ticks_per_second;
        const file_handle file(CreateFileW(record.plan.target.c_str(), FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
        const FILETIME later = as_file_time(second);
        if (file.valid() && SetFileTime(file.get(), nullptr, nullptr, &later))
            record.written = later;
    }
    record.changed_second = second;
}

// Publishes the bytes unless the file holds them as it was left; a failure leaves one line.
void publish_cover(cover_file_record& record, const std::shared_ptr<const std::string>& bytes)
{
    ULONGLONG size = 0;
    FILETIME written{};
    if (record.bytes != nullptr && (record.bytes == bytes || *record.bytes == *bytes) &&
        file_state(record.plan.target, size, written) && size == record.size &&
        CompareFileTime(&written, &record.written) == 0)
        return;
    record.bytes.reset();
    const publish_outcome outcome =
        publish_whole_file(record.plan, bytes->data(), bytes->size(), record.held, covers.given_up);
    DWORD error = outcome.error;
    if (outcome.result == publish_result::not_publishable)
        error = ERROR_NOT_SUPPORTED;
    if (error != ERROR_SUCCESS) {
        leave_line("Can't write the cover art to " + utf8_of(record.plan.target), error);
        return;
    }
    if (file_state(record.plan.target, record.size, record.written)) {
        move_past_last_change(record);
        record.bytes = bytes;
    }
}

// The thread's own: the record of the cover file and the user's placeholder as last read.
class cover_work {
public:
    void carry_out(const cover_request& request)
    {
        std::optional<cover_art> art;
        if (!request.track_location.empty() && !(request.track_location == last_location_ && found_)) {
            bool timed_out = false;
            const std::wstring location = utf8_to_wide(request.track_location.c_str()).text();
            art = find_cover_art(location, GetTickCount64() + cover_read_limit_ms, timed_out);
            if (timed_out)
                leave_line("Cover art: gave up reading the art of " + request.track_location + " after " +
                           std::to_string(cover_read_limit_ms / 1000) + " s");
        } else if (!request.track_location.empty()) {
            art = found_;
        }
        last_location_ = request.track_location;
        found_ = art;
        {
            const std::lock_guard<srw_lock> lock(covers.lock);
            covers.published = art;
        }
        if (const cover_listener tell = listener.load())
            tell(art);
        if (request.cover_path.empty())
            return;
        if (!plan_publish(record_.plan, request.cover_path))
            return;
        publish_cover(record_, art ? art->bytes : placeholder(request.placeholder_path));
    }

private:
    // The user's picture, read again each time it is shown, so that a changed file shows; the transparent pixel when
    // it is none or no picture, said once for each path.
    std::shared_ptr<const std::string> placeholder(const std::wstring& path)
    {
        if (!path.empty()) {
            if (std::optional<cover_art> picture = read_picture_file(path)) {
                complained_about_.clear();
                if (placeholder_ == nullptr || *placeholder_ != *picture->bytes)
                    placeholder_ = picture->bytes;
                return placeholder_;
            }
            if (complained_about_ != path) {
                complained_about_ = path;
                leave_line("Cover art: the placeholder " + utf8_of(path) +
                           " is no picture; a transparent one stands in");
            }
        }
        if (pixel_ == nullptr)
            pixel_ = std::make_shared<const std::string>(transparent_picture());
        return pixel_;
    }

    cover_file_record record_;
    std::string last_location_;
    std::optional<cover_art> found_;
    std::shared_ptr<const std::string> placeholder_;
    std::wstring complained_about_;
    std::shared_ptr<const std::string> pixel_;
};

// Cover thread: carries out requests until told to end once idle; returns under the lock.
void run_requests(std::unique_lock<srw_lock>& lock) noexcept
{
    cover_work work;
    cover_request request;
    for (;;) {
        if (!covers.request_waiting) {
            if (covers.idle_awaited)
                SetEvent(covers.idle_reached.get());
            if (covers.end_when_idle)
                return;
            covers.asleep = true;
            SleepConditionVariableSRW(&covers.request_arrived, covers.lock.native(), INFINITE, 0);
            covers.asleep = false;
            continue;
        }
        // Swapped, so that the next request finds this one's blocks.
        std::swap(request, covers.waiting);
        covers.request_waiting = false;
        covers.working = true;
        lock.unlock();
        try {
            if (!covers.given_up.load())
                work.carry_out(request);
        } catch (const std::exception&) {
            // Out of memory: this art is left out; the next track tries again.
        }
        lock.lock();
        covers.working = false;
    }
}

DWORD WINAPI run_cover_thread(void* module) noexcept
{
    std::unique_lock<srw_lock> lock(covers.lock);
    run_requests(lock);
    covers.thread_running = false;
    covers.thread.reset();
    lock.unlock();
    // Gives back the thread's reference on the module without returning into it.
    if (module != nullptr)
        FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
    return 0;
}

// Main thread, with thread_running set for it; false, with it cleared, when no thread could be made.
bool start_cover_thread() noexcept
{
    HMODULE module = reference_this_module();
    kernel_handle thread(start_thread(run_cover_thread, module));
    const std::lock_guard<srw_lock> lock(covers.lock);
    if (!thread.valid()) {
        if (module != nullptr)
            FreeLibrary(module);
        covers.thread_running = false;
        covers.request_waiting = false;
        return false;
    }
    // The thread may already have ended; its handle is kept only while it runs.
    if (covers.thread_running)
        covers.thread = std::move(thread);
    return true;
}

bool idle() noexcept
{
    return !covers.request_waiting && !covers.working;
}

} // namespace

void set_cover_listener(cover_listener new_listener) noexcept
{
    listener = new_listener;
}

void request_cover(const cover_request& request)
{
    if (!covers.idle_reached.valid())
        covers.idle_reached = kernel_handle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    bool start = false;
    {
        const std::lock_guard<srw_lock> lock(covers.lock);
        // A copy cut short by bad_alloc leaves nothing waiting, rather than half a request.
        covers.request_waiting = false;
        covers.waiting.track_location.assign(request.track_location);
        if (request.paths_version == 0 || request.paths_version != covers.waiting.paths_version) {
            covers.waiting.cover_path.assign(request.cover_path);
            covers.waiting.placeholder_path.assign(request.placeholder_path);
            covers.waiting.paths_version = request.paths_version;
        }
        covers.request_waiting = true;
        covers.given_up = false;
        covers.end_when_idle = false;
        if (!covers.thread_running) {
            covers.thread_running = true;
            start = true;
        } else if (covers.asleep) {
            WakeConditionVariable(&covers.request_arrived);
        }
    }
    if (start && !start_cover_thread())
        leave_line("Can't start the cover art's thread", GetLastError());
}

void deliver_cover_lines()
{
    std::vector<cover_line> lines;
    {
        const std::lock_guard<srw_lock> lock(covers.lock);
        lines.swap(covers.lines);
    }
    for (const cover_line& line : lines) {
        if (line.error != ERROR_SUCCESS)
            report_system_error(line.text, line.error);
        else
            send_to_message_receivers(line.text.c_str());
    }
}

bool wait_for_cover(DWORD limit_ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        {
            const std::lock_guard<srw_lock> lock(covers.lock);
            if (idle() || !covers.thread_running) {
                covers.idle_awaited = false;
                return true;
            }
            covers.idle_awaited = true;
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= limit_ms || !covers.idle_reached.valid())
            return false;
        wait_answering_sent_messages(covers.idle_reached.get(), limit_ms - elapsed);
    }
}

void finish_cover_at_shutdown(DWORD limit_ms)
{
    const DWORD start = GetTickCount();
    const bool done = wait_for_cover(limit_ms);
    kernel_handle ending_thread;
    {
        const std::lock_guard<srw_lock> lock(covers.lock);
        if (!done) {
            covers.request_waiting = false;
            covers.given_up = true;
            if (covers.thread.valid())
                CancelSynchronousIo(covers.thread.get());
        }
        covers.end_when_idle = true;
        WakeConditionVariable(&covers.request_arrived);
        // The thread closes its own handle as it ends, so the wait below needs one of its own.
        HANDLE copy = nullptr;
        if (done && covers.thread_running && covers.thread.valid() &&
            DuplicateHandle(GetCurrentProcess(), covers.thread.get(), GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE,
                            0))
            ending_thread = kernel_handle(copy);
    }
    if (ending_thread.valid()) {
        const DWORD elapsed = GetTickCount() - start;
        wait_answering_sent_messages(ending_thread.get(), elapsed < limit_ms ? limit_ms - elapsed : 0);
    }
}

std::optional<cover_art> published_cover()
{
    const std::lock_guard<srw_lock> lock(covers.lock);
    return covers.published;
}

} // namespace velmora
