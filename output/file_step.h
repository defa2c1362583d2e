#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "output/output_job.h"
#include "output/whole_file_publish.h"

namespace velmora {

// Carries out jobs' file steps; made and owned by the output thread, with what it remembers between them, per file.
// A replace goes in one step where it can (in place where it cannot), a log entry is appended. A replace whose bytes
// equal what it last published to that file, with the file still as that publish left it, writes nothing. Allocates
// only for a file it has no record of yet, for its plan.
class file_step {
public:
    // Once given_up is raised, no further file call of the job starts but those that leave the file whole (the
    // write that follows an in-place open, cutting a log back), and the step fails with ERROR_OPERATION_ABORTED.
    file_outcome carry_out(const std::shared_ptr<const output_job>& job, const std::atomic<bool>& given_up) noexcept;

private:
    // What the thread remembers of one file it replaces. Each file has its own, so that outputs taking turns between
    // files each find their last publish and their holder where they left them.
    struct file_record {
        publish_plan plan; // names the file
        // The last replace that landed, and the size and last-write time it left the file with.
        std::shared_ptr<const output_job> last_published;
        ULONGLONG published_size = 0;
        FILETIME published_written{};
        held_file held;
    };

    file_outcome replace_file(const std::shared_ptr<const output_job>& job, const std::atomic<bool>& given_up) noexcept;
    file_outcome append_to_file(const output_job& job, const std::atomic<bool>& given_up) noexcept;
    // The file's record, made when there is none; null when memory runs out for a new one.
    file_record* record_of(const std::wstring& path) noexcept;
    file_record* existing_record_of(const std::wstring& path) noexcept;
    // Lets go of the records beyond count, the least lately used first.
    void keep_records(std::size_t count) noexcept;

    // Most lately used last.
    std::vector<file_record> records_;
};

} // namespace velmora
