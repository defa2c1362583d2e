#pragma once

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/output/published_text.h"

namespace velmora {

// The folder of a file system that ctest mounts for the run (a 16 KB tmpfs, the slow FUSE one), as Wine names it;
// empty with the reason when there is none.
inline std::wstring mounted_folder(const char* variable, std::string& reason)
{
    const char* folder = std::getenv(variable);
    if (folder == nullptr || *folder == '\0') {
        reason = std::string(variable) + " is not set: ctest mounts the file system for output_tests and sets it";
        return {};
    }
    std::wstring name = L"Z:" + published_text::to_wide(folder);
    std::replace(name.begin(), name.end(), L'/', L'\\');
    std::ifstream why((name + L".reason").c_str(), std::ios::binary);
    reason.assign(std::istreambuf_iterator<char>(why), {});
    return reason.empty() ? name : std::wstring();
}

} // namespace velmora
