#pragma once

#include <cstddef>
#include <cstdint>

#include <windows.h>

// The binary contract between the host and the component. Every table lists its operations slot by slot with an
// explicit calling convention; no table has a virtual destructor or two operations of one name, so that any
// compiler lays the tables out alike. Objects are destroyed only by whoever made them.

namespace kestrune {

// A growable UTF-8 text that the other side fills through this table.
class utf8_string {
public:
    virtual void __thiscall append(const char* text, std::size_t limit) = 0;
    virtual const char* __thiscall text() = 0;
    virtual void __thiscall assign(const char* text, std::size_t limit) = 0;
    virtual void __thiscall shorten(std::size_t length) = 0;
    virtual std::size_t __thiscall length() = 0;
    virtual char* __thiscall open_buffer(std::size_t length) = 0;
    virtual void __thiscall close_buffer() = 0;

protected:
    utf8_string() = default;
    utf8_string(const utf8_string&) = default;
    utf8_string& operator=(const utf8_string&) = default;
    ~utf8_string() = default;
};

// Every counted object, the host's and the component's, starts with these three operations.
// An out reference (T** out) holds null or one reference; on success the callee adds a reference to what it hands
// out, releases what the slot held and stores the object there.
class service_object {
public:
    virtual std::int32_t __thiscall release() = 0;
    virtual std::int32_t __thiscall add_ref() = 0;
    virtual bool __thiscall query_by_guid(service_object** out, const GUID& guid) = 0;

protected:
    ~service_object() = default;
};

// Not counted: the host passes it to the entry and keeps it for the module's lifetime.
class service_registry {
public:
    virtual std::uint32_t __thiscall find_class(const GUID& guid) = 0;
    virtual bool __thiscall create_instance(service_object** out, std::uint32_t class_handle, std::uint32_t index) = 0;
    virtual std::uint32_t __thiscall count_instances(std::uint32_t class_handle) = 0;

protected:
    ~service_registry() = default;
};

class abort_signal {
public:
    virtual bool __thiscall is_aborted() = 0;

protected:
    ~abort_signal() = default;
};

class write_stream {
public:
    // Writes every byte or throws.
    virtual void __thiscall write(const void* data, std::size_t count, abort_signal& abort) = 0;

protected:
    ~write_stream() = default;
};

class read_stream {
public:
    // Gives the number of bytes read, fewer than count only at the end of the data.
    virtual std::size_t __thiscall read(void* buffer, std::size_t count, abort_signal& abort) = 0;
    // Fills the buffer or throws.
    virtual void __thiscall read_exact(void* buffer, std::size_t count, abort_signal& abort) = 0;
    virtual std::uint64_t __thiscall skip(std::uint64_t count, abort_signal& abort) = 0;
    // Skips exactly count bytes or throws.
    virtual void __thiscall skip_exact(std::uint64_t count, abort_signal& abort) = 0;

protected:
    ~read_stream() = default;
};

// Owned by the component; the host reads it only during make_handle.
class track_location {
public:
    virtual const char* __thiscall get_path() = 0;
    virtual void __thiscall set_path(const char* path) = 0;
    virtual std::uint32_t __thiscall get_subsong() = 0;
    virtual void __thiscall set_subsong(std::uint32_t index) = 0;

protected:
    ~track_location() = default;
};

// Only held and released.
class title_format_script : public service_object {
protected:
    ~title_format_script() = default;
};

class track_handle : public service_object {
public:
    virtual bool __thiscall format_track(void* extra_fields, utf8_string* out, title_format_script* script,
                                         void* text_filter) = 0;

protected:
    ~track_handle() = default;
};

class playback_control : public service_object {
public:
    virtual bool __thiscall query_playing_track(track_handle** out) = 0;
    virtual float __thiscall query_volume() = 0;
    virtual bool __thiscall format_with_playback(void* extra_fields, utf8_string* out, title_format_script* script,
                                                 void* text_filter, std::int32_t display_level) = 0;

protected:
    ~playback_control() = default;
};

class title_format_compiler : public service_object {
public:
    virtual bool __thiscall compile_script(title_format_script** out, const char* script) = 0;

protected:
    ~title_format_compiler() = default;
};

class track_handle_factory : public service_object {
public:
    virtual bool __thiscall make_handle(track_handle** out, const track_location* location) = 0;

protected:
    ~track_handle_factory() = default;
};

class main_thread_callback : public service_object {
public:
    virtual void __thiscall run() = 0;

protected:
    ~main_thread_callback() = default;
};

class main_thread_callback_manager : public service_object {
public:
    // Takes over the caller's reference: runs the callback later on the main thread, then releases it.
    virtual void __thiscall queue_callback(main_thread_callback* callback) = 0;

protected:
    ~main_thread_callback_manager() = default;
};

class message_receiver : public service_object {
public:
    virtual void __thiscall print(const char* text, std::size_t length) = 0;

protected:
    ~message_receiver() = default;
};

class host_version_info : public service_object {
public:
    virtual const char* __thiscall host_version() = 0;

protected:
    ~host_version_info() = default;
};

// Host services, by the GUID the registry knows them under.
inline constexpr GUID playback_control_guid = {
    0xBF803668, 0x2977, 0x4C71, {0xB9, 0xAB, 0x5C, 0x77, 0xC3, 0x38, 0xC9, 0x70}};
inline constexpr GUID title_format_compiler_guid = {
    0x3F7674AB, 0x044C, 0x4796, {0x88, 0x01, 0x6C, 0x44, 0x3C, 0x24, 0x4D, 0x88}};
inline constexpr GUID track_handle_factory_guid = {
    0x609D48C8, 0xC6A6, 0x4784, {0x8B, 0xBD, 0xFD, 0xD3, 0x2B, 0xF0, 0x74, 0x0E}};
inline constexpr GUID main_thread_callback_manager_guid = {
    0x1131D64B, 0x04CB, 0x43EE, {0x95, 0xEB, 0x24, 0xD1, 0x8B, 0x75, 0x32, 0x48}};
inline constexpr GUID message_receiver_guid = {
    0x90DF5270, 0x65BB, 0x4DBA, {0xBA, 0xF5, 0x86, 0xBE, 0x9E, 0x59, 0xDC, 0x20}};
inline constexpr GUID host_version_info_guid = {
    0x0C36A649, 0x9EA0, 0x4F48, {0xB2, 0x29, 0x0C, 0xB2, 0xAA, 0x9A, 0xB6, 0xF4}};

// ---- Tables the component implements ----

class component_version : public service_object {
public:
    virtual void __thiscall file_name_text(utf8_string* out) = 0;
    virtual void __thiscall name_text(utf8_string* out) = 0;
    virtual void __thiscall version_text(utf8_string* out) = 0;
    virtual void __thiscall about_text(utf8_string* out) = 0;

protected:
    ~component_version() = default;
};

class preferences_page : public service_object {
public:
    virtual HWND __thiscall create_page(HWND parent) = 0;
    virtual const char* __thiscall page_name() = 0;
    virtual void __thiscall page_guid(GUID* out) = 0;
    virtual void __thiscall parent_page_guid(GUID* out) = 0;
    virtual bool __thiscall page_query() = 0;
    virtual void __thiscall reset_page_settings() = 0;
    virtual bool __thiscall help_address(utf8_string* out) = 0;

protected:
    ~preferences_page() = default;
};

// The service table of the playback-event sink; its callback table follows at the object's address + 4.
class playback_event_service : public service_object {
public:
    virtual std::uint32_t __thiscall subscribed_events() = 0;

protected:
    ~playback_event_service() = default;
};

class playback_event_callbacks {
public:
    virtual void __thiscall on_playback_starting(std::int32_t command, std::int32_t paused) = 0;
    // Takes over the caller's reference to track.
    virtual void __thiscall on_new_track(track_handle* track) = 0;
    virtual void __thiscall on_playback_stop(std::int32_t reason) = 0;
    virtual void __thiscall on_seek(double time) = 0;
    virtual void __thiscall on_pause(std::int32_t state) = 0;
    // Takes over the caller's reference to track.
    virtual void __thiscall on_track_edited(track_handle* track) = 0;
    virtual void __thiscall on_dynamic_info(const void* info) = 0;
    virtual void __thiscall on_dynamic_track_info(const void* info) = 0;
    virtual void __thiscall on_playback_time(double time) = 0;
    virtual void __thiscall on_volume_change(float volume) = 0;

protected:
    ~playback_event_callbacks() = default;
};

// The fields that follow the sink's two table pointers (the object's address + 8), which the host reads: the
// thread handle and id of the component's delay worker, both 0 while none runs.
struct playback_event_worker {
    HANDLE thread;
    DWORD thread_id;
};
static_assert(sizeof(HANDLE) == 4 && offsetof(playback_event_worker, thread) == 0 &&
                  offsetof(playback_event_worker, thread_id) == 4 && sizeof(playback_event_worker) == 8,
              "the worker's fields as the host reads them");

class init_quit_hook : public service_object {
public:
    virtual void __thiscall on_startup() = 0;
    virtual void __thiscall on_shutdown() = 0;

protected:
    ~init_quit_hook() = default;
};

// One record per component service, walked by the host from first_factory: the table pointer, then the next record
// (null after the last), then the class GUID of the service it makes.
class service_factory {
public:
    // Hands out the record's service object.
    virtual void __thiscall make_instance(service_object** out) = 0;

    service_factory* next = nullptr;
    const GUID* class_guid = nullptr;

protected:
    service_factory() = default;
    ~service_factory() = default;
};

// Not counted: the entry returns the one module-wide instance.
class module_interface {
public:
    virtual std::uint32_t __thiscall interface_version() = 0;
    virtual service_factory* __thiscall first_factory() = 0;
    virtual void __thiscall save_settings(write_stream& stream, abort_signal& abort) = 0;
    virtual void __thiscall load_settings(read_stream& stream, abort_signal& abort) = 0;
    virtual void __thiscall set_module_names(const char* first, const char* second) = 0;
    virtual void __thiscall set_services_ready(std::uint8_t flag) = 0;
    virtual bool __thiscall module_query() = 0;

protected:
    ~module_interface() = default;
};

// The component's services, by class GUID.
inline constexpr GUID init_quit_hook_guid = {
    0x113773C4, 0xB387, 0x4B48, {0x8B, 0xDF, 0xAB, 0x58, 0xBC, 0x6C, 0xE5, 0x38}};
inline constexpr GUID playback_event_sink_guid = {
    0x8E4EED7A, 0xC6B8, 0x49C7, {0x99, 0xFE, 0x97, 0xE0, 0x4A, 0xAA, 0x63, 0xA8}};
inline constexpr GUID preferences_page_guid = {
    0x7255E8D0, 0x3FCF, 0x4781, {0xB9, 0x3B, 0xD0, 0x6C, 0xB8, 0x8D, 0xFA, 0xFA}};
inline constexpr GUID component_version_guid = {
    0x10BB3EBD, 0xDDF7, 0x4975, {0xA3, 0xCC, 0x23, 0x08, 0x48, 0x29, 0x45, 0x3E}};

} // namespace kestrune
