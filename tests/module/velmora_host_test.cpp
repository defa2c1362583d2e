#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/child_process.h"
#include "tests/output/published_text.h"

namespace {

using velmora_tests::folder_of_this_program;
using velmora_tests::run_result;

// Runs velmora-host.exe with the arguments and collects what it prints, both streams together.
run_result run_host(const std::wstring& arguments)
{
    return velmora_tests::run_program(L"velmora-host.exe", arguments);
}

std::wstring wide_of(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string temp_path(const char* name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

TEST(VelmoraHost, PlaysAPlaylistAndPrintsEachWriteThenTheExitText)
{
    const std::string playlist = temp_path("velmora-host-test.txt");
    std::ofstream(playlist) << "# a short one\ntrack Ana / Tune\nplay 1\npause 1\nstop\n";
    const std::string output = temp_path("velmora-host-output.txt");
    const std::string config = temp_path("velmora-host-config.bin");
    DeleteFileA(config.c_str());
    const std::wstring common = L"--speed 8 --playlist \"" + std::wstring(playlist.begin(), playlist.end()) +
                                L"\" --output \"" + std::wstring(output.begin(), output.end()) + L"\" --config \"" +
                                std::wstring(config.begin(), config.end()) + L"\"";
    const std::string title = temp_path("velmora-host-title.txt");
    const run_result run =
        run_host(common + L" --set output_encoding=0 --set exit_text=gone --set \"2.output_path=" +
                 std::wstring(title.begin(), title.end()) +
                 L"\" --set 2.now_playing_script=%title% --set 2.exit_text= --set 2.output_encoding=0");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    std::vector<std::string> expected = {"start-up",
                                         "stopped",
                                         "new track",
                                         "1: playing: Ana - Tune",
                                         "2: Tune",
                                         "pause",
                                         "paused: Ana - Tune",
                                         "resume",
                                         "playing: Ana - Tune",
                                         "stop",
                                         "stopped",
                                         "shut-down",
                                         "gone"};
    std::size_t position = 0;
    for (const std::string& piece : expected) {
        const std::size_t found = run.output.find(piece, position);
        ASSERT_NE(found, std::string::npos) << "\"" << piece << "\" in order in:\n" << run.output;
        position = found + piece.size();
    }
    std::ifstream file(output, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "gone");

    std::ifstream title_file(title, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(title_file), {}), "") << "output 2's exit text is empty";
    title_file.close();

    // The settings the run set, the added output's too, were saved in the host's configuration and are there for
    // the next run.
    DeleteFileA(title.c_str());
    const run_result again = run_host(common);
    EXPECT_EQ(again.exit_code, 0u) << again.output;
    EXPECT_NE(again.output.find("2: Tune"), std::string::npos) << again.output;
    std::ifstream second(output, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(second), {}), "gone");
}

TEST(VelmoraHost, BadInputGetsOneLineAndAFailingExit)
{
    const std::string broken = temp_path("velmora-host-broken.txt");
    std::ofstream(broken) << "track no separator\n";
    const std::string valid = temp_path("velmora-host-valid.txt");
    std::ofstream(valid) << "stop\n";
    const std::wstring valid_playlist = L" --playlist \"" + std::wstring(valid.begin(), valid.end()) + L"\"";
    for (const std::wstring& arguments :
         {std::wstring(L"--playlist nosuch-playlist.txt"),
          L"--playlist \"" + std::wstring(broken.begin(), broken.end()) + L"\"", std::wstring(L"--speed fast"),
          L"--dll nosuch.dll" + valid_playlist, L"--set no_such_setting=1" + valid_playlist,
          L"--set 17.output_path=x" + valid_playlist, L"--set 2.output_encoding=9" + valid_playlist}) {
        const run_result run = run_host(arguments);
        EXPECT_NE(run.exit_code, 0u) << run.output;
        EXPECT_EQ(run.output.rfind("velmora-host: ", 0), 0u) << run.output;
    }
}

// The script and the exit text reach the settings exactly as typed, whatever the code page, and every printed line
// shows the text decoded, in all four encodings.
TEST(VelmoraHost, TakesUnicodeArgumentsAndPrintsEveryEncodingDecoded)
{
    ASSERT_EQ(GetACP(), 1252u) << "the test environment pins the ANSI code page to 1252";
    const std::string playlist = temp_path("velmora-host-unicode.txt");
    std::ofstream(playlist) << "track Ana / Tune\nplay 1\n";
    const std::string output = temp_path("velmora-host-unicode-output.txt");
    const std::string expected_line = "Ana \xE2\x80\x94 Tune \xC3\xA9";
    const std::string expected_bytes[] = {"Ana \xE2\x80\x94 Tune \xC3\xA9",
                                          "\xEF\xBB\xBF"
                                          "Ana \xE2\x80\x94 Tune \xC3\xA9",
                                          std::string("\xFF\xFE"
                                                      "A\0n\0a\0 \0\x14\x20 \0T\0u\0n\0e\0 \0\xE9\0",
                                                      26),
                                          "Ana \x97 Tune \xE9"};
    // One run, output N + 1 in encoding N.
    std::wstring arguments =
        L"--speed 50 --playlist \"" + wide_of(playlist) + L"\" --output \"" + wide_of(output) + L"\"";
    for (int encoding = 0; encoding < 4; ++encoding) {
        const std::wstring prefix = encoding == 0 ? L"" : std::to_wstring(encoding + 1) + L".";
        arguments += L" --set \"" + prefix + L"now_playing_script=%artist% \u2014 %title% \u00E9\" --set \"" + prefix +
                     L"exit_text=Ana \u2014 Tune \u00E9\" --set " + prefix + L"output_encoding=" +
                     std::to_wstring(encoding);
        if (encoding != 0)
            arguments += L" --set \"" + prefix + L"output_path=" + wide_of(output) + std::to_wstring(encoding) + L"\"";
    }
    const run_result run = run_host(arguments);
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    const std::size_t track = run.output.find("new track");
    ASSERT_NE(track, std::string::npos) << run.output;
    for (int encoding = 0; encoding < 4; ++encoding) {
        const std::string line = std::to_string(encoding + 1) + ": " + expected_line;
        const std::size_t found = run.output.find(line, track);
        ASSERT_NE(found, std::string::npos) << "encoding " << encoding << ":\n" << run.output;
        EXPECT_NE(std::string("\r\n").find(run.output[found + line.size()]), std::string::npos) << "the whole line";
        std::ifstream file(encoding == 0 ? output : output + std::to_string(encoding), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), expected_bytes[encoding])
            << "encoding " << encoding;
    }
}

// With --prefs the playlist plays while the page is open, and closing the host's window ends the run with the
// exit text.
TEST(VelmoraHost, PrefsPlaysThePlaylistUntilTheWindowCloses)
{
    const std::string playlist = temp_path("velmora-host-prefs.txt");
    std::ofstream(playlist) << "track Ana / Tune\nplay 2\n";
    const std::string output = temp_path("velmora-host-prefs-output.txt");
    DeleteFileA(output.c_str());
    const std::wstring log = wide_of(temp_path("velmora-host-prefs-log.txt"));
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE log_file = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(log_file, INVALID_HANDLE_VALUE);
    velmora_tests::started_program host(L"velmora-host.exe",
                                        L"--prefs --speed 10 --playlist \"" + wide_of(playlist) + L"\" --output \"" +
                                            wide_of(output) + L"\" --set output_encoding=0",
                                        log_file);
    CloseHandle(log_file);
    ASSERT_TRUE(host.started());

    // Read as a well-behaved reader does, sharing deletion, so that the component can still replace the file in one
    // step; a reader that holds it would make it write in place, and this one could then catch it empty.
    const auto content = [&output] {
        const HANDLE file =
            CreateFileW(wide_of(output).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return std::string();
        const std::string bytes = published_text::read_all(file);
        CloseHandle(file);
        return bytes;
    };
    HWND window = nullptr;
    const DWORD start = GetTickCount();
    while ((window == nullptr || content() != "playing: Ana - Tune") && GetTickCount() - start < 60000) {
        Sleep(50);
        window = FindWindowW(L"velmora_host_preferences", nullptr);
    }
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(content(), "playing: Ana - Tune");
    PostMessageW(window, WM_CLOSE, 0, 0);
    const DWORD exit_code = host.wait(60000);
    std::ifstream printed(log.c_str(), std::ios::binary);
    const std::string lines(std::istreambuf_iterator<char>(printed), {});
    EXPECT_EQ(exit_code, 0u) << lines;
    EXPECT_EQ(content(), "not running") << lines;
    EXPECT_NE(lines.find("new track        playing: Ana - Tune"), std::string::npos) << lines;
}

} // namespace
