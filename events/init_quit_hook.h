#pragma once

#include "boundary/host_boundary.h"
#include "boundary/static_service.h"
#include "events/delay_scheduler.h"

namespace velmora {

// Writes the now-playing text once at host start-up, and the exit text at shut-down.
class init_quit_hook final : public static_service<kestrune::init_quit_hook, kestrune::init_quit_hook_guid> {
public:
    explicit init_quit_hook(delay_scheduler& scheduler) noexcept : scheduler_(scheduler) {}

    void __thiscall on_startup() override;
    // Also closes the scheduler first, so that no delayed write can replace the exit text. Returns once the exit
    // text is on disk, or after two seconds with the failure reported; then no callback of ours does anything.
    void __thiscall on_shutdown() override;

private:
    delay_scheduler& scheduler_;
};

// When the host clears the services-ready flag its services may be going, and the module with them, on_shutdown or
// not: the delay's worker and the output thread end once their work is done, and no callback of ours does anything
// or is made, and no thread of ours is started, until the flag is set again (restored).
// The overlay's server ends too, and serves again once restored where it is switched on.
void on_services_withdrawn(delay_scheduler& scheduler) noexcept;
void on_services_restored(delay_scheduler& scheduler) noexcept;

// Main thread: serves the overlay on its port when it is switched on (starting anew when the port changed), ends it
// when it is off. Start-up, the page, a loaded configuration and a restore of the services call it.
void apply_overlay_setting();

} // namespace velmora
