#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <windows.h>

#include "component/host_boundary.h"
#include "component/host_exceptions.h"
#include "host/memory_streams.h"
#include "host/message_receiver.h"
#include "host/player_services.h"
#include "host/playlist.h"
#include "host/stored_settings.h"

// The stand-in player: loads velmora.dll as a host does, plays a playlist on a simulated clock and prints each
// write as it happens. See usage below.

namespace {

const char usage[] =
    "usage: velmora-host [--playlist FILE] [--speed FACTOR] [--config FILE] [--output FILE] [--set NAME=VALUE]...\n"
    "                    [--prefs] [--dll FILE]\n"
    "  --playlist FILE   the commands to play (default: demo/demo-playlist.txt)\n"
    "  --speed FACTOR    simulated seconds per real second (default 1)\n"
    "  --config FILE     the host's configuration file, read at start and written at the end (default: none)\n"
    "  --output FILE     sets output_path, and is the file whose writes are printed (default: now-playing.txt)\n"
    "  --set NAME=VALUE  sets a component setting in the configuration before the run\n"
    "  --prefs           opens the preferences page in a host window instead of playing\n"
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

bool read_file(const std::string& path, std::string& bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(file), {});
    return true;
}

std::wstring wide(const std::string& text)
{
    std::wstring result(text.size() + 1, L'\0');
    result.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), static_cast<int>(result.size())) - 1));
    return result;
}

// Prints the output file each time it changes: the simulated time, the last event and the new content.
class write_watcher {
public:
    write_watcher(std::string path, double speed) : path_(std::move(path)), speed_(speed), start_(GetTickCount()) {}

    void event(const char* name) { event_ = name; }

    void check()
    {
        std::string content;
        read_file(path_, content);
        if (content == last_)
            return;
        const std::string shown = content.compare(0, last_.size(), last_) == 0 && !last_.empty()
                                      ? "+" + content.substr(last_.size())
                                      : content;
        last_ = content;
        std::string printable;
        const bool header = shown.compare(0, 3, "\xEF\xBB\xBF") == 0;
        for (char character : shown.substr(header ? 3 : 0))
            printable += character == '\r'   ? std::string("\\r")
                         : character == '\n' ? std::string("\\n")
                                             : std::string(1, character);
        std::printf("[%6.1f s] %-16s %s\n", (GetTickCount() - start_) * speed_ / 1000.0, event_.c_str(),
                    printable.c_str());
        std::fflush(stdout);
    }

    // Runs the host's message loop for simulated seconds, printing writes as they land.
    void pass(double seconds)
    {
        const DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000 / speed_);
        do {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            check();
        } while (static_cast<LONG>(until - GetTickCount()) > 0);
    }

private:
    std::string path_;
    double speed_;
    DWORD start_;
    std::string event_ = "start-up";
    std::string last_;
};

bool parse_options(int count, char** arguments, options& chosen, std::string& error)
{
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
        char utf8[512];
        WideCharToMultiByte(CP_UTF8, 0, message, -1, utf8, sizeof utf8, nullptr, nullptr);
        text = utf8;
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

void show_preferences(kestrune::preferences_page& page)
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
    const HWND window = page.create_page(host);
    if (window != nullptr)
        ShowWindow(window, SW_SHOW);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window == nullptr || !IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace

int main(int argument_count, char** arguments)
{
    options chosen;
    std::string error;
    if (argument_count == 2 && std::strcmp(arguments[1], "--help") == 0) {
        std::printf("%s", usage);
        return 0;
    }
    if (!parse_options(argument_count, arguments, chosen, error))
        return refuse(error + "\n" + usage);

    std::vector<stand_in::playlist_step> steps;
    if (!chosen.prefs) {
        std::string text;
        if (!read_file(chosen.playlist, text))
            return refuse("cannot read the playlist " + chosen.playlist);
        steps = stand_in::parse_playlist(text, error);
        if (steps.empty())
            return refuse(chosen.playlist + ": " + error);
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
        std::wstring folder(program);
        char utf8[MAX_PATH * 3];
        WideCharToMultiByte(CP_UTF8, 0, folder.substr(0, folder.find_last_of(L'\\') + 1).c_str(), -1, utf8, sizeof utf8,
                            nullptr, nullptr);
        dll = std::string(utf8) + "velmora.dll";
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
        host.registry.add(kestrune::message_receiver_guid, console);
        stand_in::service_registry& registry = host.registry;
        stand_in::playback_control& control = host.control;

        kestrune::module_interface* component = entry(&registry, nullptr);
        component->set_module_names("velmora", "velmora.dll");
        stand_in::scripted_abort never;
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

        write_watcher watcher(chosen.output, chosen.speed);
        try {
            hook->on_startup();
            watcher.check();
            if (chosen.prefs) {
                show_preferences(*page);
            } else {
                std::vector<std::unique_ptr<stand_in::track_handle>> tracks;
                for (const stand_in::playlist_step& step : steps) {
                    switch (step.type) {
                    case stand_in::playlist_step::kind::track:
                        tracks.push_back(std::make_unique<stand_in::track_handle>(
                            audit, step.title, stand_in::track_fields{{"artist", step.artist}, {"title", step.title}}));
                        control.playing = tracks.back().get();
                        control.paused = false;
                        control.playback_time = 0;
                        watcher.event("new track");
                        events->on_playback_starting(0, 0);
                        tracks.back()->add_ref();
                        events->on_new_track(tracks.back().get());
                        watcher.pass(0.05);
                        break;
                    case stand_in::playlist_step::kind::play:
                        for (int second = 0; second < step.seconds; ++second) {
                            watcher.pass(1);
                            control.playback_time += 1;
                            watcher.event("second");
                            events->on_playback_time(control.playback_time);
                        }
                        watcher.pass(0.05);
                        break;
                    case stand_in::playlist_step::kind::pause:
                        control.paused = true;
                        watcher.event("pause");
                        events->on_pause(1);
                        watcher.pass(step.seconds);
                        control.paused = false;
                        watcher.event("resume");
                        events->on_pause(0);
                        watcher.pass(0.05);
                        break;
                    case stand_in::playlist_step::kind::stop:
                        control.playing = nullptr;
                        watcher.event("stop");
                        events->on_playback_stop(0);
                        watcher.pass(0.05);
                        break;
                    }
                }
                watcher.pass(1);
            }
            watcher.event("shut-down");
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
