#include <string>

#include <windows.h>

#include <gtest/gtest.h>

namespace {

// Runs the unload host in a process of its own; gives its exit code, or a note when it hung.
std::wstring run_unload_host(const wchar_t* mode, DWORD& exit_code)
{
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program);
    folder.resize(folder.find_last_of(L'\\') + 1);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring command =
        L"\"" + folder + L"scheduler_unload_host.exe\" " + mode + L" \"" + temp + L"velmora-unload-" + mode + L".txt\"";

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
        return L"did not start";
    const DWORD waited = WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &exit_code);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return waited == WAIT_OBJECT_0 ? L"" : L"hung";
}

TEST(SchedulerUnload, AnArmedWorkerSurvivesUnloadShutDownAndProcessExit)
{
    for (const wchar_t* mode : {L"unload-armed", L"shutdown-then-unload", L"exit-armed"}) {
        DWORD exit_code = 1;
        EXPECT_EQ(run_unload_host(mode, exit_code), L"") << mode;
        EXPECT_EQ(exit_code, 0u) << mode;
    }
}

} // namespace
