#include "events/now_playing_request.h"

#include "events/output_request.h"
#include "formatting/text_formatting.h"
#include "settings/component_settings.h"

namespace velmora {

namespace {
// Main thread only, like the writes it follows.
now_playing_listener listener_after_queueing = nullptr;
} // namespace

void queue_now_playing()
{
    utf8_string text;
    format_now_playing(now_playing_script.text(), text);
    queue_output(text);
    if (listener_after_queueing != nullptr)
        listener_after_queueing();
}

void set_now_playing_listener(now_playing_listener listener) noexcept
{
    listener_after_queueing = listener;
}

} // namespace velmora
