#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

// Texts that tell a reader whether it caught all of one: "velmora N", a filler whose length depends on N, then
// "café end". Their bytes in each encoding are made with the platform's own conversions, apart from the writer's.
// Shared by the tests, the poller and the burst writer, so that each process judges what it reads the same way.
namespace published_text {

inline std::string text(unsigned long number)
{
    return "velmora " + std::to_string(number) + " " + std::string(number * 37 % 120, char('a' + number % 26)) +
           " caf\xC3\xA9 end";
}

inline std::wstring to_wide(const std::string& utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

// The file's bytes for the text in the encoding (0 "UTF-8", 1 "UTF-8 with header", 2 "Unicode", 3 "ANSI").
inline std::string bytes(const std::string& utf8, int encoding)
{
    switch (encoding) {
    case 1:
        return "\xEF\xBB\xBF" + utf8;
    case 2: {
        const std::wstring wide = to_wide(utf8);
        return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    }
    case 3: {
        const std::wstring wide = to_wide(utf8);
        std::string ansi(wide.size() * 2, '\0');
        ansi.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                                                 ansi.data(), static_cast<int>(ansi.size()), nullptr,
                                                                 nullptr)));
        return ansi;
    }
    default:
        return utf8;
    }
}

inline std::string bytes(unsigned long number, int encoding)
{
    return bytes(text(number), encoding);
}

enum class verdict { whole, empty, header_only, torn };

struct reading {
    verdict kind = verdict::torn;
    unsigned long number = 0;
};

// The number that follows "velmora " at the start of the text, read from the bytes after the header.
inline bool number_in(const std::string& body, unsigned long& number)
{
    const std::string prefix = "velmora ";
    if (body.compare(0, prefix.size(), prefix) != 0 || body.size() <= prefix.size())
        return false;
    char* end = nullptr;
    number = std::strtoul(body.c_str() + prefix.size(), &end, 10);
    return end != body.c_str() + prefix.size() && *end == ' ';
}

// What a reader found: a whole text in one of the encodings, nothing, a header alone, or anything else.
inline reading classify(const std::string& found)
{
    if (found.empty())
        return {verdict::empty, 0};
    if (found == "\xEF\xBB\xBF" || found == "\xFF\xFE")
        return {verdict::header_only, 0};
    std::string body = found;
    int encodings[2] = {0, 3};
    if (found.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        body = found.substr(3);
        encodings[0] = encodings[1] = 1;
    } else if (found.compare(0, 2, "\xFF\xFE") == 0) {
        // Only the ASCII start matters for the number.
        body.clear();
        for (std::size_t unit = 2; unit + 1 < found.size() && found[unit + 1] == '\0'; unit += 2)
            body += found[unit];
        encodings[0] = encodings[1] = 2;
    }
    unsigned long number = 0;
    if (!number_in(body, number))
        return {verdict::torn, 0};
    for (int encoding : encodings)
        if (found == bytes(number, encoding))
            return {verdict::whole, number};
    return {verdict::torn, number};
}

// Everything from the file's start to its end, through an open handle.
inline std::string read_all(HANDLE file)
{
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string content;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
        content.append(block, got);
    return content;
}

// The whole file, read as a polling reader does: open by path, read, close. False when the open fails.
inline bool read_by_path(const wchar_t* path, std::string& content)
{
    const HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    content = read_all(file);
    CloseHandle(file);
    return true;
}

struct poll_counts {
    unsigned long reads = 0, failed_opens = 0, empty = 0, header_only = 0, torn = 0, older = 0;

    unsigned long faults() const { return empty + header_only + torn + older; }

    std::string line() const
    {
        char text[200];
        std::snprintf(text, sizeof text, "%lu reads, %lu failed opens, %lu empty, %lu header only, %lu torn, %lu older",
                      reads, failed_opens, empty, header_only, torn, older);
        return text;
    }
};

// Reads the file by path every millisecond, a thousand times as often as an overlay does, until stop is signalled.
// A text older than one already seen counts as a fault too: a reader must never go back.
inline poll_counts poll_until(const wchar_t* path, HANDLE stop)
{
    poll_counts counts;
    unsigned long newest = 0;
    std::string content;
    while (WaitForSingleObject(stop, 1) == WAIT_TIMEOUT) {
        if (!read_by_path(path, content)) {
            ++counts.failed_opens;
            continue;
        }
        ++counts.reads;
        const reading found = classify(content);
        switch (found.kind) {
        case verdict::whole:
            if (found.number < newest)
                ++counts.older;
            newest = found.number > newest ? found.number : newest;
            break;
        case verdict::empty:
            ++counts.empty;
            break;
        case verdict::header_only:
            ++counts.header_only;
            break;
        case verdict::torn:
            ++counts.torn;
            break;
        }
    }
    return counts;
}

} // namespace published_text
