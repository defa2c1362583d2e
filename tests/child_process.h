#pragma once

#include <string>

#include <windows.h>

namespace velmora_tests {

// The folder of the running test program, with its trailing backslash; the helper programs are built beside it.
inline std::wstring folder_of_this_program()
{
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// A program of this folder, started in this folder with both its output streams going to the given inheritable
// handle. One still running when this goes is ended, so that a failed test leaves no process behind.
class started_program {
public:
    started_program(const std::wstring& program, const std::wstring& arguments, HANDLE output)
    {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        const std::wstring folder = folder_of_this_program();
        std::wstring command = L"\"" + folder + program + L"\" " + arguments;
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                            &process_))
            process_ = PROCESS_INFORMATION{};
    }
    started_program(const started_program&) = delete;
    started_program& operator=(const started_program&) = delete;
    ~started_program()
    {
        if (!started())
            return;
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 99);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    bool started() const noexcept { return process_.hProcess != nullptr; }
    bool ended() const noexcept { return started() && WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }

    // The exit code once the program has ended within the limit; 99 when it has not (it is then ended) or never
    // started.
    DWORD wait(DWORD milliseconds)
    {
        DWORD exit_code = 99;
        if (started() && WaitForSingleObject(process_.hProcess, milliseconds) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_.hProcess, &exit_code);
        return exit_code;
    }

private:
    PROCESS_INFORMATION process_{};
};

struct run_result {
    DWORD exit_code = 99;
    std::string output;
};

// Runs a program of this folder with the arguments and collects what it prints, both streams together. A program
// still running after 90 seconds is ended and gives exit code 99.
inline run_result run_program(const std::wstring& program, const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE reader = nullptr, writer = nullptr;
    run_result result;
    if (!CreatePipe(&reader, &writer, &inheritable, 0))
        return result;
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    started_program running(program, arguments, writer);
    CloseHandle(writer);
    // Reads until the program has ended and the pipe holds nothing more, or every writer has closed it, or the limit
    // has passed: a hung program fails the test in minutes rather than hanging it. A process that Wine starts for
    // the program (the desktop) inherits the pipe and outlives it, so the pipe's end is not waited for.
    const DWORD start = GetTickCount();
    char buffer[4096];
    DWORD available = 0;
    for (;;) {
        // Asked before the pipe is: what the program wrote before it ended is in the pipe then.
        const bool ended = running.ended();
        if (!running.started() || GetTickCount() - start >= 90000 ||
            !PeekNamedPipe(reader, nullptr, 0, nullptr, &available, nullptr) || (available == 0 && ended))
            break;
        DWORD got = 0;
        if (available == 0)
            Sleep(10);
        else if (ReadFile(reader, buffer, sizeof buffer, &got, nullptr))
            result.output.append(buffer, got);
    }
    CloseHandle(reader);
    result.exit_code = running.wait(0);
    return result;
}

} // namespace velmora_tests
