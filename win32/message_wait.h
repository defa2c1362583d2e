#pragma once

#include <windows.h>

namespace velmora {

// Waits for the object for limit_ms at most, answering the messages other threads send to this thread's windows
// meanwhile, so that a program that sends one (asking the clipboard's owner, say) is not held up by the wait. Posted
// messages wait for the thread's own loop. True once the object is signalled.
inline bool wait_answering_sent_messages(HANDLE object, DWORD limit_ms) noexcept
{
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        const DWORD result =
            MsgWaitForMultipleObjects(1, &object, FALSE, elapsed < limit_ms ? limit_ms - elapsed : 0, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result != WAIT_OBJECT_0 + 1)
            return false;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace velmora
