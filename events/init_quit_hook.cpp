#include "events/init_quit_hook.h"

#include <exception>
#include <vector>

#include <windows.h>

#include "boundary/host_callback.h"
#include "boundary/host_services.h"
#include "events/now_playing_request.h"
#include "events/output_request.h"
#include "formatting/text_formatting.h"
#include "output/output_thread.h"
#include "overlay/overlay_server.h"
#include "settings/component_settings.h"

namespace velmora {

namespace {
// How long shut-down waits for the exit texts to reach the disk before it gives up on them and reports it.
constexpr DWORD shutdown_limit_ms = 2000;

// Queues the exit text of output number index + 1 and hands it to the overlay, as nothing plays any more.
void queue_exit_text_of(std::size_t index, const char* configured_text, bool logging, const output_target& target)
{
    utf8_string text(configured_text);
    substitute_datetime_field(text);
    set_overlay_text(index, text.view(), added_outputs.outputs().size() + 1, playback_state::stopped);
    if (!logging || !text.empty()) {
        if (logging)
            text.append_bytes("\r\n", 2);
        queue_exit_text(text, target);
    }
}

} // namespace

void init_quit_hook::on_startup()
{
    // The cover art's thread starts first: see start_thread.
    request_cover_art();
    apply_overlay_setting();
    queue_outputs(every_output);
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
    // Every output's exit text, in output order; one that fails keeps none of the others from being written.
    try {
        queue_exit_text_of(0, exit_text.text(), log_mode.value() != 0, first_output_target());
    } catch (...) {
        keep_first();
    }
    const std::vector<output_settings>& added = added_outputs.outputs();
    for (std::size_t index = 0; index < added.size(); ++index) {
        try {
            queue_exit_text_of(index + 1, added[index].exit_text.c_str(), added[index].log_mode,
                               added_output_target(added[index]));
        } catch (...) {
            keep_first();
        }
    }
    // The cover file shows the placeholder once the player is gone, and the overlay no track.
    try {
        set_overlay_track(std::nullopt, true);
        request_cover_art(true);
    } catch (...) {
        keep_first();
    }
    // The overlay's streams get the exit texts while the output thread writes them; the two share the limit, and
    // the cover art's thread takes what is left of it.
    stop_overlay(shutdown_limit_ms / 2);
    try {
        const DWORD spent = GetTickCount() - start;
        finish_output_at_shutdown(spent < shutdown_limit_ms ? shutdown_limit_ms - spent : 0);
    } catch (...) {
        keep_first();
    }
    try {
        const DWORD spent = GetTickCount() - start;
        end_cover_art(spent < shutdown_limit_ms ? shutdown_limit_ms - spent : 0);
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
    stop_overlay(shutdown_limit_ms);
    withdraw_output();
    // The cover art's thread ends too, so that nothing of ours keeps the module while the services are gone.
    try {
        end_cover_art(0);
    } catch (...) {
    }
    host_callbacks::retire();
}

void on_services_restored(delay_scheduler& scheduler) noexcept
{
    host_callbacks::reopen();
    scheduler.restore();
    restore_output();
    try {
        apply_overlay_setting();
    } catch (...) {
    }
}

void apply_overlay_setting()
{
    if (!overlay.enabled() || !services_ready()) {
        stop_overlay(shutdown_limit_ms);
        return;
    }
    // A server whose port another program holds tries it again by itself.
    if (overlay_port_requested() == overlay.port())
        return;
    refresh_overlay_state();
    start_overlay(overlay.port());
    refresh_overlay_track(false);
    // The art of a track that plays as the overlay starts shows at once.
    request_cover_art();
}

} // namespace velmora
