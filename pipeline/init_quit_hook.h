#pragma once

#include "boundary/host_boundary.h"
#include "boundary/static_service.h"
#include "pipeline/write_scheduler.h"

namespace velmora {

// Writes the now-playing text once at host start-up, and the exit text at shut-down.
class init_quit_hook final : public static_service<kestrune::init_quit_hook, kestrune::init_quit_hook_guid> {
public:
    explicit init_quit_hook(write_scheduler& scheduler) noexcept : scheduler_(scheduler) {}

    void __thiscall on_startup() override;
    // Also closes the scheduler first, so that no delayed write can replace the exit text.
    void __thiscall on_shutdown() override;

private:
    write_scheduler& scheduler_;
};

} // namespace velmora
