#include "pipeline/output_writer.h"

#include <cstring>

#include <windows.h>

#include "boundary/host_services.h"
#include "boundary/shared_library.h"
#include "pipeline/encoded_text.h"
#include "pipeline/whole_file_publish.h"
#include "settings/component_settings.h"
#include "text/system_error.h"
#include "text/text_conversion.h"
#include "win32/clipboard_session.h"
#include "win32/file_handle.h"
#include "win32/global_memory.h"

namespace velmora {

namespace {

void report_write_failure(const utf8_string& configured_path, DWORD error)
{
    system_error record(hresult_from_win32(static_cast<std::int32_t>(error)));
    const wchar_t* reason = system_error_text(record);
    const byte_buffer reason_utf8 = wide_to_utf8(reason != nullptr ? reason : L"");

    utf8_string line("Error: Can't write to the file ");
    line.append(configured_path.c_str());
    line.append(": ");
    line.append(reason_utf8.text());
    send_to_message_receivers(line.c_str());
}

// What became of the file step: whether the file could be opened at all, and what stopped the write if anything.
struct file_step {
    bool opened;
    DWORD error;
};

// Open for writing with every kind of sharing, so that readers and other writers keep their access.
HANDLE open_shared(const wide_string& path, DWORD disposition) noexcept
{
    return CreateFileW(path.text(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

file_step open_failed() noexcept
{
    return {false, GetLastError()};
}

// Replacing in place: empty the file, then write. A reader can catch it empty, so this serves only the files that
// cannot be replaced in one step.
file_step write_in_place(const wide_string& path, const encoded_text& entry)
{
    const file_handle file(open_shared(path, CREATE_ALWAYS));
    if (!file.valid())
        return open_failed();
    return {true, file.write(entry.bytes(), entry.size())};
}

file_step replace_file(const wide_string& path, const encoded_text& entry)
{
    const publish_outcome outcome = publish_whole_file(path.text(), entry.bytes(), entry.size());
    switch (outcome.result) {
    case publish_result::published:
        return {true, ERROR_SUCCESS};
    case publish_result::failed:
        return {true, outcome.error};
    case publish_result::not_publishable:
        break;
    }
    return write_in_place(path, entry);
}

file_step append_to_file(const wide_string& path, const encoded_text& entry)
{
    const file_handle file(open_shared(path, OPEN_ALWAYS));
    if (!file.valid())
        return open_failed();
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
    return {true, error};
}

// Gives false when the file could not be opened.
bool write_file(const utf8_string& configured_path, const wide_string& path, const utf8_string& text)
{
    const encoded_text entry(text, output_encoding.value());
    const file_step step = log_mode.value() != 0 ? append_to_file(path, entry) : replace_file(path, entry);
    if (step.error != ERROR_SUCCESS)
        report_write_failure(configured_path, step.error);
    return step.opened;
}

// Everything that needs memory comes before EmptyClipboard, so that running out of it leaves the clipboard as it was.
void copy_to_clipboard_as_unicode(const utf8_string& text)
{
    const wide_string wide = utf8_to_wide(text.c_str());
    const std::size_t units = wide.size() - 1;
    global_memory block(GMEM_MOVEABLE, (units + 1) * sizeof(wchar_t));
    if (block.get() == nullptr)
        return;
    {
        const global_lock lock(block.get());
        if (lock.data() == nullptr)
            return;
        std::memcpy(lock.data(), wide.text(), units * sizeof(wchar_t));
        static_cast<wchar_t*>(lock.data())[units] = L'\0';
    }
    const clipboard_session clipboard(nullptr);
    if (!clipboard.is_open() || !EmptyClipboard())
        return;
    if (SetClipboardData(CF_UNICODETEXT, block.get()) != nullptr)
        block.hand_over();
}

} // namespace

void write_output(const utf8_string& text)
{
    const utf8_string configured_path(output_path.text());
    if (configured_path.empty())
        return;
    // How the host expands a path is its own business, so every path goes through it, with or without a '%'.
    utf8_string expanded;
    uExpandEnvironmentStrings(configured_path.c_str(), &expanded);
    const wide_string path = utf8_to_wide(expanded.c_str());

    if (output_targets.word(save_to_file) != 0 && !write_file(configured_path, path, text))
        return;
    if (output_targets.word(copy_to_clipboard) != 0)
        copy_to_clipboard_as_unicode(text);
}

} // namespace velmora
