#include "boundary/host_services.h"

#include <cstdint>

#include "boundary/host_exceptions.h"

namespace velmora {

namespace {
kestrune::service_registry* host_registry = nullptr;
std::uint8_t services_ready_flag = 0;
} // namespace

void set_service_registry(kestrune::service_registry* registry) noexcept
{
    host_registry = registry;
}

kestrune::service_registry* service_registry() noexcept
{
    return host_registry;
}

void set_services_ready_flag(std::uint8_t flag) noexcept
{
    services_ready_flag = flag;
}

std::uint8_t services_ready() noexcept
{
    return services_ready_flag;
}

service_ptr<kestrune::service_object> lookup_service(const GUID& guid)
{
    if (host_registry == nullptr)
        throw exception_service_not_found();
    const std::uint32_t class_handle = host_registry->find_class(guid);
    const std::uint32_t count = host_registry->count_instances(class_handle);
    if (count == 0)
        throw exception_service_not_found();
    if (count > 1)
        throw exception_service_duplicated();
    service_ptr<kestrune::service_object> service;
    host_registry->create_instance(service.out_service(), class_handle, 0);
    if (!service)
        throw exception_service_not_found();
    return service;
}

void enumerate_services(const GUID& guid, const std::function<void(kestrune::service_object&)>& visitor)
{
    if (host_registry == nullptr)
        return;
    const std::uint32_t class_handle = host_registry->find_class(guid);
    for (std::uint32_t index = 0;; ++index) {
        service_ptr<kestrune::service_object> service;
        if (!host_registry->create_instance(service.out_service(), class_handle, index) || !service)
            return;
        visitor(*service);
    }
}

void send_to_message_receivers(const char* text)
{
    if (services_ready_flag == 0)
        return;
    enumerate_services(kestrune::message_receiver_guid, [text](kestrune::service_object& service) {
        static_cast<kestrune::message_receiver&>(service).print(text, SIZE_MAX);
    });
}

} // namespace velmora
