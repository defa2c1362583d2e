#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include <windows.h>

namespace velmora {

enum class publish_result {
    // The file at the path now holds exactly the bytes.
    published,
    // Nothing was changed; the caller writes the file in place instead.
    not_publishable,
    // The bytes could not be written (a full disk, a failed flush or close, a call cancelled or given up on, say);
    // the error tells why. Unless the close failed after the rename, the old text stands, and writing in place would
    // fail the same way after emptying the file.
    failed,
};

struct publish_outcome {
    publish_result result;
    DWORD error; // why, when failed
};

// What a publish needs beside its target's path that costs memory, kept by the output thread with each file's record,
// so that the writes to one file allocate once.
struct publish_plan {
    std::wstring target;
    std::wstring temporary; // "<target>.velmora.tmp"
    std::vector<unsigned char> rename_information;
};

// The absolute path, fixed when the write is asked for, so that the temporary file and the rename name the same
// folder and a later change of the current folder changes nothing; empty when there is none.
std::wstring full_path_of(const wchar_t* path);

// The file's size and modified time, by which a publish tells whether the file is still as it left it; false when it
// cannot be asked.
bool file_state(const std::wstring& path, ULONGLONG& size, FILETIME& written) noexcept;

// Makes the plan the target's unless it is already (an empty plan for an empty path); false, with the plan as it was,
// when memory runs out.
bool plan_publish(publish_plan& plan, const std::wstring& target) noexcept;

// Whether another program held one file open when its last publish gave up, and when the next single rename may be
// tried: kept by the output thread with that file's record.
struct held_file {
    bool held = false;
    ULONGLONG next_attempt = 0;
};

// Replaces the target with the bytes in one step: they go whole into the temporary file beside it, which is flushed
// and then renamed over it, so that a reader who opens the path finds the old whole text or the new one, never a
// part, and a power cut cannot leave it empty. Once given_up is raised, no further call on the target or the
// temporary file starts (but the one that cleans the temporary file up), and the publish fails with
// ERROR_OPERATION_ABORTED. Output thread only: it may wait long for a slow disk.
publish_outcome publish_whole_file(const publish_plan& plan, const char* bytes, std::size_t count, held_file& held,
                                   const std::atomic<bool>& given_up) noexcept;

} // namespace velmora
