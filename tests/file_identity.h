#pragma once

#include <string>

#include <windows.h>
#include <winternl.h>

namespace velmora {

// The file's identity: a rename brings a new one, a write in place keeps it. Asked of the file system directly, since
// GetFileInformationByHandle also asks Wine's mount manager for the volume, which can stall for good while other
// threads keep the server busy.
inline unsigned long long file_identity(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    constexpr auto file_internal_information = static_cast<FILE_INFORMATION_CLASS>(6);
    IO_STATUS_BLOCK status{};
    LARGE_INTEGER index{};
    const bool known = NtQueryInformationFile(file, &status, &index, sizeof index, file_internal_information) >= 0;
    CloseHandle(file);
    return known ? static_cast<unsigned long long>(index.QuadPart) : 0;
}

} // namespace velmora
