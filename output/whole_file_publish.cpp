#include "output/whole_file_publish.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "win32/file_handle.h"

namespace velmora {

namespace {

constexpr wchar_t temporary_suffix[] = L".velmora.tmp";

// The rename fails while another program has the file open without sharing deletion. A reader that polls by path
// holds it for microseconds, or for a few milliseconds when the machine is busy and it loses the processor while it
// holds it, so a write keeps trying for a while before it writes in place: 100 ms and at least 20 tries, since on a
// busy machine a try can take long; never more than a second. After the first few tries it sleeps between every
// other try, which lets such a reader run and close the file.
constexpr double rename_retry_seconds = 0.1;
constexpr double rename_retry_limit_seconds = 1.0;
constexpr int rename_least_tries = 20;
constexpr int rename_tries_before_sleeping = 4;

// A program that keeps the file open would cost every write that moment. Once a write has given up, later writes to
// that file go in place at once, and one of them tries a single rename per interval to learn whether it has let go.
constexpr ULONGLONG held_file_retry_interval_ms = 1000;

double now_seconds() noexcept
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Whether a rename may stand in for writing the file in place. The targets it may not:
// - a folder, and a path whose folder is missing: the in-place write reports them as it always has;
// - a read-only file: Windows refuses to open it for writing and the user gets the error line; a rename would
//   replace it silently (MoveFileExW and renames do under Wine);
// - a hidden or system file: a new file would come without those attributes (Windows refuses to empty such a file
//   with CREATE_ALWAYS, so the user gets the error line there as before);
// - a link or other reparse point: a rename would replace the link, not the file it leads to;
// - a file with more than one hard link: the new file would have one name only, and the others keep the old text;
// - an encrypted file: the new one would not be encrypted;
// - devices and pipes (\\.\ names), which are not files at all.
enum class rename_verdict { replaceable, kept_in_place, cancelled };

// A call cancelled at a shut-down that gave up is a failed write, never a reason to write in place.
bool cancelled(DWORD error) noexcept
{
    return error == ERROR_OPERATION_ABORTED;
}

rename_verdict replaceable_by_rename(const std::wstring& target)
{
    if (target.compare(0, 4, L"\\\\.\\") == 0)
        return rename_verdict::kept_in_place;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (cancelled(error))
            return rename_verdict::cancelled;
        return error == ERROR_FILE_NOT_FOUND ? rename_verdict::replaceable : rename_verdict::kept_in_place;
    }
    constexpr DWORD kept_in_place = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE |
                                    FILE_ATTRIBUTE_ENCRYPTED;
    if ((attributes & kept_in_place) != 0)
        return rename_verdict::kept_in_place;
    // Asked through an open handle for its standard information only: the plain GetFileInformationByHandle also
    // asks Wine's mount manager for the volume, which can stall while the server is busy.
    const file_handle file(CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid())
        return cancelled(GetLastError()) ? rename_verdict::cancelled : rename_verdict::kept_in_place;
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, static_cast<DWORD>(sizeof standard)))
        return cancelled(GetLastError()) ? rename_verdict::cancelled : rename_verdict::kept_in_place;
    return standard.NumberOfLinks <= 1 ? rename_verdict::replaceable : rename_verdict::kept_in_place;
}

// FILE_RENAME_INFO naming the target, replacing it. Built before the temporary file exists, so that running out of
// memory touches no file.
std::vector<unsigned char> rename_information(const std::wstring& target)
{
    constexpr std::size_t name_offset = offsetof(FILE_RENAME_INFO, FileName);
    const std::size_t name_bytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> information(name_offset + name_bytes + sizeof(wchar_t));
    FILE_RENAME_INFO* rename = new (information.data()) FILE_RENAME_INFO{};
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(information.data() + name_offset, target.c_str(), name_bytes + sizeof(wchar_t));
    return information;
}

bool held_by_another_program(DWORD error) noexcept
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// The temporary file, open for writing and renaming, and deleted on the way out unless it was renamed into place.
// Nobody else may open it, so two writers of one file never write into each other's: the second writes in place.
// One left behind by a killed process has the same name, and the next write empties it and uses it.
class temporary_file {
public:
    explicit temporary_file(const std::wstring& path) noexcept
        : file_(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr))
    {}
    temporary_file(const temporary_file&) = delete;
    temporary_file& operator=(const temporary_file&) = delete;
    ~temporary_file()
    {
        if (file_.valid() && !renamed_) {
            FILE_DISPOSITION_INFO disposition{TRUE};
            SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition, sizeof disposition);
        }
    }

    bool valid() const noexcept { return file_.valid(); }
    DWORD write(const char* bytes, std::size_t count) const noexcept { return file_.write(bytes, count); }

    // Onto the disk before the rename: otherwise a power cut soon after could leave the renamed file empty.
    DWORD flush() const noexcept { return FlushFileBuffers(file_.get()) ? ERROR_SUCCESS : GetLastError(); }

    // After the rename; a failed close is a failed write, although the file has taken the target's place.
    DWORD close() noexcept { return file_.close(); }

    // Gives ERROR_SUCCESS once the file has taken the target's place.
    DWORD rename(const std::vector<unsigned char>& information) noexcept
    {
        // The system only reads the information, although the parameter is not const.
        if (!SetFileInformationByHandle(file_.get(), FileRenameInfo, const_cast<unsigned char*>(information.data()),
                                        static_cast<DWORD>(information.size())))
            return GetLastError();
        renamed_ = true;
        return ERROR_SUCCESS;
    }

private:
    file_handle file_;
    bool renamed_ = false;
};

// A rename by handle rather than ReplaceFileW, which would keep the target's attributes but is not one step under
// Wine: it moves the target away before it moves the new file in, so that readers find no file, and a failed call
// leaves a file of its own behind.
DWORD rename_over_target(temporary_file& file, const std::vector<unsigned char>& information, bool single_attempt,
                         const std::atomic<bool>& given_up)
{
    double start = 0;
    for (int tries = 1;; ++tries) {
        if (given_up.load())
            return ERROR_OPERATION_ABORTED;
        const DWORD error = file.rename(information);
        if (error == ERROR_SUCCESS || !held_by_another_program(error) || single_attempt)
            return error;
        // The clock is read only once a try has failed: the first try nearly always succeeds.
        if (tries == 1)
            start = now_seconds();
        const double elapsed = now_seconds() - start;
        if ((elapsed > rename_retry_seconds && tries >= rename_least_tries) || elapsed > rename_retry_limit_seconds)
            return error;
        Sleep(tries < rename_tries_before_sleeping || tries % 2 == 0 ? 0 : 1);
    }
}

} // namespace

// Most paths fit the first buffer, which saves asking twice.
std::wstring full_path_of(const wchar_t* path)
{
    // A path of usual length is made on the stack, so that the text takes a block of its own size alone.
    wchar_t short_full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path, MAX_PATH, short_full, nullptr);
    if (length < MAX_PATH)
        return std::wstring(short_full, length);
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(path, length, full.data(), nullptr);
    if (written >= length)
        return {};
    full.resize(written);
    return full;
}

bool file_state(const std::wstring& path, ULONGLONG& size, FILETIME& written) noexcept
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    size = static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    written = data.ftLastWriteTime;
    return true;
}

bool plan_publish(publish_plan& plan, const std::wstring& target) noexcept
{
    if (plan.target == target)
        return true;
    try {
        publish_plan fresh;
        if (!target.empty()) {
            fresh.target = target;
            fresh.temporary = target + temporary_suffix;
            fresh.rename_information = rename_information(target);
        }
        plan = std::move(fresh);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

publish_outcome publish_whole_file(const publish_plan& plan, const char* bytes, std::size_t count, held_file& held,
                                   const std::atomic<bool>& given_up) noexcept
{
    const std::wstring& target = plan.target;
    constexpr publish_outcome given_up_outcome{publish_result::failed, ERROR_OPERATION_ABORTED};
    if (target.empty())
        return {publish_result::not_publishable, ERROR_SUCCESS};
    if (given_up.load())
        return given_up_outcome;
    switch (replaceable_by_rename(target)) {
    case rename_verdict::replaceable:
        break;
    case rename_verdict::kept_in_place:
        return {publish_result::not_publishable, ERROR_SUCCESS};
    case rename_verdict::cancelled:
        return given_up_outcome;
    }
    const bool holder_seen = held.held;
    if (holder_seen && GetTickCount64() < held.next_attempt) {
        // What a killed write left behind goes now rather than at the holder's leaving.
        DeleteFileW(plan.temporary.c_str());
        return {publish_result::not_publishable, ERROR_SUCCESS};
    }

    if (given_up.load())
        return given_up_outcome;
    temporary_file file(plan.temporary);
    if (!file.valid()) {
        const DWORD error = GetLastError();
        // Without room for even an empty file, writing in place could only lose the old text.
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || cancelled(error))
            return {publish_result::failed, error};
        return {publish_result::not_publishable, ERROR_SUCCESS};
    }
    if (given_up.load())
        return given_up_outcome;
    DWORD error = file.write(bytes, count);
    if (error == ERROR_SUCCESS && !given_up.load())
        error = file.flush();
    if (error == ERROR_SUCCESS && given_up.load())
        error = ERROR_OPERATION_ABORTED;
    if (error != ERROR_SUCCESS)
        return {publish_result::failed, error};

    const DWORD rename_error = rename_over_target(file, plan.rename_information, holder_seen, given_up);
    if (rename_error == ERROR_SUCCESS) {
        held.held = false;
        const DWORD close_error = file.close();
        if (close_error != ERROR_SUCCESS)
            return {publish_result::failed, close_error};
        return {publish_result::published, ERROR_SUCCESS};
    }
    if (cancelled(rename_error))
        return {publish_result::failed, rename_error};
    if (held_by_another_program(rename_error)) {
        held.held = true;
        held.next_attempt = GetTickCount64() + held_file_retry_interval_ms;
    }
    return {publish_result::not_publishable, ERROR_SUCCESS};
}

} // namespace velmora
