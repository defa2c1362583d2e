#pragma once

#include <cstdint>

#include "boundary/host_boundary.h"
#include "boundary/static_service.h"
#include "events/delay_scheduler.h"
#include "settings/component_settings.h"

namespace velmora {

// Receives the host's playback notifications and asks for a write when the user's switch for the event is on.
// Layout, as the host relies on it: service table, callback table, then the scheduler, whose first fields are the
// worker's (kestrune::playback_event_worker).
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

    delay_scheduler& scheduler() noexcept { return scheduler_; }

private:
    void request_write_if(event_word switch_word);

    delay_scheduler scheduler_;
};

} // namespace velmora
