#pragma once

#include <algorithm>

#include <windows.h>

namespace stand_in {

// Runs this thread's message loop for a while, as a host's main thread does, so that posted messages and queued
// callbacks are handled. At least one pass is made, also for 0 milliseconds.
inline void pump_messages_for(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(10, milliseconds - elapsed), QS_ALLINPUT);
    }
}

} // namespace stand_in
