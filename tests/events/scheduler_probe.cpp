#include "boundary/host_services.h"
#include "events/init_quit_hook.h"
#include "events/playback_event_sink.h"
#include "settings/component_settings.h"

// A module holding the scheduler, so that a host process can unload it or exit while its worker is armed, with or
// without shutting it down or clearing the services-ready flag first.

namespace {
velmora::playback_event_sink sink;
velmora::init_quit_hook hook(sink.scheduler());
} // namespace

extern "C" {

__declspec(dllexport) void __cdecl probe_arm(kestrune::service_registry* registry, const char* output_file,
                                             unsigned delay)
{
    velmora::set_service_registry(registry);
    velmora::set_services_ready_flag(1);
    velmora::output_path.set(output_file);
    velmora::now_playing_script.set("x");
    velmora::output_encoding.set(velmora::encoding_utf8);
    velmora::log_mode.set(1);
    velmora::event_settings.set_word(velmora::event_word::delay_enabled, 1);
    velmora::event_settings.set_word(velmora::event_word::delay_ms, delay);
    sink.on_pause(1);
}

// One write at once, to the file and the clipboard, whose outcome the output thread posts back to the main thread.
__declspec(dllexport) void __cdecl probe_write_and_copy(kestrune::service_registry* registry, const char* output_file)
{
    velmora::set_service_registry(registry);
    velmora::set_services_ready_flag(1);
    velmora::output_path.set(output_file);
    velmora::now_playing_script.set("x");
    velmora::output_targets.set_word(velmora::output_target_word::copy_to_clipboard, 1);
    sink.on_pause(1);
}

// As the module's interface does when the host clears the services-ready flag.
__declspec(dllexport) void __cdecl probe_withdraw()
{
    velmora::set_services_ready_flag(0);
    velmora::on_services_withdrawn(sink.scheduler());
}

__declspec(dllexport) void __cdecl probe_shutdown()
{
    velmora::log_mode.set(0);
    hook.on_shutdown();
}
}
