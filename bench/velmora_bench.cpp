#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <windows.h>

#include "component/host_services.h"
#include "host/memory_streams.h"
#include "host/message_pump.h"
#include "host/player_services.h"
#include "host/process_counts.h"
#include "pipeline/output_writer.h"
#include "pipeline/write_scheduler.h"
#include "settings/component_settings.h"
#include "settings/settings_store.h"
#include "text/text_conversion.h"

// Measures what publishing the now-playing text costs against the platform's own calls, in one run on one machine,
// and prints a table of ratios.

namespace {

using stand_in::pump_messages_for;

double now_seconds()
{
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return static_cast<double>(value.QuadPart) / frequency;
}

// The best of several timed runs of the work, in seconds: the least disturbed by the rest of the machine.
double best_of(int runs, const std::function<void()>& work)
{
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        const double start = now_seconds();
        work();
        best = std::min(best, now_seconds() - start);
    }
    return best;
}

struct row {
    std::string figure;
    double component;
    double baseline;
    std::string unit;
    double goal; // 0: report only
    // The median of per-round ratios and their spread, when the figure was timed in alternating rounds.
    double ratio = 0, lowest = 0, highest = 0;
};

struct alternating {
    double component = 0, baseline = 0; // median seconds per round
    double ratio = 0, lowest = 0, highest = 0;
};

double median_of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Times the component and its baseline in alternating rounds, each round timing both, so that a change in the
// machine's pace touches both sides of a round alike. Every other round runs the baseline first, so that neither
// side always inherits what the other left behind (a file system busy with the last writes, say).
alternating in_alternating_rounds(int rounds, const std::function<void()>& component,
                                  const std::function<void()>& baseline)
{
    const auto timed = [](const std::function<void()>& work) {
        const double start = now_seconds();
        work();
        return now_seconds() - start;
    };
    std::vector<double> component_times, baseline_times, ratios;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            component_times.push_back(timed(component));
            baseline_times.push_back(timed(baseline));
        } else {
            baseline_times.push_back(timed(baseline));
            component_times.push_back(timed(component));
        }
        ratios.push_back(component_times.back() / baseline_times.back());
    }
    alternating result;
    result.component = median_of(component_times);
    result.baseline = median_of(baseline_times);
    result.ratio = median_of(ratios);
    result.lowest = *std::min_element(ratios.begin(), ratios.end());
    result.highest = *std::max_element(ratios.begin(), ratios.end());
    return result;
}

std::vector<row> table;

void report(const row& measured)
{
    table.push_back(measured);
    std::printf("  measured: %s\n", measured.figure.c_str());
    std::fflush(stdout);
}

std::wstring temp_file(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

std::string utf8_of(const std::wstring& text)
{
    char bytes[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

std::size_t file_size(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeLow;
}

// A file's whole new content published as the writer does it, with the platform's calls alone: the target's
// attributes asked (a read-only, hidden or system file, or a link, must not be replaced), then a temporary file
// beside it, renamed over it.
void publish_by_hand(const std::wstring& path, const std::string& bytes)
{
    if ((GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0)
        return;
    static std::vector<unsigned char> information;
    const std::size_t name_bytes = path.size() * sizeof(wchar_t);
    information.assign(offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t), 0);
    FILE_RENAME_INFO* rename = new (information.data()) FILE_RENAME_INFO{};
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(information.data() + offsetof(FILE_RENAME_INFO, FileName), path.c_str(), name_bytes + sizeof(wchar_t));
    const HANDLE file = CreateFileW((path + L".velmora.tmp").c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    SetFileInformationByHandle(file, FileRenameInfo, information.data(), static_cast<DWORD>(information.size()));
    CloseHandle(file);
}

// The file emptied and written, as every replacing write was before the one-step publish.
void write_in_place_by_hand(const std::wstring& path, const std::string& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    CloseHandle(file);
}

// The writer alone, replacing the file: against the same publish done by hand (the goal), and against today's
// in-place write, which readers can catch half done (the price of never being caught so).
void replace_write_figures(const std::wstring& path)
{
    constexpr int writes = 200, rounds = 21;
    velmora::output_encoding.set(velmora::encoding_utf8_with_header);
    velmora::log_mode.set(0);
    const velmora::utf8_string text("playing: Nina Simone - Feeling Good");
    const std::string bytes = "\xEF\xBB\xBF" + std::string(text.c_str());
    const auto writer = [&] {
        for (int write = 0; write < writes; ++write)
            velmora::write_output(text);
    };
    const alternating safe = in_alternating_rounds(rounds, writer, [&] {
        for (int write = 0; write < writes; ++write)
            publish_by_hand(path, bytes);
    });
    report({"replace-mode write (per write) vs the same publish by hand", safe.component / writes * 1e6,
            safe.baseline / writes * 1e6, "us", 1.10, safe.ratio, safe.lowest, safe.highest});
    const alternating price = in_alternating_rounds(rounds, writer, [&] {
        for (int write = 0; write < writes; ++write)
            write_in_place_by_hand(path, bytes);
    });
    report({"replace-mode write (per write) vs an in-place write by hand", price.component / writes * 1e6,
            price.baseline / writes * 1e6, "us", 0, price.ratio, price.lowest, price.highest});
}

void event_write_figure(velmora::write_scheduler& scheduler, const std::wstring& path)
{
    constexpr int writes = 300;
    velmora::output_encoding.set(velmora::encoding_utf8_with_header);
    velmora::log_mode.set(0);
    velmora::event_settings.set_word(velmora::delay_enabled, 0);
    const double component = best_of(3, [&] {
        for (int write = 0; write < writes; ++write)
            scheduler.request_write();
    });
    std::ifstream written(path.c_str(), std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(written), {});
    const double baseline = best_of(3, [&] {
        for (int write = 0; write < writes; ++write)
            publish_by_hand(path, bytes);
    });
    report({"event write, no delay (per write)", component / writes * 1e6, baseline / writes * 1e6, "us", 1.10});
}

std::string mixed_text(std::size_t bytes)
{
    const char* pieces[] = {"caf\xC3\xA9 ", "na\xC3\xAFve ", "\xE4\xB8\xAD\xE6\x96\x87 ", "\xF0\x9F\x8E\xB5 ", "ok "};
    std::mt19937 random(5);
    std::string text;
    while (text.size() < bytes)
        text += pieces[random() % 5];
    return text;
}

void conversion_figures()
{
    for (const auto& [name, text] : {std::make_pair(std::string("ASCII"), std::string(1 << 20, 'a')),
                                     std::make_pair(std::string("mixed"), mixed_text(1 << 20))}) {
        const double ours = best_of(5, [&] { velmora::utf8_to_wide(text.c_str()); });
        const double platform = best_of(5, [&] {
            const int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
            std::vector<wchar_t> wide(static_cast<std::size_t>(units));
            MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), units);
        });
        report({"utf8_to_wide, 1 MB " + name, ours * 1e3, platform * 1e3, "ms", 1.0});

        const velmora::wide_string wide = velmora::utf8_to_wide(text.c_str());
        const double back = best_of(5, [&] { velmora::wide_to_utf8(wide.text()); });
        const double platform_back = best_of(5, [&] {
            const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.text(), -1, nullptr, 0, nullptr, nullptr);
            std::vector<char> utf8(static_cast<std::size_t>(bytes));
            WideCharToMultiByte(CP_UTF8, 0, wide.text(), -1, utf8.data(), bytes, nullptr, nullptr);
        });
        report({"wide_to_utf8, 1 MB " + name, back * 1e3, platform_back * 1e3, "ms", 1.0});
    }
}

DWORD WINAPI draining_thread(void* ready)
{
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(static_cast<HANDLE>(ready));
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    }
    return 0;
}

void main_thread_cost_figure(velmora::write_scheduler& scheduler)
{
    constexpr int requests = 5000;
    velmora::event_settings.set_word(velmora::delay_enabled, 1);
    velmora::event_settings.set_word(velmora::delay_ms, 3600000);
    scheduler.request_write();
    const double component = best_of(5, [&] {
        for (int request = 0; request < requests; ++request)
            scheduler.request_write();
        Sleep(20);
    });
    const HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD thread_id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, draining_thread, ready, 0, &thread_id);
    WaitForSingleObject(ready, INFINITE);
    const double baseline = best_of(5, [&] {
        for (int request = 0; request < requests; ++request)
            PostThreadMessageW(thread_id, WM_USER + 4, 1, 2);
        Sleep(20);
    });
    PostThreadMessageW(thread_id, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(ready);
    const double sleep_share = 0.020;
    report({"main-thread cost of a delayed request", (component - sleep_share) / requests * 1e6,
            (baseline - sleep_share) / requests * 1e6, "us", 1.2});
}

void debounce_figure(velmora::write_scheduler& scheduler, const std::wstring& path)
{
    velmora::now_playing_script.set("x");
    velmora::output_encoding.set(velmora::encoding_utf8);
    velmora::log_mode.set(1);
    velmora::event_settings.set_word(velmora::delay_ms, 200);
    velmora::event_settings.set_word(velmora::delay_enabled, 1);
    pump_messages_for(300);
    DeleteFileW(path.c_str());
    const double start = now_seconds();
    double last_request = start;
    for (int request = 0; request < 1000; ++request) {
        while (now_seconds() - start < request / 1000.0)
            pump_messages_for(0);
        scheduler.request_write();
        last_request = now_seconds();
    }
    std::vector<double> write_times;
    std::size_t seen = file_size(path);
    const std::size_t during_burst = seen;
    while (now_seconds() - last_request < 1.05) {
        pump_messages_for(1);
        const std::size_t size = file_size(path);
        if (size != seen) {
            for (std::size_t count = seen; count < size; ++count)
                write_times.push_back((now_seconds() - last_request) * 1e3);
            seen = size;
        }
    }
    std::string offsets;
    for (double offset : write_times)
        offsets += (offsets.empty() ? "" : ", ") + std::to_string(static_cast<int>(offset + 0.5));
    std::printf("  debounce: %zu write(s) during the burst; writes at %s ms after the last request\n", during_burst,
                offsets.c_str());
    const double first = write_times.empty() ? -1 : write_times.front();
    report({"debounce: first write after the last of 1000 requests (ms, goal 200 +-30)", first, 200, "ms", 0});
    velmora::event_settings.set_word(velmora::delay_enabled, 0);
}

void steady_state_figure(velmora::write_scheduler& scheduler, int writes)
{
    velmora::now_playing_script.set(velmora::default_now_playing_script);
    velmora::log_mode.set(0);
    velmora::event_settings.set_word(velmora::delay_enabled, 0);
    for (int write = 0; write < 200; ++write)
        scheduler.request_write();
    const stand_in::process_counts before = stand_in::process_counts_now();
    const double start = now_seconds();
    for (int write = 0; write < writes; ++write)
        scheduler.request_write();
    const double seconds = now_seconds() - start;
    const stand_in::process_counts after = stand_in::process_counts_now();
    std::printf("  steady state over %d writes (%.1f s): handles %lu -> %lu, GDI %lu -> %lu, USER %lu -> %lu, "
                "windows %lu -> %lu, process heap busy bytes %lu -> %lu\n",
                writes, seconds, static_cast<unsigned long>(before.handles), static_cast<unsigned long>(after.handles),
                before.gdi_objects, after.gdi_objects, before.user_objects, after.user_objects,
                static_cast<unsigned long>(before.windows), static_cast<unsigned long>(after.windows),
                static_cast<unsigned long>(before.heap_bytes), static_cast<unsigned long>(after.heap_bytes));
    report({"steady state: handle growth over " + std::to_string(writes) + " writes",
            static_cast<double>(after.handles) - before.handles, 0, "handles", 0});
    report({"steady state: process heap growth", static_cast<double>(after.heap_bytes) - before.heap_bytes, 0, "bytes",
            0});
}

void settings_figure()
{
    stand_in::scripted_abort never;
    constexpr int rounds = 2000;
    const double seconds = best_of(3, [&] {
        for (int round = 0; round < rounds; ++round) {
            stand_in::memory_write_stream saved;
            velmora::save_settings(saved, never);
            stand_in::memory_read_stream loaded(saved.bytes);
            velmora::load_settings(loaded, never);
        }
    });
    report({"settings save + load of the seven records", seconds / rounds * 1e6, 0, "us", 0});
}

} // namespace

int main(int argument_count, char** arguments)
{
    const int steady_writes = argument_count > 1 ? std::atoi(arguments[1]) : 100000;
    stand_in::reference_audit audit;
    stand_in::player_services host(audit);
    velmora::set_service_registry(&host.registry);
    const std::wstring path = temp_file(L"velmora-bench.txt");
    velmora::output_path.set(utf8_of(path).c_str());

    velmora::write_scheduler scheduler;
    std::printf("measuring...\n");
    event_write_figure(scheduler, path);
    replace_write_figures(path);
    conversion_figures();
    main_thread_cost_figure(scheduler);
    debounce_figure(scheduler, path);
    steady_state_figure(scheduler, steady_writes);
    settings_figure();
    scheduler.close();

    std::printf("\n| figure | component | baseline | ratio | goal | met |\n|---|---|---|---|---|---|\n");
    for (const row& measured : table) {
        char component[32], baseline[32], ratio[32] = "-", goal[32] = "report", met[16] = "-";
        std::snprintf(component, sizeof component, "%.2f %s", measured.component, measured.unit.c_str());
        std::snprintf(baseline, sizeof baseline, measured.baseline != 0 ? "%.2f %s" : "-", measured.baseline,
                      measured.unit.c_str());
        const double value = measured.ratio > 0      ? measured.ratio
                             : measured.baseline > 0 ? measured.component / measured.baseline
                                                     : 0;
        if (measured.ratio > 0)
            std::snprintf(ratio, sizeof ratio, "%.2f (%.2f-%.2f)", value, measured.lowest, measured.highest);
        else if (value > 0 && measured.goal > 0)
            std::snprintf(ratio, sizeof ratio, "%.2f", value);
        if (value > 0 && measured.goal > 0) {
            std::snprintf(goal, sizeof goal, "<= %.2f", measured.goal);
            std::snprintf(met, sizeof met, "%s", value <= measured.goal ? "met" : "not met");
        }
        std::printf("| %s | %s | %s | %s | %s | %s |\n", measured.figure.c_str(), component, baseline, ratio, goal,
                    met);
    }
    velmora::set_service_registry(nullptr);
    DeleteFileW(path.c_str());
    return 0;
}
