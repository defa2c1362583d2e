#pragma once

#include <new>

#include <windows.h>

#include "win32/kernel_handle.h"

namespace velmora {

namespace thread_start_detail {

// What the starter and the new thread share until both have let go of it: the starter may stop waiting first.
struct start_record {
    LPTHREAD_START_ROUTINE procedure;
    void* argument;
    kernel_handle begun;
    LONG holders = 2;
};

inline void let_go(start_record* record) noexcept
{
    if (InterlockedDecrement(&record->holders) == 0)
        delete record;
}

inline DWORD WINAPI begin(void* argument) noexcept
{
    auto* record = static_cast<start_record*>(argument);
    const LPTHREAD_START_ROUTINE procedure = record->procedure;
    void* const procedure_argument = record->argument;
    SetEvent(record->begun.get());
    let_go(record);
    return procedure(procedure_argument);
}

} // namespace thread_start_detail

// How long a start waits for the new thread to run: it takes milliseconds unless the system is starved.
inline constexpr DWORD thread_start_limit_ms = 1000;

// CreateThread, returning once the new thread runs its own code (or has ended, or the limit passed), so that our
// threads start one at a time. Under the emulated 32-bit Wine of some build machines, a thread that starts while
// another of ours is still starting can bring the process down; Windows has no such fault, and the wait costs a
// start a few milliseconds. Never call it under the loader lock: the new thread could not run until it is let go.
inline HANDLE start_thread(LPTHREAD_START_ROUTINE procedure, void* argument) noexcept
{
    using thread_start_detail::start_record;
    auto* record = new (std::nothrow) start_record{procedure, argument, kernel_handle(), 2};
    if (record == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    record->begun = kernel_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!record->begun.valid()) {
        const DWORD error = GetLastError();
        delete record;
        SetLastError(error);
        return nullptr;
    }
    const HANDLE thread = CreateThread(nullptr, 0, thread_start_detail::begin, record, 0, nullptr);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        delete record;
        SetLastError(error);
        return nullptr;
    }
    const HANDLE either[] = {record->begun.get(), thread};
    WaitForMultipleObjects(2, either, FALSE, thread_start_limit_ms);
    thread_start_detail::let_go(record);
    return thread;
}

} // namespace velmora
