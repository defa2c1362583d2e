#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <windows.h>

#include <shellapi.h>

#include "art/cover_art.h"
#include "boundary/host_boundary.h"
#include "boundary/host_exceptions.h"
#include "host/doubles/memory_streams.h"
#include "host/doubles/message_receiver.h"
#include "host/doubles/player_services.h"
#include "host/player/console_text.h"
#include "host/player/playlist.h"
#include "host/player/stored_settings.h"

// The stand-in player: loads velmora.dll as a host does, plays a playlist on a simulated clock and prints each
// write as it happens, decoded in the encoding it was written in. See usage below. Arguments, paths and printed
// lines are Unicode throughout: UTF-16 from the system, UTF-8 inside.

namespace {

const char usage[] =
    "usage: velmora-host [--playlist FILE] [--speed FACTOR] [--config FILE] [--output FILE] [--set NAME=VALUE]...\n"
    "                    [--prefs] [--dll FILE]\n"
    "  --playlist FILE   the commands to play (default: demo/demo-playlist.txt)\n"
    "  --speed FACTOR    simulated seconds per real second (default 1)\n"
    "  --config FILE     the host's configuration file, read at start and written at the end (default: none)\n"
    "  --output FILE     sets output_path, and is the file whose writes are printed (default: now-playing.txt)\n"
    "  --set NAME=VALUE  sets a component setting in the configuration before the run; N.NAME=VALUE sets one of\n"
    "                    output N (2 to 16), adding it: --set 2.output_path=title.txt --set "
    "2.now_playing_script=%title%\n"
    "                    --set overlay_port=N serves the overlay on port N and prints its address (overlay=0 ends it)\n"
    "  --prefs           opens the preferences page in a host window and plays the playlist over and over\n"
    "                    while it is open; closing the window ends the run\n"
    "  --dll FILE        the component to load (default: velmora.dll beside this program)\n";

using entry_function = kestrune::module_interface*(__cdecl*)(kestrune::service_registry*, void*);

struct options {
    std::string playlist = "demo/demo-playlist.txt";
    double speed = 1;
    std::string config;
    std::string output = "now-playing.txt";
    std::vector<std::string> assignments;
    bool prefs = false;
    std::string dll;
};

int refuse(const std::string& why)
{
    std::fprintf(stderr, "velmora-host: %s\n", why.c_str());
    return 2;
}

std::wstring wide(const std::string& text)
{
    std::wstring result(text.size() + 1, L'\0');
    result.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), static_cast<int>(result.size())) - 1));
    return result;
}

std::string utf8(const wchar_t* text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), bytes, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

bool read_file(const std::string& path, std::string& bytes)
{
    std::ifstream file(wide(path).c_str(), std::ios::binary);
    if (!file)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(file), {});
    return true;
}

// The program's arguments in UTF-8, read from the UTF-16 command line rather than through the ANSI code page,
// which would turn every character outside it into "?".
std::vector<std::string> utf8_arguments()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> result;
    for (int index = 0; arguments != nullptr && index < count; ++index)
        result.push_back(utf8(arguments[index]));
    LocalFree(arguments);
    return result;
}

// Prints each output file each time it changes: the simulated time, the last event and the new content, decoded in
// the encoding the component writes it in now. With several outputs, each line names its output's number.
class write_watcher {
public:
    struct watched {
        unsigned number;
        std::string path;
    };

    // setting gives a setting's value now by its --set name.
    write_watcher(std::vector<watched> files, double speed, std::function<long long(const std::string&)> setting)
        : speed_(speed), setting_(std::move(setting)), start_(GetTickCount())
    {
        // What a file holds before the run is not printed, so that the first line is the run's own first write.
        for (watched& file : files) {
            std::string content;
            read_file(file.path, content);
            files_.push_back({std::move(file), std::move(content)});
        }
    }

    // The event that the writes printed from now on follow.
    void event(const char* name)
    {
        event_ = name;
        awaited_ = false;
    }

    // The same for an event on which output 1 writes when its switch of that name is on (null: always), so that
    // the next settle waits for the write to land: a late write would be printed under the event after it.
    void event_writing(const char* name, const char* switch_name)
    {
        event_ = name;
        printed_at_event_ = printed_;
        awaited_ = setting_("save_to_file") != 0 && (switch_name == nullptr || setting_(switch_name) != 0);
    }

    // Keyboard messages for this window go through its dialog navigation.
    void set_dialog(HWND dialog) { dialog_ = dialog; }

    // The cover file, printed as "cover: ..." each time its bytes change, under the event that changed the track.
    void watch_cover(std::string path, std::wstring placeholder)
    {
        cover_path_ = std::move(path);
        placeholder_ = std::move(placeholder);
        read_file(cover_path_, cover_);
    }

    // The track the art should now be of (empty when nothing plays), and the event that made it so.
    void track_changed(std::wstring track_file, const char* event)
    {
        track_file_ = std::move(track_file);
        cover_event_ = event;
    }

    void check()
    {
        for (watched_file& file : files_) {
            std::string content;
            read_file(file.watched.path, content);
            if (content == file.last)
                continue;
            const bool appended = !file.last.empty() && content.compare(0, file.last.size(), file.last) == 0;
            const std::string shown = stand_in::console_text(
                appended ? content.substr(file.last.size()) : content,
                static_cast<int>(setting_(file.watched.number == 1
                                              ? "output_encoding"
                                              : std::to_string(file.watched.number) + ".output_encoding")));
            file.last = content;
            const std::string number = files_.size() > 1 ? std::to_string(file.watched.number) + ": " : "";
            std::printf("[%6.1f s] %-16s %s%s%s\n", (GetTickCount() - start_) * speed_ / 1000.0, event_.c_str(),
                        number.c_str(), appended ? "+" : "", shown.c_str());
            ++printed_;
        }
        check_cover();
        std::fflush(stdout);
    }

    // Runs the host's message loop for simulated seconds, printing writes as they land. False once the host's
    // window has closed (the message loop has been told to quit); the run then ends.
    bool pass(double seconds)
    {
        const DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000 / speed_);
        do {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    // A write may have landed since the last look.
                    check();
                    return false;
                }
                if (dialog_ == nullptr || !IsDialogMessageW(dialog_, &message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            check();
        } while (static_cast<LONG>(until - GetTickCount()) > 0);
        return true;
    }

    // A pass of at least 50 ms of real time, whatever the speed: the component writes on a thread of its own, so an
    // event's write lands a moment after the event call returns.
    // An awaited write is waited for up to five seconds beyond the delay (an unchanged text is not written again): a
    // machine that builds beside the run can take more than two.
    bool settle()
    {
        if (!pass(0.05 * (speed_ > 1 ? speed_ : 1)))
            return false;
        const long long delay = setting_("delay_enabled") > 0 ? setting_("delay_ms") : 0;
        const DWORD limit = 5000 + static_cast<DWORD>(delay > 0 && delay < 60000 ? delay : 0);
        const DWORD start = GetTickCount();
        while (awaited_ && printed_ == printed_at_event_ && GetTickCount() - start < limit) {
            if (!pass(0.01 * speed_))
                return false;
        }
        awaited_ = false;
        return true;
    }

private:
    struct watched_file {
        watched watched;
        std::string last;
    };

    // What the cover file shows, told apart by looking for the track's art as the component does.
    void check_cover()
    {
        std::string bytes;
        if (cover_path_.empty() || !read_file(cover_path_, bytes) || bytes.empty() || bytes == cover_)
            return;
        cover_ = bytes;
        std::string source = "placeholder";
        bool timed_out = false;
        const std::optional<velmora::cover_art> art =
            track_file_.empty() ? std::nullopt
                                : velmora::find_cover_art(track_file_, GetTickCount64() + 5000, timed_out);
        const std::optional<velmora::cover_art> placeholder =
            placeholder_.empty() ? std::nullopt : velmora::read_picture_file(placeholder_);
        if (art && *art->bytes == bytes)
            source = velmora::describe_source(*art);
        else if ((placeholder && *placeholder->bytes == bytes) || bytes == velmora::transparent_picture())
            source = "placeholder";
        else
            source = "not the track's art";
        const std::string description = velmora::describe_picture(bytes) + ", " + source;
        std::printf("[%6.1f s] %-16s cover: %s\n", (GetTickCount() - start_) * speed_ / 1000.0, cover_event_.c_str(),
                    description.c_str());
    }

    std::vector<watched_file> files_;
    double speed_;
    std::function<long long(const std::string&)> setting_;
    DWORD start_;
    unsigned long printed_ = 0;
    unsigned long printed_at_event_ = 0;
    bool awaited_ = true; // the start-up write
    HWND dialog_ = nullptr;
    std::string event_ = "start-up";
    std::string cover_path_;
    std::wstring placeholder_;
    std::string cover_;
    std::wstring track_file_;
    std::string cover_event_ = "start-up";
};

// A configured path with its %NAME% references expanded, as the component expands it.
std::string expanded(const std::string& path)
{
    std::wstring result(32768, L'\0');
    const DWORD units = ExpandEnvironmentStringsW(wide(path).c_str(), result.data(), 32768);
    return units != 0 && units <= 32768 ? utf8(result.c_str()) : path;
}

// Output 1's file and those of the added outputs that save to one, their paths expanded as the component does.
std::vector<write_watcher::watched> watched_files(const std::string& first, kestrune::module_interface& component)
{
    stand_in::scripted_abort never;
    stand_in::memory_write_stream current;
    component.save_settings(current, never);
    std::vector<stand_in::stored_record> records;
    stand_in::parse_records(current.bytes, records);
    std::vector<write_watcher::watched> files = {{1, first}};
    for (const stand_in::output_file& added : stand_in::output_files(records)) {
        files.push_back({added.number, expanded(added.path)});
    }
    return files;
}

bool parse_options(const std::vector<std::string>& arguments, options& chosen, std::string& error)
{
    const int count = static_cast<int>(arguments.size());
    for (int index = 1; index < count; ++index) {
        const std::string option = arguments[index];
        const bool has_value = index + 1 < count;
        if (option == "--prefs") {
            chosen.prefs = true;
        } else if (!has_value) {
            error = "unknown option or missing value: " + option;
            return false;
        } else if (option == "--playlist") {
            chosen.playlist = arguments[++index];
        } else if (option == "--speed") {
            std::istringstream value(arguments[++index]);
            if (!(value >> chosen.speed) || chosen.speed <= 0 || chosen.speed > 1000) {
                error = "--speed takes a number from above 0 to 1000";
                return false;
            }
        } else if (option == "--config") {
            chosen.config = arguments[++index];
        } else if (option == "--output") {
            chosen.output = arguments[++index];
        } else if (option == "--set") {
            chosen.assignments.emplace_back(arguments[++index]);
        } else if (option == "--dll") {
            chosen.dll = arguments[++index];
        } else {
            error = "unknown option: " + option;
            return false;
        }
    }
    return true;
}

std::string system_text(DWORD error)
{
    wchar_t* message = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = "error " + std::to_string(error);
    if (message != nullptr) {
        text = utf8(message);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        LocalFree(message);
    }
    return text;
}

LRESULT CALLBACK host_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// The host's window with the page in it; null when the window could not be made.
HWND open_preferences(kestrune::preferences_page& page)
{
    WNDCLASSW host_class{};
    host_class.lpfnWndProc = host_window_procedure;
    host_class.hInstance = GetModuleHandleW(nullptr);
    host_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    host_class.lpszClassName = L"velmora_host_preferences";
    RegisterClassW(&host_class);
    const HWND host =
        CreateWindowExW(0, host_class.lpszClassName, L"Preferences - Velmora", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        CW_USEDEFAULT, CW_USEDEFAULT, 620, 540, nullptr, nullptr, host_class.hInstance, nullptr);
    if (host == nullptr)
        return nullptr;
    const HWND window = page.create_page(host);
    if (window != nullptr)
        ShowWindow(window, SW_SHOW);
    return window;
}

// What the playlist drives: the playing state the host reports and the component's event callbacks.
struct player {
    stand_in::reference_audit& audit;
    stand_in::playback_control& control;
    kestrune::playback_event_callbacks& events;
    write_watcher& watcher;
    // Sets a setting by its --set name and has the component load the configuration anew.
    std::function<void(const std::string&)> change_setting;
    std::vector<std::unique_ptr<stand_in::track_handle>> tracks;
};

// Plays the steps in order. False when the run was ended on the way (the host's window closed).
bool play(const std::vector<stand_in::playlist_step>& steps, player& playing)
{
    stand_in::playback_control& control = playing.control;
    kestrune::playback_event_callbacks& events = playing.events;
    write_watcher& watcher = playing.watcher;
    for (const stand_in::playlist_step& step : steps) {
        switch (step.type) {
        case stand_in::playlist_step::kind::track: {
            stand_in::track_fields fields{{"artist", step.artist}, {"title", step.title}, {"path", step.file}};
            if (step.length >= 0)
                fields["length_seconds"] = std::to_string(step.length);
            playing.tracks.push_back(
                std::make_unique<stand_in::track_handle>(playing.audit, step.title, std::move(fields)));
            control.playing = playing.tracks.back().get();
            control.paused = false;
            control.playback_time = 0;
            // Playback starting writes output 1 whatever its switch.
            watcher.event_writing("new track", nullptr);
            watcher.track_changed(wide(step.file), "new track");
            events.on_playback_starting(0, 0);
            playing.tracks.back()->add_ref();
            events.on_new_track(playing.tracks.back().get());
            break;
        }
        case stand_in::playlist_step::kind::play:
            for (int second = 0; second < step.seconds; ++second) {
                if (!watcher.pass(1))
                    return false;
                control.playback_time += 1;
                watcher.event("second");
                events.on_playback_time(control.playback_time);
            }
            break;
        case stand_in::playlist_step::kind::pause:
            control.paused = true;
            watcher.event_writing("pause", "on_pause");
            events.on_pause(1);
            if (!watcher.pass(step.seconds))
                return false;
            control.paused = false;
            watcher.event_writing("resume", "on_pause");
            events.on_pause(0);
            break;
        case stand_in::playlist_step::kind::stop:
            control.playing = nullptr;
            watcher.event_writing("stop", "on_stop");
            watcher.track_changed({}, "stop");
            events.on_playback_stop(0);
            break;
        case stand_in::playlist_step::kind::set:
            watcher.event("setting");
            playing.change_setting(step.artist);
            break;
        }
        // Each step ends with a short pass, so that its writes are printed before the next begins.
        if (!watcher.settle())
            return false;
    }
    return true;
}

} // namespace

int main()
{
    // Lines are printed in UTF-8; a console shows them so too.
    SetConsoleOutputCP(CP_UTF8);
    const std::vector<std::string> arguments = utf8_arguments();
    options chosen;
    std::string error;
    if (arguments.size() == 2 && arguments[1] == "--help") {
        std::printf("%s", usage);
        return 0;
    }
    if (!parse_options(arguments, chosen, error))
        return refuse(error + "\n" + usage);

    std::vector<stand_in::playlist_step> steps;
    {
        std::string text;
        if (!read_file(chosen.playlist, text))
            return refuse("cannot read the playlist " + chosen.playlist);
        steps = stand_in::parse_playlist(text, error);
        if (steps.empty())
            return refuse(chosen.playlist + ": " + error);
        // A host gives a local track's full path.
        for (stand_in::playlist_step& step : steps) {
            if (step.file.empty())
                continue;
            const std::wstring path = wide(stand_in::track_file_path(step.file, chosen.playlist));
            std::wstring full(32768, L'\0');
            if (GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr) != 0)
                step.file = utf8(full.c_str());
        }
    }
    std::string stored;
    if (!chosen.config.empty() && read_file(chosen.config, stored)) {
        std::vector<stand_in::stored_record> records;
        if (!stand_in::parse_records(stored, records))
            return refuse(chosen.config + " is not a configuration file of this host");
    }

    std::string dll = chosen.dll;
    if (dll.empty()) {
        wchar_t program[MAX_PATH];
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        const std::wstring folder(program);
        dll = utf8(folder.substr(0, folder.find_last_of(L'\\') + 1).c_str()) + "velmora.dll";
    }
    const HMODULE module = LoadLibraryW(wide(dll).c_str());
    if (module == nullptr)
        return refuse("cannot load " + dll + ": " + system_text(GetLastError()));
    const auto entry =
        reinterpret_cast<entry_function>(reinterpret_cast<void*>(GetProcAddress(module, "kestrune_get_interface")));
    if (entry == nullptr) {
        FreeLibrary(module);
        return refuse(dll + " is not a component: it exports no kestrune_get_interface");
    }

    int status = 0;
    {
        stand_in::reference_audit audit;
        stand_in::player_services host(audit);
        stand_in::message_receiver console(audit, "console");
        console.echo = true;
        host.registry.add(kestrune::message_receiver_guid, console);
        stand_in::service_registry& registry = host.registry;
        stand_in::playback_control& control = host.control;

        kestrune::module_interface* component = entry(&registry, nullptr);
        component->set_module_names("velmora", "velmora.dll");
        stand_in::scripted_abort never;
        std::uint16_t overlay_port = 0;
        std::string cover_path, cover_placeholder;
        try {
            stand_in::memory_read_stream stored_stream(stored);
            component->load_settings(stored_stream, never);
            stand_in::memory_write_stream current;
            component->save_settings(current, never);
            std::vector<stand_in::stored_record> records;
            stand_in::parse_records(current.bytes, records);
            chosen.assignments.insert(chosen.assignments.begin(), "output_path=" + chosen.output);
            for (const std::string& assignment : chosen.assignments) {
                if (!stand_in::set_by_name(records, assignment, error))
                    throw std::runtime_error(error);
            }
            stand_in::memory_read_stream edited(stand_in::serialise_records(records));
            component->load_settings(edited, never);
            overlay_port = stand_in::overlay_port_of(records);
            stand_in::cover_art_of(records, cover_path, cover_placeholder);
        } catch (const std::exception& failure) {
            FreeLibrary(module);
            return refuse(std::string("the configuration was refused: ") + failure.what());
        }

        kestrune::playback_event_callbacks* events = nullptr;
        kestrune::init_quit_hook* hook = nullptr;
        kestrune::preferences_page* page = nullptr;
        std::vector<kestrune::service_object*> services;
        for (kestrune::service_factory* record = component->first_factory(); record != nullptr; record = record->next) {
            kestrune::service_object* service = nullptr;
            record->make_instance(&service);
            services.push_back(service);
            registry.add(*record->class_guid, *service);
            if (std::memcmp(record->class_guid, &kestrune::playback_event_sink_guid, sizeof(GUID)) == 0)
                events = reinterpret_cast<kestrune::playback_event_callbacks*>(reinterpret_cast<char*>(service) + 4);
            else if (std::memcmp(record->class_guid, &kestrune::init_quit_hook_guid, sizeof(GUID)) == 0)
                hook = static_cast<kestrune::init_quit_hook*>(service);
            else if (std::memcmp(record->class_guid, &kestrune::preferences_page_guid, sizeof(GUID)) == 0)
                page = static_cast<kestrune::preferences_page*>(service);
        }
        component->set_services_ready(1);

        // A setting as the component has it now, which the page may change during the run.
        const auto setting = [component, &never](const std::string& name) {
            stand_in::memory_write_stream current;
            component->save_settings(current, never);
            std::vector<stand_in::stored_record> records;
            stand_in::parse_records(current.bytes, records);
            return stand_in::number_by_name(records, name);
        };
        write_watcher watcher(watched_files(chosen.output, *component), chosen.speed, setting);
        if (!cover_path.empty())
            watcher.watch_cover(expanded(cover_path), wide(expanded(cover_placeholder)));
        try {
            hook->on_startup();
            if (overlay_port != 0)
                std::printf("overlay: http://127.0.0.1:%u/\n", static_cast<unsigned>(overlay_port));
            std::fflush(stdout);
            watcher.settle();
            const auto change_setting = [component, &never](const std::string& assignment) {
                stand_in::memory_write_stream current;
                component->save_settings(current, never);
                std::vector<stand_in::stored_record> records;
                stand_in::parse_records(current.bytes, records);
                std::string refused;
                if (!stand_in::set_by_name(records, assignment, refused))
                    throw std::runtime_error(refused);
                stand_in::memory_read_stream edited(stand_in::serialise_records(records));
                component->load_settings(edited, never);
                if (const std::uint16_t port = stand_in::overlay_port_of(records))
                    std::printf("overlay: http://127.0.0.1:%u/\n", static_cast<unsigned>(port));
                std::fflush(stdout);
            };
            player playing{audit, control, *events, watcher, change_setting, {}};
            if (chosen.prefs) {
                const HWND window = open_preferences(*page);
                watcher.set_dialog(window);
                // Over and over, so that the preview keeps following what plays while the page is open.
                while (window != nullptr && play(steps, playing)) {
                }
            } else if (play(steps, playing)) {
                watcher.pass(1);
            }
            watcher.event("shut-down");
            watcher.track_changed({}, "shut-down");
            hook->on_shutdown();
            watcher.check();
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "velmora-host: the component failed: %s\n", failure.what());
            status = 1;
        }
        host.callbacks.run_pending();

        if (!chosen.config.empty()) {
            stand_in::memory_write_stream saved;
            component->save_settings(saved, never);
            std::ofstream(chosen.config, std::ios::binary) << saved.bytes;
        }
        component->set_services_ready(0);
        for (kestrune::service_object* service : services)
            service->release();
        registry.clear();
        const std::string findings = audit.findings();
        if (!findings.empty()) {
            std::fprintf(stderr, "velmora-host: references the component still holds:\n%s", findings.c_str());
            status = 1;
        }
    }
    FreeLibrary(module);
    return status;
}
