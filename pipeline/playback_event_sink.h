#pragma once

#include <cstdint>

#include "component/host_boundary.h"
#include "component/static_service.h"
#include "pipeline/write_scheduler.h"

namespace velmora {

// Receives the host's playback notifications and asks for a write when the user's switch for the event is on.
// Layout, as the host relies on it: service table, callback table, worker thread handle, worker thread id.
class playback_event_sink final
    : public static_service<kestrune::playback_event_service, kestrune::playback_event_sink_guid>,
      public kestrune::playback_event_callbacks {
public:
    // Bit n stands for notification n; only those that consult a switch are subscribed.
    static constexpr std::uint32_t subscription_mask = 0x196;
    // The stop reason that never writes.
    static constexpr std::int32_t silent_stop_reason = 2;

    std::uint32_t __thiscall subscribed_events() override { return subscription_mask; }

    void __thiscall on_playback_starting(std::int32_t command, std::int32_t paused) override;
    void __thiscall on_new_track(kestrune::track_handle* track) override;
    void __thiscall on_playback_stop(std::int32_t reason) override;
    void __thiscall on_seek(double time) override;
    void __thiscall on_pause(std::int32_t state) override;
    void __thiscall on_track_edited(kestrune::track_handle* track) override;
    void __thiscall on_dynamic_info(const void* info) override;
    void __thiscall on_dynamic_track_info(const void* info) override;
    void __thiscall on_playback_time(double time) override;
    void __thiscall on_volume_change(float volume) override;

    write_scheduler& scheduler() noexcept { return scheduler_; }

private:
    void request_write_if(std::size_t switch_word);

    write_scheduler scheduler_;
};

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
