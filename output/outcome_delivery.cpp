#include "output/outcome_delivery.h"

#include <cstring>
#include <string>

#include <windows.h>

#include "boundary/host_services.h"
#include "text/system_error.h"
#include "text/text_conversion.h"
#include "win32/clipboard_session.h"
#include "win32/global_memory.h"

namespace velmora {

namespace {

// Everything that needs memory comes before EmptyClipboard, so that running out of it leaves the clipboard as it was.
void copy_to_clipboard_as_unicode(const wide_string& wide)
{
    const std::size_t units = wide.length();
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

void report_system_error(const std::string& what, DWORD error)
{
    system_error record(hresult_from_win32(static_cast<std::int32_t>(error)));
    const wchar_t* reason = system_error_text(record);
    const byte_buffer reason_utf8 = wide_to_utf8(reason != nullptr ? reason : L"");
    const std::string line = "Error: " + what + ": " + reason_utf8.text();
    send_to_message_receivers(line.c_str());
}

void deliver_output_outcome(const output_job& job, file_outcome outcome)
{
    if (outcome.error != ERROR_SUCCESS)
        report_system_error("Can't write to the file " + job.configured_path, outcome.error);
    if (!outcome.open_failed && job.copy_to_clipboard)
        copy_to_clipboard_as_unicode(job.clipboard_text);
}

void report_log_backlog(const output_job& job, std::size_t waiting)
{
    const std::string line = "Error: Can't keep up with the log file " + job.configured_path + ": " +
                             std::to_string(waiting) +
                             " entries are waiting for the disk; new entries are dropped until it catches up";
    send_to_message_receivers(line.c_str());
}

} // namespace velmora
