#include <cstdio>
#include <string>

#include <windows.h>

#include "tests/output/published_text.h"

// A reader in a process of its own: sets the ready event once it has read the file, polls it by path until the stop
// event is set, then writes its counts to the result file as one line of numbers. Exit code 0 when it ran.

int wmain(int argument_count, wchar_t** arguments)
{
    if (argument_count != 5) {
        std::printf("usage: file_poller FILE READY-EVENT STOP-EVENT RESULT-FILE\n");
        return 2;
    }
    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, arguments[2]);
    const HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, arguments[3]);
    if (ready == nullptr || stop == nullptr) {
        std::printf("no events %ls, %ls\n", arguments[2], arguments[3]);
        return 3;
    }
    std::string first;
    while (!published_text::read_by_path(arguments[1], first) && WaitForSingleObject(stop, 1) == WAIT_TIMEOUT) {
    }
    SetEvent(ready);
    CloseHandle(ready);
    const published_text::poll_counts counts = published_text::poll_until(arguments[1], stop);
    CloseHandle(stop);
    FILE* result = _wfopen(arguments[4], L"w");
    if (result == nullptr)
        return 4;
    std::fprintf(result, "%lu %lu %lu %lu %lu %lu\n", counts.reads, counts.failed_opens, counts.empty,
                 counts.header_only, counts.torn, counts.older);
    std::fclose(result);
    return 0;
}
