#include "events/playback_event_sink.h"

#include "boundary/service_ptr.h"
#include "events/now_playing_request.h"
#include "settings/component_settings.h"

namespace velmora {

void playback_event_sink::request_write_if(event_word switch_word)
{
    output_set outputs = event_settings.word(switch_word) != 0 ? 1 : 0;
    const std::vector<output_settings>& added = added_outputs.outputs();
    for (std::size_t index = 0; index < added.size(); ++index) {
        if (added[index].*event_switch(switch_word))
            outputs |= output_set{1} << (index + 1);
    }
    if (outputs != 0)
        scheduler_.request_write(outputs);
    else if (switch_word != event_word::on_every_second)
        // No text follows to carry the state to the overlay.
        refresh_overlay_state();
}

// Playback starting writes the first output, as it always has; the outputs after it write on their four switches
// alone, so that a log of new tracks gets one line per track, not a second one as playback starts.
void playback_event_sink::on_playback_starting(std::int32_t, std::int32_t)
{
    scheduler_.request_write(1);
}

void playback_event_sink::on_new_track(kestrune::track_handle* track)
{
    const auto owned = service_ptr<kestrune::track_handle>::adopt(track);
    refresh_overlay_track(true);
    carry_location_with_texts();
    request_write_if(event_word::on_new_track);
    // The art follows the track whatever the outputs' switches.
    request_cover_art();
}

void playback_event_sink::on_playback_stop(std::int32_t reason)
{
    if (reason == silent_stop_reason)
        return;
    carry_location_with_texts();
    request_write_if(event_word::on_stop);
    request_cover_art();
}

void playback_event_sink::on_seek(double time)
{
    refresh_overlay_position(time);
}

void playback_event_sink::on_pause(std::int32_t)
{
    request_write_if(event_word::on_pause);
}

void playback_event_sink::on_track_edited(kestrune::track_handle* track)
{
    service_ptr<kestrune::track_handle>::adopt(track);
}

void playback_event_sink::on_dynamic_info(const void*) {}

void playback_event_sink::on_dynamic_track_info(const void*)
{
    request_write_if(event_word::on_new_track);
}

void playback_event_sink::on_playback_time(double time)
{
    refresh_overlay_position(time);
    request_write_if(event_word::on_every_second);
}

void playback_event_sink::on_volume_change(float) {}

} // namespace velmora
