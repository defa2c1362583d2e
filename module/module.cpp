#include <csignal>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

#include <windows.h>

#include "boundary/host_services.h"
#include "boundary/service_ptr.h"
#include "events/init_quit_hook.h"
#include "events/playback_event_sink.h"
#include "module/component_services.h"
#include "settings/settings_store.h"

// The module's static objects, defined here in the order they come up (and go down in reverse): the service
// records push themselves onto the factory list, which therefore runs from the last record to the first.

namespace velmora {

namespace {

kestrune::service_factory* factory_list = nullptr;

// One record per component service: it owns the static service object and hands it out.
template <typename service_type> class service_record final : public kestrune::service_factory {
public:
    template <typename... arguments>
    explicit service_record(const GUID& class_guid_value, arguments&&... service_arguments)
        : service_(std::forward<arguments>(service_arguments)...)
    {
        class_guid = &class_guid_value;
        next = std::exchange(factory_list, this);
    }

    void __thiscall make_instance(kestrune::service_object** out) override
    {
        kestrune::service_object* service = &service_;
        service->add_ref();
        service_ptr<kestrune::service_object>::adopt(std::exchange(*out, service));
    }

    service_type& service() noexcept { return service_; }

private:
    service_type service_;
};

class module_entry final : public kestrune::module_interface {
public:
    std::uint32_t __thiscall interface_version() override { return 76; }
    kestrune::service_factory* __thiscall first_factory() override { return factory_list; }
    void __thiscall save_settings(kestrune::write_stream& stream, kestrune::abort_signal& abort) override
    {
        velmora::write_settings(stream, abort);
    }
    void __thiscall load_settings(kestrune::read_stream& stream, kestrune::abort_signal& abort) override
    {
        velmora::read_settings(stream, abort);
        // A configuration loaded while the host runs switches the overlay as the page would.
        try {
            velmora::apply_overlay_setting();
        } catch (...) {
        }
    }
    // The first name is not used.
    void __thiscall set_module_names(const char*, const char* second) override
    {
        velmora::set_module_file_name(second);
    }
    void __thiscall set_services_ready(std::uint8_t flag) override;
    bool __thiscall module_query() override { return false; }
};

constexpr DWORD crash_signal_exception = 0x6F8E1DC8;

// Turns the runtime's interrupt, termination, break and abort signals into a structured exception the host's
// crash handling sees, with the signal number as its argument.
void raise_crash_exception(int signal_number)
{
    const ULONG_PTR argument = static_cast<ULONG_PTR>(signal_number);
    RaiseException(crash_signal_exception, EXCEPTION_NONCONTINUABLE, 1, &argument);
}

// The handlers live in the C runtime's table for the whole process, which outlives this module. At unload, each
// signal whose handler is still ours gets back the one that was there before; one the host has replaced since is
// the host's and stays.
//
// The runtime's abort message and fault report stay as they are: this module links msvcrt.dll, which has no
// _set_abort_behavior (later runtimes brought it) and calls no fault report. Its abort() raises the abort signal,
// which the handler turns into the crash exception; only a handler that returned would let abort() end the process
// with exit code 3. Under Wine it writes no message either way.
class crash_signal_setup {
public:
    crash_signal_setup() noexcept
    {
        for (std::size_t index = 0; index < std::size(signals_); ++index)
            previous_[index] = std::signal(signals_[index], raise_crash_exception);
    }
    crash_signal_setup(const crash_signal_setup&) = delete;
    crash_signal_setup& operator=(const crash_signal_setup&) = delete;
    ~crash_signal_setup()
    {
        for (std::size_t index = 0; index < std::size(signals_); ++index) {
            if (previous_[index] == SIG_ERR)
                continue;
            const auto current = std::signal(signals_[index], previous_[index]);
            if (current != raise_crash_exception && current != SIG_ERR)
                std::signal(signals_[index], current);
        }
    }

private:
    using handler = void (*)(int);
    static constexpr int signals_[] = {SIGINT, SIGTERM, SIGBREAK, SIGABRT};
    handler previous_[std::size(signals_)] = {};
};

service_record<component_version_service> version_record(kestrune::component_version_guid);
service_record<preferences_page_service> page_record(kestrune::preferences_page_guid);
service_record<playback_event_sink> event_sink_record(kestrune::playback_event_sink_guid);
service_record<init_quit_hook> init_quit_record(kestrune::init_quit_hook_guid, event_sink_record.service().scheduler());
crash_signal_setup crash_signals;
module_entry module;

void module_entry::set_services_ready(std::uint8_t flag)
{
    velmora::set_services_ready_flag(flag);
    if (flag != 0)
        on_services_restored(event_sink_record.service().scheduler());
    else
        on_services_withdrawn(event_sink_record.service().scheduler());
}

} // namespace

} // namespace velmora

namespace {
// The host's second value: kept, as the host expects, and never read.
void* host_value_recorded = nullptr;
} // namespace

// Exported undecorated through velmora.def.
extern "C" kestrune::module_interface* __cdecl kestrune_get_interface(kestrune::service_registry* registry,
                                                                      void* host_value)
{
    host_value_recorded = host_value;
    velmora::set_service_registry(registry);
    return &velmora::module;
}
