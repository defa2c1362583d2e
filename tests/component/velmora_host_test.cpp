#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

namespace {

struct run_result {
    DWORD exit_code = 99;
    std::string output;
};

std::wstring folder_of_this_program()
{
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// Runs velmora-host.exe with the arguments and collects what it prints, both streams together.
run_result run_host(const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE reader = nullptr, writer = nullptr;
    CreatePipe(&reader, &writer, &inheritable, 0);
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer;
    startup.hStdError = writer;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + folder_of_this_program() + L"velmora-host.exe\" " + arguments;
    run_result result;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(reader);
        CloseHandle(writer);
        return result;
    }
    CloseHandle(writer);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader, buffer, sizeof buffer, &got, nullptr) && got > 0)
        result.output.append(buffer, got);
    WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &result.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(reader);
    return result;
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
    const run_result run = run_host(common + L" --set output_encoding=0 --set exit_text=gone");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    std::vector<std::string> expected = {"start-up",  "stopped",
                                         "new track", "playing: Ana - Tune",
                                         "pause",     "paused: Ana - Tune",
                                         "resume",    "playing: Ana - Tune",
                                         "stop",      "stopped",
                                         "shut-down", "gone"};
    std::size_t position = 0;
    for (const std::string& piece : expected) {
        const std::size_t found = run.output.find(piece, position);
        ASSERT_NE(found, std::string::npos) << "\"" << piece << "\" in order in:\n" << run.output;
        position = found + piece.size();
    }
    std::ifstream file(output, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "gone");

    // The settings the run set were saved in the host's configuration and are there for the next run.
    const run_result again = run_host(common);
    EXPECT_EQ(again.exit_code, 0u) << again.output;
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
          L"--set delay_ms=soon" + valid_playlist}) {
        const run_result run = run_host(arguments);
        EXPECT_NE(run.exit_code, 0u) << run.output;
        EXPECT_EQ(run.output.rfind("velmora-host: ", 0), 0u) << run.output;
    }
}

} // namespace
