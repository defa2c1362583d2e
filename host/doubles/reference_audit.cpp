#include "host/doubles/reference_audit.h"

#include <algorithm>

namespace stand_in {

std::string reference_audit::findings() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::string report;
    for (const audited_object* object : objects_) {
        if (object->released_below_host_reference())
            report += object->audit_name() + ": released more often than referenced\n";
        else if (object->references() > 1)
            report +=
                object->audit_name() + ": " + std::to_string(object->references() - 1) + " reference(s) still held\n";
    }
    return report;
}

void reference_audit::enroll(const audited_object* object)
{
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.push_back(object);
}

void reference_audit::withdraw(const audited_object* object)
{
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.erase(std::remove(objects_.begin(), objects_.end(), object), objects_.end());
}

audited_object::audited_object(reference_audit& audit, std::string name) : audit_(audit), name_(std::move(name))
{
    audit_.enroll(this);
}

audited_object::~audited_object()
{
    audit_.withdraw(this);
}

} // namespace stand_in
