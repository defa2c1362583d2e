#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <windows.h>

#include "host/doubles/message_pump.h"
#include "host/doubles/player_services.h"

// A host process that loads the scheduler probe, arms its worker and then unloads it or exits, some ways with a
// callback of the module's still in the host's queue, run after the unload. Exit code 0 when the module behaved;
// a hang or crash shows to the test that starts this process.

namespace {

using stand_in::pump_messages_for;

using arm_function = void(__cdecl*)(kestrune::service_registry*, const char*, unsigned);
using plain_function = void(__cdecl*)();

std::string file_text(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Whether this process has a message-only window of the class: other test programs have theirs.
bool own_message_window(const wchar_t* window_class)
{
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, window_class, nullptr); window != nullptr;
         window = FindWindowExW(HWND_MESSAGE, window, window_class, nullptr)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId())
            return true;
    }
    return false;
}

int fail(const char* why)
{
    std::printf("%s\n", why);
    return 3;
}

} // namespace

int main(int argument_count, char** arguments)
{
    if (argument_count != 3)
        return fail("usage: scheduler_unload_host unload-armed|shutdown-then-unload|withdraw-then-unload|"
                    "withdraw-idle-unload|exit-armed|outcome-posted-shutdown-unload OUTPUT");
    const std::string mode = arguments[1];
    const char* output = arguments[2];
    DeleteFileA(output);

    stand_in::reference_audit audit;
    stand_in::player_services host(audit);

    HMODULE probe = LoadLibraryW(L"scheduler_probe.dll");
    if (probe == nullptr)
        return fail("scheduler_probe.dll did not load");
    const auto arm = reinterpret_cast<arm_function>(reinterpret_cast<void*>(GetProcAddress(probe, "probe_arm")));
    const auto shutdown =
        reinterpret_cast<plain_function>(reinterpret_cast<void*>(GetProcAddress(probe, "probe_shutdown")));
    const auto withdraw =
        reinterpret_cast<plain_function>(reinterpret_cast<void*>(GetProcAddress(probe, "probe_withdraw")));
    if (mode == "outcome-posted-shutdown-unload") {
        // The output thread writes and posts the clipboard's outcome to the module's window; nothing is pumped
        // before the shut-down and the unload, and the host's loop then dispatches what is queued.
        const auto write = reinterpret_cast<void(__cdecl*)(kestrune::service_registry*, const char*)>(
            reinterpret_cast<void*>(GetProcAddress(probe, "probe_write_and_copy")));
        write(&host.registry, output);
        Sleep(500);
        shutdown();
        if (own_message_window(L"Velmora output delivery"))
            return fail("the delivery window outlived the shut-down");
        FreeLibrary(probe);
        pump_messages_for(500);
        return 0;
    }
    arm(&host.registry, output, 100);
    pump_messages_for(450);
    if (file_text(output).empty())
        return fail("the armed worker wrote nothing");

    if (mode == "exit-armed")
        return 0;
    // The worker's next elapse queues a write that the host does not run before the unload.
    Sleep(300);
    const unsigned held = host.callbacks.queued() - host.callbacks.runs();
    if (mode == "shutdown-then-unload" || mode == "withdraw-then-unload") {
        if (held == 0)
            return fail("no callback was held");
        if (mode == "shutdown-then-unload")
            shutdown();
        else
            withdraw();
        const std::string at_unload = file_text(output);
        FreeLibrary(probe);
        // The host's own handlers: its queue, with the module's callback in it, and its message loop.
        host.callbacks.run_pending();
        pump_messages_for(500);
        if (file_text(output) != at_unload)
            return fail("something was written after the unload");
        if (mode == "shutdown-then-unload" && at_unload != "not running")
            return fail("the exit text did not land before on_shutdown returned");
        return 0;
    }
    if (mode == "withdraw-idle-unload") {
        host.callbacks.run_pending();
        withdraw();
        FreeLibrary(probe);
        // With nothing held, the module goes once its threads have ended.
        const DWORD start = GetTickCount();
        while (GetModuleHandleW(L"scheduler_probe.dll") != nullptr && GetTickCount() - start < 5000)
            pump_messages_for(10);
        if (GetModuleHandleW(L"scheduler_probe.dll") != nullptr)
            return fail("the module stayed loaded: its threads did not end with the flag off");
        return 0;
    }
    if (mode == "unload-armed") {
        // The worker's own reference keeps the module's code under it until the worker ends.
        FreeLibrary(probe);
        pump_messages_for(500);
        if (GetModuleHandleW(L"scheduler_probe.dll") == nullptr)
            return fail("the module was unloaded while its worker runs");
        return 0;
    }
    return fail("unknown mode");
}
