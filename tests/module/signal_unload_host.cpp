#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

// A host process with an abort handler of its own: it loads velmora.dll, which puts its crash handlers in the C
// runtime's table, unloads it, and raises the abort signal. Exit code 0 when the host's handler ran; a jump into
// the unloaded module shows as a crash. With "replaced", the host sets its handler again while the module is
// loaded, and it must still be the host's after the unload.

namespace {

void host_abort_handler(int)
{
    std::printf("the host's handler ran\n");
    std::fflush(stdout);
    std::_Exit(0);
}

int fail(const char* why)
{
    std::printf("%s\n", why);
    return 3;
}

} // namespace

int main(int argument_count, char** arguments)
{
    const std::string mode = argument_count > 1 ? arguments[1] : "";
    if (mode != "kept" && mode != "replaced")
        return fail("usage: signal_unload_host kept|replaced");
    std::signal(SIGABRT, host_abort_handler);
    const HMODULE module = LoadLibraryW(L"velmora.dll");
    if (module == nullptr)
        return fail("velmora.dll did not load");
    const auto installed = std::signal(SIGABRT, host_abort_handler);
    if (installed == host_abort_handler)
        return fail("velmora.dll installed no abort handler");
    if (mode == "kept")
        std::signal(SIGABRT, installed);
    FreeLibrary(module);
    if (GetModuleHandleW(L"velmora.dll") != nullptr)
        return fail("velmora.dll stayed loaded");
    std::raise(SIGABRT);
    return fail("the abort signal returned");
}
