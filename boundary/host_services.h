#pragma once

#include <cstdint>
#include <functional>

#include "boundary/host_boundary.h"
#include "boundary/service_ptr.h"

namespace velmora {

// Records the host's registry (null until the host calls the entry); no host call is made without one.
void set_service_registry(kestrune::service_registry* registry) noexcept;
kestrune::service_registry* service_registry() noexcept;

// While 0, send_to_message_receivers asks the host nothing.
void set_services_ready_flag(std::uint8_t flag) noexcept;
std::uint8_t services_ready() noexcept;

// The one service registered under guid, asked afresh each time. Throws exception_service_not_found for none and
// exception_service_duplicated for more than one.
service_ptr<kestrune::service_object> lookup_service(const GUID& guid);

// The same, as the interface the GUID stands for.
template <typename service_type> service_ptr<service_type> lookup_service(const GUID& guid)
{
    service_ptr<kestrune::service_object> service = lookup_service(guid);
    return service_ptr<service_type>::adopt(static_cast<service_type*>(service.detach()));
}

// Hands each service of the class to the visitor, in index order, until the registry has no more.
void enumerate_services(const GUID& guid, const std::function<void(kestrune::service_object&)>& visitor);

// Prints the zero-terminated line on every message receiver, once the services are ready.
void send_to_message_receivers(const char* text);

} // namespace velmora
