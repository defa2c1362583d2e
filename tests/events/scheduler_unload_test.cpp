#include <string>

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/child_process.h"

namespace {

// Runs the unload host in a process of its own; a hang ends it with exit code 99.
velmora_tests::run_result run_unload_host(const std::wstring& mode)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return velmora_tests::run_program(L"scheduler_unload_host.exe",
                                      mode + L" \"" + temp + L"velmora-unload-" + mode + L".txt\"");
}

// Each in a host process of its own: unloaded armed; shut down or withdrawn with a callback still queued, which the
// host runs after FreeLibrary; withdrawn with nothing held, where the module must go once its threads end; exit;
// shut down and unloaded with the clipboard's outcome posted to the module's window, pumped after FreeLibrary.
TEST(SchedulerUnload, AnArmedWorkerSurvivesUnloadShutDownAndProcessExit)
{
    for (const wchar_t* mode : {L"unload-armed", L"shutdown-then-unload", L"withdraw-then-unload",
                                L"withdraw-idle-unload", L"exit-armed", L"outcome-posted-shutdown-unload"}) {
        const velmora_tests::run_result run = run_unload_host(mode);
        EXPECT_EQ(run.exit_code, 0u) << mode << ": " << run.output;
    }
}

} // namespace
