#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "text/utf8_string.h"

namespace velmora {

// The bytes one write puts in the file: the encoding's header, then the text in that encoding, in one block, so that
// a write is a single WriteFile and no reader sees a header without its text. It is made before any file is touched,
// so that running out of memory leaves the file as it was.
class encoded_text {
public:
    // No bytes, for a write that has no file step.
    encoded_text() noexcept = default;
    // An encoding outside the four gives no bytes at all.
    encoded_text(const utf8_string& text, std::int32_t encoding);

    std::int32_t encoding() const noexcept { return encoding_; }
    const char* bytes() const noexcept { return bytes_.data(); }
    std::size_t size() const noexcept { return bytes_.size(); }
    // How many of the leading bytes are the header.
    std::size_t header_size() const noexcept { return header_size_; }

    // Puts a later log entry in the same encoding after this one, as appending it to the file would leave it: the
    // "UTF-8 with header" header only ever starts the file. bad_alloc leaves this as it was.
    void append_entry(const encoded_text& later);

private:
    std::int32_t encoding_ = -1;
    std::size_t header_size_ = 0;
    std::string bytes_;
};

} // namespace velmora
