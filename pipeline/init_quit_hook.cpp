#include "pipeline/init_quit_hook.h"

#include <windows.h>

#include "pipeline/host_callback.h"
#include "pipeline/output_thread.h"
#include "pipeline/output_writer.h"
#include "pipeline/text_formatting.h"
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
    write_output(text);
}

void init_quit_hook::on_shutdown()
{
    const DWORD start = GetTickCount();
    scheduler_.close();
    utf8_string text(exit_text.text());
    substitute_datetime_field(text);
    const bool logging = log_mode.value() != 0;
    begin_output_shutdown();
    if (!logging || !text.empty()) {
        if (logging)
            text.append_bytes("\r\n", 2);
        write_output(text);
    }
    const DWORD spent = GetTickCount() - start;
    finish_output(spent < shutdown_limit_ms ? shutdown_limit_ms - spent : 0);
    host_callbacks::retire();
}

void on_services_withdrawn(write_scheduler& scheduler) noexcept
{
    scheduler.end_worker();
    end_output_when_idle();
    host_callbacks::retire();
}

void on_services_restored() noexcept
{
    host_callbacks::reopen();
}

} // namespace velmora
