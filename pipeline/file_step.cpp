#include "pipeline/file_step.h"

#include <cstring>

#include <windows.h>

#include "settings/component_settings.h"
#include "win32/file_handle.h"

namespace velmora {

namespace {

// The last replace that landed, and the size and last-write time it left the file with. Output thread only.
struct published_record {
    std::shared_ptr<const output_job> job;
    ULONGLONG size = 0;
    FILETIME written{};
};
published_record last_published;

bool file_state(const std::wstring& path, ULONGLONG& size, FILETIME& written) noexcept
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    written = data.ftLastWriteTime;
    return true;
}

bool already_published(const output_job& job) noexcept
{
    const output_job* last = last_published.job.get();
    if (last == nullptr || last->path != job.path || last->entry.size() != job.entry.size() ||
        std::memcmp(last->entry.bytes(), job.entry.bytes(), job.entry.size()) != 0)
        return false;
    ULONGLONG size = 0;
    FILETIME written{};
    return file_state(job.path, size, written) && size == last_published.size &&
           CompareFileTime(&written, &last_published.written) == 0;
}

void remember_published(const std::shared_ptr<const output_job>& job) noexcept
{
    if (file_state(job->path, last_published.size, last_published.written))
        last_published.job = job;
    else
        last_published.job.reset();
}

// Open for writing with every kind of sharing, so that readers and other writers keep their access.
HANDLE open_shared(const std::wstring& path, DWORD disposition) noexcept
{
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

file_outcome open_failed() noexcept
{
    return {false, GetLastError()};
}

// Closes the file and gives the first error, the write's or the close's: a close that fails may have lost what the
// write handed over.
DWORD close_after(file_handle& file, DWORD write_error) noexcept
{
    const DWORD close_error = file.close();
    return write_error != ERROR_SUCCESS ? write_error : close_error;
}

// Replacing in place: empty the file, then write. A reader can catch it empty, so this serves only the files that
// cannot be replaced in one step.
file_outcome write_in_place(const output_job& job) noexcept
{
    file_handle file(open_shared(job.path, CREATE_ALWAYS));
    if (!file.valid())
        return open_failed();
    return {true, close_after(file, file.write(job.entry.bytes(), job.entry.size()))};
}

file_outcome replace_file(const std::shared_ptr<const output_job>& job) noexcept
{
    if (already_published(*job))
        return {true, ERROR_SUCCESS};
    last_published.job.reset();
    const publish_outcome outcome = publish_whole_file(job->plan, job->entry.bytes(), job->entry.size());
    file_outcome result{true, outcome.error};
    if (outcome.result == publish_result::not_publishable)
        result = write_in_place(*job);
    if (result.error == ERROR_SUCCESS)
        remember_published(job);
    return result;
}

file_outcome append_to_file(const output_job& job) noexcept
{
    if (last_published.job != nullptr && last_published.job->path == job.path)
        last_published.job.reset();
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
    const DWORD error = file.write(entry.bytes() + skipped, entry.size() - skipped);
    if (error != ERROR_SUCCESS && end_found) {
        // Part of an entry would be a header without its text, or half a character: cut the log back to its end.
        SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN);
        SetEndOfFile(file.get());
    }
    return {true, close_after(file, error)};
}

} // namespace

file_outcome carry_out_file_step(const std::shared_ptr<const output_job>& job) noexcept
{
    switch (job->mode) {
    case file_mode::replace:
        return replace_file(job);
    case file_mode::append:
        return append_to_file(*job);
    case file_mode::none:
        break;
    }
    return {true, ERROR_SUCCESS};
}

} // namespace velmora
