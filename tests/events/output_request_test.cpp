#include "events/output_request.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "boundary/host_services.h"
#include "host/doubles/message_receiver.h"
#include "host/doubles/service_registry.h"
#include "settings/component_settings.h"
#include "tests/clipboard_text.h"
#include "tests/heap_sweep.h"
#include "tests/host_fixture.h"
#include "tests/output_wait.h"

namespace velmora {
namespace {

const std::string sentinel = "clipboard before the write";

std::string folder_for_tests()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"velmora-writer-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    char utf8[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, folder.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

std::wstring wide(const std::string& utf8)
{
    wchar_t units[MAX_PATH * 2];
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, units, MAX_PATH * 2);
    return units;
}

std::string read_file(const std::string& path)
{
    std::ifstream file(wide(path).c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool file_exists(const std::string& path)
{
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void put_on_clipboard(const std::wstring& text)
{
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
}

class OutputWriter : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry.add(kestrune::message_receiver_guid, receiver);
        set_service_registry(&registry);
        set_services_ready_flag(1);
        path = folder + "\\now playing.txt";
        DeleteFileW(wide(path).c_str());
        output_path.set(path.c_str());
        output_encoding.set(encoding_utf8);
        log_mode.set(0);
        output_targets.set_word(output_target_word::save_to_file, 1);
        output_targets.set_word(output_target_word::copy_to_clipboard, 0);
        put_on_clipboard(wide(sentinel));
    }

    void TearDown() override
    {
        set_service_registry(nullptr);
        set_services_ready_flag(0);
        output_path.set("");
        output_encoding.set(default_output_encoding);
        log_mode.set(0);
        output_targets.set_word(output_target_word::save_to_file, 1);
        output_targets.set_word(output_target_word::copy_to_clipboard, 0);
        EXPECT_EQ(audit.findings(), "");
    }

    void write(const std::string& text)
    {
        queue_output(utf8_string(text.c_str()));
        wait_for_writes();
    }

    // Expects exactly one error line for the path as typed, then the system's text.
    void expect_one_error_line(const std::string& typed_path)
    {
        ASSERT_EQ(receiver.lines.size(), 1u);
        const std::string prefix = "Error: Can't write to the file " + typed_path + ": ";
        EXPECT_EQ(receiver.lines[0].substr(0, prefix.size()), prefix);
        EXPECT_GT(receiver.lines[0].size(), prefix.size()) << "the system's text follows";
        EXPECT_NE(receiver.lines[0].back(), '\n');
        receiver.lines.clear();
    }

    const std::string folder = folder_for_tests();
    std::string path;
    stand_in::reference_audit audit;
    stand_in::service_registry registry;
    stand_in::message_receiver receiver{audit, "receiver"};
};

TEST_F(OutputWriter, EveryEncodingWritesItsExactBytes)
{
    struct expectation {
        std::int32_t encoding;
        std::string text, bytes;
    };
    const std::vector<expectation> cases = {
        {encoding_utf8, "", ""},
        {encoding_utf8, "\xC3\xA9", "\xC3\xA9"},
        {encoding_utf8, "\xF0\x9F\x8E\xB5", "\xF0\x9F\x8E\xB5"},
        {encoding_utf8,
         "ab\xFF"
         "cd",
         "ab\xFF"
         "cd"},
        {encoding_utf8_with_header, "", "\xEF\xBB\xBF"},
        {encoding_utf8_with_header, "\xC3\xA9", "\xEF\xBB\xBF\xC3\xA9"},
        {encoding_utf8_with_header,
         "ab\xFF"
         "cd",
         "\xEF\xBB\xBF"
         "ab\xFF"
         "cd"},
        {encoding_unicode, "", "\xFF\xFE"},
        {encoding_unicode, "\xC3\xA9", std::string("\xFF\xFE\xE9\x00", 4)},
        {encoding_unicode, "\xF0\x9F\x8E\xB5", "\xFF\xFE\x3C\xD8\xB5\xDF"},
        {encoding_unicode,
         "ab\xFF"
         "cd",
         std::string("\xFF\xFE"
                     "a\0b\0",
                     6)},
        {encoding_ansi, "", ""},
        {encoding_ansi, "\xC3\xA9", "\xE9"},
        {encoding_ansi,
         "ab\xFF"
         "cd",
         "ab"},
    };
    ASSERT_EQ(GetACP(), 1252u);
    for (const expectation& expected : cases) {
        output_encoding.set(expected.encoding);
        write(expected.text);
        EXPECT_EQ(read_file(path), expected.bytes) << "encoding " << expected.encoding;
    }
    EXPECT_TRUE(receiver.lines.empty());
}

TEST_F(OutputWriter, LogModeAppendsWithTheUtf8HeaderOnlyOnAnEmptyFile)
{
    log_mode.set(1);
    output_encoding.set(encoding_utf8_with_header);
    for (int round = 0; round < 3; ++round)
        write("a");
    EXPECT_EQ(read_file(path), "\xEF\xBB\xBF"
                               "aaa");
}

TEST_F(OutputWriter, LogModeWritesTheUnicodeHeaderBeforeEveryText)
{
    log_mode.set(1);
    output_encoding.set(encoding_unicode);
    for (int round = 0; round < 3; ++round)
        write("a");
    EXPECT_EQ(read_file(path), std::string("\xFF\xFE"
                                           "a\0\xFF\xFE"
                                           "a\0\xFF\xFE"
                                           "a\0",
                                           12));
}

TEST_F(OutputWriter, WithoutLogModeEachWriteReplacesTheFile)
{
    write("first text");
    write("second");
    EXPECT_EQ(read_file(path), "second");
    log_mode.set(1);
    write("+");
    EXPECT_EQ(read_file(path), "second+");
}

TEST_F(OutputWriter, AnUnknownEncodingEmptiesTheFileAndStillCopies)
{
    write("old");
    output_encoding.set(7);
    output_targets.set_word(output_target_word::copy_to_clipboard, 1);
    write("new");
    EXPECT_EQ(read_file(path), "");
    EXPECT_EQ(clipboard_text(), L"new");
}

TEST_F(OutputWriter, AnEmptyPathSwitchesEveryOutputOff)
{
    output_path.set("");
    output_targets.set_word(output_target_word::copy_to_clipboard, 1);
    write("text");
    EXPECT_EQ(clipboard_text(), wide(sentinel));
    EXPECT_TRUE(receiver.lines.empty());
}

TEST_F(OutputWriter, TheClipboardAloneLeavesTheFileUntouched)
{
    output_targets.set_word(output_target_word::save_to_file, 0);
    output_targets.set_word(output_target_word::copy_to_clipboard, 1);
    write("caf\xC3\xA9 \xF0\x9F\x8E\xB5 ok\xFF"
          "dropped");
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(clipboard_text(), L"caf\u00E9 \U0001F3B5 ok");
    write("");
    EXPECT_EQ(clipboard_text(), L"");
}

TEST_F(OutputWriter, EnvironmentReferencesAreExpandedButReportedAsTyped)
{
    SetEnvironmentVariableW(L"VELMORA_OUTPUT_FOLDER", wide(folder).c_str());
    output_path.set("%VELMORA_OUTPUT_FOLDER%\\expanded.txt");
    write("here");
    EXPECT_EQ(read_file(folder + "\\expanded.txt"), "here");

    // Past the usual path length, in the system's long form.
    const std::string long_folder = "\\\\?\\" + folder + "\\" + std::string(240, 'x');
    const std::string far_file = long_folder + "\\far.txt";
    ASSERT_GT(far_file.size(), static_cast<std::size_t>(MAX_PATH));
    CreateDirectoryW(wide(long_folder).c_str(), nullptr);
    SetEnvironmentVariableW(L"VELMORA_OUTPUT_FOLDER", wide(long_folder).c_str());
    output_path.set("%VELMORA_OUTPUT_FOLDER%\\far.txt");
    write("far");
    EXPECT_EQ(read_file(far_file), "far");
    DeleteFileW(wide(far_file).c_str());
    RemoveDirectoryW(wide(long_folder).c_str());
    SetEnvironmentVariableW(L"VELMORA_OUTPUT_FOLDER", wide(folder).c_str());

    output_path.set("%VELMORA_OUTPUT_FOLDER%\\missing folder\\np.txt");
    write("lost");
    expect_one_error_line("%VELMORA_OUTPUT_FOLDER%\\missing folder\\np.txt");
}

TEST_F(OutputWriter, AFileThatCannotBeOpenedGivesOneLineAndTouchesNothing)
{
    output_targets.set_word(output_target_word::copy_to_clipboard, 1);
    const std::string read_only = folder + "\\read only.txt";
    {
        std::ofstream(wide(read_only).c_str()) << "kept";
    }
    SetFileAttributesW(wide(read_only).c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string held = folder + "\\held.txt";
    {
        std::ofstream(wide(held).c_str()) << "kept";
    }
    const HANDLE holder = CreateFileW(wide(held).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    SetEnvironmentVariableW(L"VELMORA_NOTHING", L"");

    std::vector<std::string> unopenables = {folder + "\\no such folder\\np.txt", folder, held, "%VELMORA_NOTHING%"};
    // Wine running as root may open a read-only file for writing; Windows and Wine as a user refuse.
    const HANDLE probe = CreateFileW(wide(read_only).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        unopenables.push_back(read_only);
    else
        CloseHandle(probe);

    for (const std::string& unopenable : unopenables) {
        output_path.set(unopenable.c_str());
        for (std::int32_t mode : {0, 1}) {
            SCOPED_TRACE(unopenable + (mode ? " in log mode" : ""));
            log_mode.set(mode);
            write("must not arrive");
            expect_one_error_line(unopenable);
            EXPECT_EQ(clipboard_text(), wide(sentinel)) << unopenable;
        }
    }
    CloseHandle(holder);
    EXPECT_EQ(read_file(held), "kept");
    SetFileAttributesW(wide(read_only).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(read_file(read_only), "kept");

    set_services_ready_flag(0);
    output_path.set(held.c_str());
    const HANDLE again = CreateFileW(wide(held).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    write("quiet");
    CloseHandle(again);
    EXPECT_TRUE(receiver.lines.empty()) << "no line before the services are ready";
}

TEST_F(OutputWriter, ReplacingLeavesNoTemporaryFileAndTakesUpOneLeftBehind)
{
    const std::string temporary = path + ".velmora.tmp";
    {
        std::ofstream(wide(temporary).c_str()) << "left by a write that was killed";
    }
    write("whole");
    EXPECT_EQ(read_file(path), "whole");
    EXPECT_FALSE(file_exists(temporary));
    write("");
    EXPECT_EQ(read_file(path), "");
    EXPECT_FALSE(file_exists(temporary));
}

TEST_F(OutputWriter, HiddenSystemAndReadOnlyFilesKeepTheirAttributes)
{
    for (DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_READONLY}) {
        SCOPED_TRACE(attribute);
        const std::string kept = folder + "\\kept " + std::to_string(attribute) + ".txt";
        {
            std::ofstream(wide(kept).c_str()) << "old";
        }
        SetFileAttributesW(wide(kept).c_str(), attribute);
        output_path.set(kept.c_str());
        write("new");
        // Windows refuses to write these and reports the file; Wine may write them in place. Either way the file
        // stays the user's, never replaced by a plain new one.
        EXPECT_NE(GetFileAttributesW(wide(kept).c_str()) & attribute, 0u);
        SetFileAttributesW(wide(kept).c_str(), FILE_ATTRIBUTE_NORMAL);
        const std::string content = read_file(kept);
        EXPECT_TRUE((content == "old" && receiver.lines.size() == 1) || (content == "new" && receiver.lines.empty()))
            << content << ", " << receiver.lines.size() << " lines";
        EXPECT_FALSE(file_exists(kept + ".velmora.tmp"));
        receiver.lines.clear();
    }
}

TEST_F(OutputWriter, AFileWithASecondHardLinkIsWrittenInPlaceSoBothNamesShowTheText)
{
    write("old");
    const std::string second = folder + "\\second name.txt";
    DeleteFileW(wide(second).c_str());
    ASSERT_TRUE(CreateHardLinkW(wide(second).c_str(), wide(path).c_str(), nullptr));
    write("new");
    EXPECT_EQ(read_file(path), "new");
    EXPECT_EQ(read_file(second), "new") << "a rename would have cut the second name off";
    EXPECT_TRUE(receiver.lines.empty());
    DeleteFileW(wide(second).c_str());
}

TEST_F(OutputWriter, RunningOutOfMemoryLeavesTheClipboardAsItWas)
{
    output_targets.set_word(output_target_word::save_to_file, 0);
    output_targets.set_word(output_target_word::copy_to_clipboard, 1);
    const utf8_string text("caf\xC3\xA9");
    EXPECT_GE(sweep_heap_requests([&] { put_on_clipboard(wide(sentinel)); }, [&] { queue_output(text); },
                                  [&] { EXPECT_EQ(clipboard_text(), wide(sentinel)); }),
              1u);
    EXPECT_EQ(clipboard_text(), L"caf\u00E9");
}

} // namespace
} // namespace velmora
