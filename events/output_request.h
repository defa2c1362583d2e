#pragma once

#include <cstdint>
#include <memory>

#include "output/output_job.h"
#include "settings/added_outputs.h"
#include "text/utf8_string.h"

namespace velmora {

// Where one output's text goes, as its settings say now.
struct output_target {
    const char* configured_path;
    bool to_file;
    bool to_clipboard;
    std::int32_t encoding;
    bool log_mode;
};

// Output 1, from the seven settings of old, and an added output, from its own (never to the clipboard).
output_target first_output_target() noexcept;
output_target added_output_target(const output_settings& output) noexcept;

// Main thread: a configured path expanded by the host and made full (as expanded when it cannot be).
std::wstring expanded_full_path(const char* configured_path);

// Delivers a finished text to the outputs the settings choose: the file (replaced in one step where it can be, or
// appended in log mode) in the chosen encoding, then the clipboard as Unicode text. On the calling (main) thread it
// reads the settings, expands and fixes the path, encodes the text and queues the job; the output thread writes it.
// A file that cannot be opened or written becomes one error line for the host, back on the main thread; one that
// cannot be opened also skips the clipboard. Only bad_alloc leaves it.
void queue_output(const utf8_string& text, const output_target& target = first_output_target());

// The same for the exit text at shut-down, queued whatever the log's backlog. What earlier writes left for the main
// thread is the caller's to deliver first.
void queue_exit_text(const utf8_string& text, const output_target& target = first_output_target());

// The job queue_output queues for the text, with the settings as they are now; null when the settings ask for
// nothing (no path, or neither the file nor the clipboard). bad_alloc passes.
std::shared_ptr<output_job> make_output_job(const utf8_string& text,
                                            const output_target& target = first_output_target());

} // namespace velmora
