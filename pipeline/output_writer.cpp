#include "pipeline/output_writer.h"

#include <cstring>

#include <windows.h>

#include "component/clipboard_session.h"
#include "component/file_handle.h"
#include "component/global_memory.h"
#include "component/host_services.h"
#include "component/shared_library.h"
#include "settings/component_settings.h"
#include "text/system_error.h"
#include "text/text_conversion.h"

namespace velmora {

namespace {

void write_bytes(HANDLE file, const void* bytes, std::size_t count)
{
    DWORD written = 0;
    WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
}

void report_unopenable(const utf8_string& configured_path, DWORD error)
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

// The text as the chosen encoding writes it, converted before the file is touched, so that running out of memory
// leaves the file as it was.
struct encoded_body {
    std::int32_t encoding;
    const void* bytes = nullptr;
    std::size_t count = 0;
    wide_string wide;
    byte_buffer ansi;
};

void encode(const utf8_string& text, encoded_body& body)
{
    switch (body.encoding) {
    case encoding_utf8:
    case encoding_utf8_with_header:
        body.bytes = text.c_str();
        body.count = text.size();
        break;
    case encoding_unicode:
        body.wide = utf8_to_wide(text.c_str());
        body.bytes = body.wide.text();
        body.count = (body.wide.size() - 1) * sizeof(wchar_t);
        break;
    case encoding_ansi:
        body.ansi = utf8_to_ansi(text.c_str());
        body.bytes = body.ansi.text();
        body.count = body.ansi.size() - 1;
        break;
    default:
        break;
    }
}

void write_encoded(HANDLE file, const encoded_body& body, bool appending)
{
    if (body.encoding == encoding_utf8_with_header) {
        DWORD high = 0;
        const DWORD low = GetFileSize(file, &high);
        if (!appending || (low == 0 && high == 0))
            write_bytes(file, "\xEF\xBB\xBF", 3);
    } else if (body.encoding == encoding_unicode) {
        write_bytes(file, "\xFF\xFE", 2);
    }
    if (body.bytes != nullptr)
        write_bytes(file, body.bytes, body.count);
}

// Gives false when the file could not be opened.
bool write_file(const utf8_string& configured_path, const wide_string& path, const utf8_string& text)
{
    encoded_body body{output_encoding.value(), nullptr, 0, {}, {}};
    encode(text, body);
    const bool appending = log_mode.value() != 0;
    const file_handle file(CreateFileW(path.text(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       appending ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        report_unopenable(configured_path, GetLastError());
        return false;
    }
    if (appending)
        SetFilePointer(file.get(), 0, nullptr, FILE_END);
    write_encoded(file.get(), body, appending);
    return true;
}

void copy_to_clipboard_as_unicode(const utf8_string& text)
{
    const clipboard_session clipboard(nullptr);
    if (!clipboard.is_open() || !EmptyClipboard())
        return;
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
    if (SetClipboardData(CF_UNICODETEXT, block.get()) != nullptr)
        block.hand_over();
}

} // namespace

void write_output(const utf8_string& text)
{
    const utf8_string configured_path(output_path.text());
    if (configured_path.empty())
        return;
    utf8_string expanded;
    uExpandEnvironmentStrings(configured_path.c_str(), &expanded);
    const wide_string path = utf8_to_wide(expanded.c_str());

    if (output_targets.word(save_to_file) != 0 && !write_file(configured_path, path, text))
        return;
    if (output_targets.word(copy_to_clipboard) != 0)
        copy_to_clipboard_as_unicode(text);
}

} // namespace velmora
