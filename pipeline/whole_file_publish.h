#pragma once

#include <cstddef>

#include <windows.h>

namespace velmora {

enum class publish_result {
    // The file at the path now holds exactly the bytes.
    published,
    // Nothing was changed; the caller writes the file in place instead.
    not_publishable,
    // Nothing was changed: the bytes could not be written (a full disk, say), and writing in place would fail the
    // same way after emptying the file.
    failed,
};

struct publish_outcome {
    publish_result result;
    DWORD error; // why, when failed
};

// Replaces the file at path with the bytes in one step: they go whole into "<file>.velmora.tmp" beside it, which is
// then renamed over it, so that a reader who opens the path finds the old whole text or the new one, never a part.
// Main thread only.
publish_outcome publish_whole_file(const wchar_t* path, const char* bytes, std::size_t count);

} // namespace velmora
