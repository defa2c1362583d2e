#pragma once

#include <string>

#include <windows.h>

namespace velmora {

// The clipboard's Unicode text as a program reads it, or a note in its place saying why there is none.
inline std::wstring clipboard_text()
{
    if (!OpenClipboard(nullptr))
        return L"(clipboard not opened)";
    std::wstring text = L"(no Unicode text)";
    if (HANDLE block = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(block));
        GlobalUnlock(block);
    }
    CloseClipboard();
    return text;
}

} // namespace velmora
