#pragma once

#include <cstring>
#include <string>

#include "boundary/host_boundary.h"
#include "host/doubles/reference_audit.h"

namespace stand_in {

// Fills an out reference as every host operation does: a new reference in, the old one released.
template <typename object_type> void hand_out(object_type** out, object_type* object)
{
    object->add_ref();
    if (*out != nullptr)
        (*out)->release();
    *out = object;
}

// A host object of the given interface whose references the audit counts. The interface comes first, so the
// object's address is the interface's.
template <typename interface_type> class counted : public interface_type, public audited_object {
public:
    counted(reference_audit& audit, const GUID& class_guid, std::string name)
        : audited_object(audit, std::move(name)), class_guid_(class_guid)
    {}

    std::int32_t __thiscall release() override { return drop_reference(); }
    std::int32_t __thiscall add_ref() override { return add_reference(); }

    bool __thiscall query_by_guid(kestrune::service_object** out, const GUID& guid) override
    {
        if (std::memcmp(&guid, &class_guid_, sizeof guid) != 0)
            return false;
        hand_out<kestrune::service_object>(out, this);
        return true;
    }

private:
    GUID class_guid_;
};

} // namespace stand_in
