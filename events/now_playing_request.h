#pragma once

namespace velmora {

// Formats the stored script and queues its output: the write of every event, at once or after the delay. The
// listener, if one is set, is told after each.
void queue_now_playing();

// Told on the main thread after each event's output is queued. The preferences page sets one while it exists, so
// that its preview follows; the events layer knows nothing of it. Null for none.
using now_playing_listener = void (*)() noexcept;
void set_now_playing_listener(now_playing_listener listener) noexcept;

} // namespace velmora
