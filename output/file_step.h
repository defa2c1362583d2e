#pragma once

#include <atomic>
#include <memory>

#include <windows.h>

#include "output/output_job.h"
#include "output/whole_file_publish.h"

namespace velmora {

// Carries out jobs' file steps; made and owned by the output thread, with what it remembers between them. A replace
// goes in one step where it can (in place where it cannot), a log entry is appended. A replace whose bytes equal what
// it last published there, with the file still as that publish left it, writes nothing. Allocates only when the
// target differs from the last one published, for its plan.
class file_step {
public:
    // Once given_up is raised, no further file call of the job starts but those that leave the file whole (the
    // write that follows an in-place open, cutting a log back), and the step fails with ERROR_OPERATION_ABORTED.
    file_outcome carry_out(const std::shared_ptr<const output_job>& job, const std::atomic<bool>& given_up) noexcept;

private:
    file_outcome replace_file(const std::shared_ptr<const output_job>& job, const std::atomic<bool>& given_up) noexcept;
    file_outcome append_to_file(const output_job& job, const std::atomic<bool>& given_up) noexcept;
    bool already_published(const output_job& job) const noexcept;
    void remember_published(const std::shared_ptr<const output_job>& job) noexcept;

    // The last replace that landed, and the size and last-write time it left the file with.
    std::shared_ptr<const output_job> last_published_;
    ULONGLONG published_size_ = 0;
    FILETIME published_written_{};
    publish_plan plan_;
    held_file held_;
};

} // namespace velmora
