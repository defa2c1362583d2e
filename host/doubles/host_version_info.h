#pragma once

#include <string>

#include "host/doubles/counted.h"

namespace stand_in {

class host_version_info final : public counted<kestrune::host_version_info> {
public:
    host_version_info(reference_audit& audit, std::string version)
        : counted(audit, kestrune::host_version_info_guid, "host version info"), version_(std::move(version))
    {}

    const char* __thiscall host_version() override { return version_.c_str(); }

private:
    std::string version_;
};

} // namespace stand_in
