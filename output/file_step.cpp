#include "output/file_step.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "text/output_encoding.h"
#include "win32/file_handle.h"

namespace velmora {

namespace {

constexpr file_outcome given_up_outcome{ERROR_OPERATION_ABORTED, false};

// Open for writing with every kind of sharing, so that readers and other writers keep their access.
HANDLE open_shared(const std::wstring& path, DWORD disposition) noexcept
{
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

file_outcome open_failed() noexcept
{
    return {GetLastError(), true};
}

// Closes the file and gives the first error, the write's or the close's: a close that fails may have lost what the
// write handed over.
DWORD close_after(file_handle& file, DWORD write_error) noexcept
{
    const DWORD close_error = file.close();
    return write_error != ERROR_SUCCESS ? write_error : close_error;
}

// Replacing in place: empty the file, then write. A reader can catch it empty, so this serves only the files that
// cannot be replaced in one step. Once open, the write goes on even when the job is given up meanwhile: stopping
// there would leave the file empty.
file_outcome write_in_place(const output_job& job, const std::atomic<bool>& given_up) noexcept
{
    if (given_up.load())
        return given_up_outcome;
    file_handle file(open_shared(job.path, CREATE_ALWAYS));
    if (!file.valid())
        return open_failed();
    return {close_after(file, file.write(job.entry.bytes(), job.entry.size())), false};
}

bool already_published(const output_job& job, const std::shared_ptr<const output_job>& last, ULONGLONG published_size,
                       const FILETIME& published_written) noexcept
{
    if (last == nullptr || last->entry.size() != job.entry.size() ||
        std::memcmp(last->entry.bytes(), job.entry.bytes(), job.entry.size()) != 0)
        return false;
    ULONGLONG size = 0;
    FILETIME written{};
    return file_state(job.path, size, written) && size == published_size &&
           CompareFileTime(&written, &published_written) == 0;
}

} // namespace

file_step::file_record* file_step::existing_record_of(const std::wstring& path) noexcept
{
    for (auto record = records_.begin(); record != records_.end(); ++record) {
        if (record->plan.target == path) {
            std::rotate(record, record + 1, records_.end());
            return &records_.back();
        }
    }
    return nullptr;
}

file_step::file_record* file_step::record_of(const std::wstring& path) noexcept
{
    if (file_record* found = existing_record_of(path))
        return found;
    file_record fresh;
    if (!plan_publish(fresh.plan, path))
        return nullptr;
    try {
        records_.push_back(std::move(fresh));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return &records_.back();
}

void file_step::keep_records(std::size_t count) noexcept
{
    if (records_.size() > count)
        records_.erase(records_.begin(), records_.end() - static_cast<std::ptrdiff_t>(count));
}

file_outcome file_step::replace_file(const std::shared_ptr<const output_job>& job,
                                     const std::atomic<bool>& given_up) noexcept
{
    if (given_up.load())
        return given_up_outcome;
    // Without memory for the record nothing is touched, and writing in place would need none.
    if (record_of(job->path) == nullptr)
        return {ERROR_NOT_ENOUGH_MEMORY, false};
    // The job's own record is the last, the most lately used.
    keep_records(std::max<std::size_t>(job->files_replaced, 1));
    file_record* record = &records_.back();
    if (already_published(*job, record->last_published, record->published_size, record->published_written))
        return {ERROR_SUCCESS, false};
    record->last_published.reset();
    const publish_outcome outcome =
        publish_whole_file(record->plan, job->entry.bytes(), job->entry.size(), record->held, given_up);
    file_outcome result{outcome.error, false};
    if (outcome.result == publish_result::not_publishable)
        result = write_in_place(*job, given_up);
    if (result.error == ERROR_SUCCESS && file_state(job->path, record->published_size, record->published_written))
        record->last_published = job;
    return result;
}

file_outcome file_step::append_to_file(const output_job& job, const std::atomic<bool>& given_up) noexcept
{
    // What is appended changes the file: a replace after it writes whatever it last published.
    if (file_record* record = existing_record_of(job.path))
        record->last_published.reset();
    if (given_up.load())
        return given_up_outcome;
    file_handle file(open_shared(job.path, OPEN_ALWAYS));
    if (!file.valid())
        return open_failed();
    const encoded_text& entry = job.entry;
    LARGE_INTEGER end{};
    const bool end_found = SetFilePointerEx(file.get(), LARGE_INTEGER{}, &end, FILE_END) != FALSE;
    // "UTF-8 with header" starts only an empty file with its header; "Unicode" puts one before every text.
    std::size_t skipped = 0;
    if (entry.encoding() == encoding_utf8_with_header) {
        DWORD high = 0;
        const DWORD low = GetFileSize(file.get(), &high);
        if (low != 0 || high != 0)
            skipped = entry.header_size();
    }
    const DWORD error =
        given_up.load() ? ERROR_OPERATION_ABORTED : file.write(entry.bytes() + skipped, entry.size() - skipped);
    if (error != ERROR_SUCCESS && end_found) {
        // Part of an entry would be a header without its text, or half a character: cut the log back to its end.
        SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN);
        SetEndOfFile(file.get());
    }
    return {close_after(file, error), false};
}

file_outcome file_step::carry_out(const std::shared_ptr<const output_job>& job,
                                  const std::atomic<bool>& given_up) noexcept
{
    switch (job->kind) {
    case job_kind::replace_file:
        return replace_file(job, given_up);
    case job_kind::append_to_file:
        return append_to_file(*job, given_up);
    case job_kind::clipboard_only:
        break;
    }
    return {ERROR_SUCCESS, false};
}

} // namespace velmora
