#pragma once

#include <string>
#include <utility>

#include <windows.h>

#include "pipeline/encoded_text.h"
#include "pipeline/whole_file_publish.h"
#include "text/exact_text_buffer.h"

namespace velmora {

enum class file_mode { none, replace, append };

// One write as the main thread fixed it when it was asked for: every setting read, the path expanded and made full,
// the text encoded, the clipboard's text copied. Never changed once queued, so that the output thread reads no
// setting and calls no host function to carry it out.
struct output_job {
    explicit output_job(encoded_text bytes) noexcept : entry(std::move(bytes)) {}

    std::string configured_path; // as typed, for the error line
    file_mode mode = file_mode::none;
    std::wstring path;           // the full path where there is one, else as expanded
    publish_plan plan;           // replace mode only
    encoded_text entry;
    bool copy_to_clipboard = false;
    wide_string clipboard_text;
};

// What became of the file step: whether the file could be opened at all, and what stopped the write if anything.
struct file_outcome {
    bool opened;
    DWORD error;
};

} // namespace velmora
