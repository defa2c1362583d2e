#pragma once

#include <cstdint>

#include "boundary/host_boundary.h"
#include "text/utf8_string.h"

namespace velmora {

// A location the host reads while it makes a track handle. The component leaves it empty: no path, subsong 0.
class track_location final : public kestrune::track_location {
public:
    const char* __thiscall get_path() override { return path_.c_str(); }
    void __thiscall set_path(const char* path) override { path_.assign(path); }
    std::uint32_t __thiscall get_subsong() override { return subsong_; }
    void __thiscall set_subsong(std::uint32_t index) override { subsong_ = index; }

private:
    utf8_string path_;
    std::uint32_t subsong_ = 0;
};

} // namespace velmora
