#pragma once

#include "host/doubles/main_thread_callback_manager.h"
#include "host/doubles/playback_services.h"
#include "host/doubles/service_registry.h"

namespace stand_in {

// The host services the component looks up while it formats and writes, each registered once in one registry.
struct player_services {
    explicit player_services(reference_audit& audit) : control(audit), compiler(audit), factory(audit), callbacks(audit)
    {
        registry.add(kestrune::playback_control_guid, control);
        registry.add(kestrune::title_format_compiler_guid, compiler);
        registry.add(kestrune::track_handle_factory_guid, factory);
        registry.add(kestrune::main_thread_callback_manager_guid, callbacks);
    }

    service_registry registry;
    playback_control control;
    title_format_compiler compiler;
    track_handle_factory factory;
    main_thread_callback_manager callbacks;
};

} // namespace stand_in
