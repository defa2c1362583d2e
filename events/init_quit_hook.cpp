#include "events/init_quit_hook.h"

#include <exception>

#include <windows.h>

#include "boundary/host_callback.h"
#include "events/output_request.h"
#include "formatting/text_formatting.h"
#include "output/output_thread.h"
#include "settings/component_settings.h"

namespace velmora {

namespace {
// How long shut-down waits for the exit text to reach the disk before it gives up on it and reports it.
constexpr DWORD shutdown_limit_ms = 2000;
} // namespace

void init_quit_hook::on_startup()
{
    utf8_string text;
    format_now_playing(now_playing_script.text(), text);
    queue_output(text);
}

void init_quit_hook::on_shutdown()
{
    const DWORD start = GetTickCount();
    // The exit text is queued, the wait bounded and the callbacks retired on every way out; the first exception
    // then goes on to the host.
    std::exception_ptr first_failure;
    const auto keep_first = [&first_failure] {
        if (!first_failure)
            first_failure = std::current_exception();
    };
    scheduler_.close();
    try {
        // What earlier writes left for the main thread comes before the exit text.
        deliver_output_outcomes();
    } catch (...) {
        keep_first();
    }
    try {
        utf8_string text(exit_text.text());
        substitute_datetime_field(text);
        const bool logging = log_mode.value() != 0;
        if (!logging || !text.empty()) {
            if (logging)
                text.append_bytes("\r\n", 2);
            queue_exit_text(text);
        }
    } catch (...) {
        keep_first();
    }
    try {
        const DWORD spent = GetTickCount() - start;
        finish_output_at_shutdown(spent < shutdown_limit_ms ? shutdown_limit_ms - spent : 0);
    } catch (...) {
        keep_first();
    }
    host_callbacks::retire();
    if (first_failure)
        std::rethrow_exception(first_failure);
}

void on_services_withdrawn(delay_scheduler& scheduler) noexcept
{
    scheduler.end_worker();
    withdraw_output();
    host_callbacks::retire();
}

void on_services_restored(delay_scheduler& scheduler) noexcept
{
    host_callbacks::reopen();
    scheduler.restore();
    restore_output();
}

} // namespace velmora
