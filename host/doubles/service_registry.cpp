#include "host/doubles/service_registry.h"

#include <cstring>

#include "host/doubles/counted.h"
#include "host/doubles/formatting_clock.h"
#include "host/doubles/host_call_faults.h"

namespace stand_in {

namespace {
// Handles that are neither indexes nor small numbers, so a component that confuses them shows it.
constexpr std::uint32_t first_handle = 0x5EED0000;
constexpr std::uint32_t handle_step = 0x31;
} // namespace

void service_registry::add(const GUID& guid, kestrune::service_object& service)
{
    for (service_class& known : classes_) {
        if (std::memcmp(&known.guid, &guid, sizeof guid) == 0) {
            known.services.push_back(&service);
            return;
        }
    }
    classes_.push_back({guid, {&service}});
}

std::uint32_t service_registry::find_class(const GUID& guid)
{
    const formatting_clock::section timed;
    ++calls_;
    count_host_call("find_class");
    for (std::size_t index = 0; index < classes_.size(); ++index) {
        if (std::memcmp(&classes_[index].guid, &guid, sizeof guid) == 0)
            return first_handle + static_cast<std::uint32_t>(index) * handle_step;
    }
    return 0;
}

service_registry::service_class* service_registry::class_of(std::uint32_t class_handle) noexcept
{
    if (class_handle < first_handle || (class_handle - first_handle) % handle_step != 0)
        return nullptr;
    const std::size_t index = (class_handle - first_handle) / handle_step;
    return index < classes_.size() ? &classes_[index] : nullptr;
}

bool service_registry::create_instance(kestrune::service_object** out, std::uint32_t class_handle, std::uint32_t index)
{
    const formatting_clock::section timed;
    ++calls_;
    service_class* found = class_of(class_handle);
    if (found == nullptr || index >= found->services.size())
        return false;
    hand_out(out, found->services[index]);
    return true;
}

std::uint32_t service_registry::count_instances(std::uint32_t class_handle)
{
    const formatting_clock::section timed;
    ++calls_;
    count_host_call("count_instances");
    service_class* found = class_of(class_handle);
    return found != nullptr ? static_cast<std::uint32_t>(found->services.size()) : 0;
}

} // namespace stand_in
