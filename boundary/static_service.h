#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include "boundary/host_boundary.h"
#include "boundary/service_ptr.h"

namespace velmora {

// A module-wide service object: its reference operations do nothing and answer 1, and it answers only its own
// class GUID. It adds no data, so a derived object's layout is the interface's.
template <typename interface_type, const GUID& class_guid> class static_service : public interface_type {
public:
    std::int32_t __thiscall release() override { return 1; }
    std::int32_t __thiscall add_ref() override { return 1; }

    bool __thiscall query_by_guid(kestrune::service_object** out, const GUID& guid) override
    {
        if (std::memcmp(&guid, &class_guid, sizeof guid) != 0)
            return false;
        // The slot's earlier reference is released, as the out-reference rule asks.
        service_ptr<kestrune::service_object>::adopt(std::exchange(*out, this));
        return true;
    }

protected:
    static_service() = default;
    ~static_service() = default;
};

} // namespace velmora
