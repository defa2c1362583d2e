#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <windows.h>

#include "host/main_thread_callback_manager.h"
#include "host/playback_services.h"
#include "host/service_registry.h"

// A host process that loads the scheduler probe, arms its worker and then unloads it or exits.
// Exit code 0 when the module behaved; a hang or crash shows to the test that starts this process.

namespace {

using arm_function = void(__cdecl*)(kestrune::service_registry*, const char*, unsigned);
using shutdown_function = void(__cdecl*)();

void pump_messages_for(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
}

std::string file_text(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
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
        return fail("usage: scheduler_unload_host unload-armed|shutdown-then-unload|exit-armed OUTPUT");
    const std::string mode = arguments[1];
    const char* output = arguments[2];
    DeleteFileA(output);

    stand_in::reference_audit audit;
    stand_in::service_registry registry;
    stand_in::playback_control control(audit);
    stand_in::title_format_compiler compiler(audit);
    stand_in::track_handle_factory factory(audit);
    stand_in::main_thread_callback_manager callbacks(audit);
    registry.add(kestrune::playback_control_guid, control);
    registry.add(kestrune::title_format_compiler_guid, compiler);
    registry.add(kestrune::track_handle_factory_guid, factory);
    registry.add(kestrune::main_thread_callback_manager_guid, callbacks);

    HMODULE probe = LoadLibraryW(L"scheduler_probe.dll");
    if (probe == nullptr)
        return fail("scheduler_probe.dll did not load");
    const auto arm = reinterpret_cast<arm_function>(reinterpret_cast<void*>(GetProcAddress(probe, "probe_arm")));
    const auto shutdown =
        reinterpret_cast<shutdown_function>(reinterpret_cast<void*>(GetProcAddress(probe, "probe_shutdown")));
    arm(&registry, output, 100);
    pump_messages_for(450);
    if (file_text(output).empty())
        return fail("the armed worker wrote nothing");

    if (mode == "exit-armed")
        return 0;
    if (mode == "shutdown-then-unload") {
        shutdown();
        FreeLibrary(probe);
        if (GetModuleHandleW(L"scheduler_probe.dll") != nullptr)
            return fail("the module stayed loaded after shut-down and unload");
        pump_messages_for(500);
        if (file_text(output) != "not running")
            return fail("something was written after the exit text");
        return 0;
    }
    if (mode == "unload-armed") {
        FreeLibrary(probe);
        pump_messages_for(500);
        std::printf("module %s loaded while its worker runs\n",
                    GetModuleHandleW(L"scheduler_probe.dll") != nullptr ? "stays" : "is not");
        return 0;
    }
    return fail("unknown mode");
}
