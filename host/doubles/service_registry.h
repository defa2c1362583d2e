#pragma once

#include <cstdint>
#include <vector>

#include "boundary/host_boundary.h"

namespace stand_in {

// Any number of services per GUID, found by class handles of the registry's own choosing. It holds no references:
// the services belong to whoever registered them and must outlive the registry's use.
class service_registry final : public kestrune::service_registry {
public:
    void add(const GUID& guid, kestrune::service_object& service);
    void clear() noexcept { classes_.clear(); }

    std::uint32_t __thiscall find_class(const GUID& guid) override;
    bool __thiscall create_instance(kestrune::service_object** out, std::uint32_t class_handle,
                                    std::uint32_t index) override;
    std::uint32_t __thiscall count_instances(std::uint32_t class_handle) override;

    // Host calls so far, for tests that check the component asked nothing.
    unsigned calls() const noexcept { return calls_; }

private:
    struct service_class {
        GUID guid;
        std::vector<kestrune::service_object*> services;
    };

    service_class* class_of(std::uint32_t class_handle) noexcept;

    std::vector<service_class> classes_;
    unsigned calls_ = 0;
};

} // namespace stand_in
