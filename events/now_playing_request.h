#pragma once

namespace velmora {

// Formats the stored script and writes it: the write of every event, at once or after the delay. The listener, if
// one is set, is told after each.
void queue_now_playing();

// Told on the main thread after each event-driven write. The preferences page sets one while it exists, so that
// its preview follows; the pipeline knows nothing of it. Null for none.
using write_listener = void (*)() noexcept;
void set_write_listener(write_listener listener) noexcept;

} // namespace velmora
