#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include <windows.h>

#include "output/encoded_text.h"
#include "text/exact_text_buffer.h"

namespace velmora {

enum class job_kind { clipboard_only, replace_file, append_to_file };

// One write as the main thread fixed it when it was asked for: every setting read, the path expanded and made full,
// the text encoded, the clipboard's text copied. Once the output thread has taken it, it never changes, so that the
// thread reads no setting and calls no host function to carry it out; until then, later log entries for the same file
// may join it.
struct output_job {
    explicit output_job(encoded_text bytes) noexcept : entry(std::move(bytes)) {}

    std::string configured_path; // as typed, for the error line
    job_kind kind = job_kind::clipboard_only;
    std::wstring path;           // the full path where there is one, else as expanded
    encoded_text entry;          // for a log, every entry that joined, in order
    std::size_t log_entries = 0; // how many
    bool copy_to_clipboard = false;
    wide_string clipboard_text;
    // The exit text: queued whatever the log's backlog.
    bool exit_text = false;
    // A write asked for while the host's services were withdrawn: its error line is dropped, as it would have been.
    bool report_failure = true;
    // How many files the outputs replace as the job is made: the output thread keeps a record for that many, the
    // ones it wrote most lately, and lets go of the files no output names any more.
    std::size_t files_replaced = 1;
};

// What became of the file step: what stopped the write if anything, and whether the file could not even be opened
// (which also skips the clipboard). A job without a file step has neither.
struct file_outcome {
    DWORD error;
    bool open_failed;
};

} // namespace velmora
