#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <winsock2.h>

#include <windows.h>

#include "art/cover_art.h"
#include "boundary/host_services.h"
#include "boundary/shared_library.h"
#include "events/delay_scheduler.h"
#include "events/now_playing_request.h"
#include "events/output_request.h"
#include "events/playback_event_sink.h"
#include "formatting/text_formatting.h"
#include "host/doubles/formatting_clock.h"
#include "host/doubles/memory_streams.h"
#include "host/doubles/message_pump.h"
#include "host/doubles/player_services.h"
#include "host/doubles/process_counts.h"
#include "output/cover_thread.h"
#include "output/file_step.h"
#include "output/output_thread.h"
#include "overlay/overlay_server.h"
#include "settings/component_settings.h"
#include "settings/settings_store.h"
#include "text/text_conversion.h"
#include "win32/file_handle.h"
#include "win32/kernel_handle.h"
#include "win32/socket_handle.h"

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

double seconds_of(const std::function<void()>& work)
{
    const double start = now_seconds();
    work();
    return now_seconds() - start;
}

// What the component itself spent on the work: its time less the time the stand-in host spent formatting in it,
// which is the host's cost.
double seconds_without_formatting(const std::function<void()>& work)
{
    const double formatting = stand_in::formatting_clock::seconds();
    const double elapsed = seconds_of(work);
    return elapsed - (stand_in::formatting_clock::seconds() - formatting);
}

double median_of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct alternating {
    double component = 0, baseline = 0; // median seconds per turn
    double ratio = 0, lowest = 0, highest = 0;
};

// The medians of the rounds' times and ratios, with the lowest and highest ratio.
alternating summarised(const std::vector<double>& component_times, const std::vector<double>& baseline_times,
                       const std::vector<double>& ratios)
{
    alternating result;
    result.component = median_of(component_times);
    result.baseline = median_of(baseline_times);
    result.ratio = median_of(ratios);
    result.lowest = *std::min_element(ratios.begin(), ratios.end());
    result.highest = *std::max_element(ratios.begin(), ratios.end());
    return result;
}

// A side of a figure: does one turn of its work and gives the seconds it counts of it, so that a side can leave
// out its own set-up.
using timed_turn = std::function<double()>;

// Times the component and its baseline in alternating rounds. In a round the two sides take turns, and every
// other turn the baseline goes first, so that both meet the machine in the same state (a file system still busy
// with the last writes, say) and neither always inherits what the other left behind. A round's ratio is that of
// its two sums; the figure is the median of the rounds' ratios, with the lowest and highest beside it. settle runs
// untimed before every round.
alternating in_alternating_rounds(
    int rounds, int turns, const timed_turn& component, const timed_turn& baseline,
    const std::function<void()>& settle = [] {})
{
    std::vector<double> component_times, baseline_times, ratios;
    for (int round = 0; round < rounds; ++round) {
        settle();
        double component_sum = 0, baseline_sum = 0;
        for (int turn = 0; turn < turns; ++turn) {
            if ((round + turn) % 2 == 0) {
                component_sum += component();
                baseline_sum += baseline();
            } else {
                baseline_sum += baseline();
                component_sum += component();
            }
        }
        component_times.push_back(component_sum / turns);
        baseline_times.push_back(baseline_sum / turns);
        ratios.push_back(component_sum / baseline_sum);
    }
    return summarised(component_times, baseline_times, ratios);
}

// Rounds of two timed stretches in turns, the order changing from one round to the next; each round's ratio is that
// of its two means. Ends early once go_on says no.
alternating stretches_in_turns(
    int rounds, const std::function<double()>& component, const std::function<double()>& baseline,
    const std::function<bool()>& go_on, const std::function<void()>& settle = [] {})
{
    std::vector<double> component_times, baseline_times, ratios;
    for (int round = 0; round < rounds && go_on(); ++round) {
        settle();
        double first = 0, second = 0;
        if (round % 2 == 0) {
            first = component();
            second = baseline();
        } else {
            second = baseline();
            first = component();
        }
        component_times.push_back(first);
        baseline_times.push_back(second);
        ratios.push_back(first / second);
    }
    if (ratios.empty())
        return {};
    return summarised(component_times, baseline_times, ratios);
}

enum class verdict { report, met, not_met };

struct row {
    std::string figure, component, baseline, ratio, goal;
    verdict outcome;
};

std::vector<row> table;

void report(const row& measured)
{
    table.push_back(measured);
    std::printf("  measured: %s\n", measured.figure.c_str());
    std::fflush(stdout);
}

std::string formatted(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A ratio row: the per-turn times scaled to the unit, the median ratio with its spread, and the verdict against
// the goal (0: report only).
void report_ratio(const std::string& figure, const alternating& measured, double scale, const char* unit, double goal)
{
    const std::string value_format = std::string("%.2f ") + unit;
    char ratio[64];
    std::snprintf(ratio, sizeof ratio, "%.2f (%.2f-%.2f)", measured.ratio, measured.lowest, measured.highest);
    const verdict outcome = goal <= 0 ? verdict::report : measured.ratio <= goal ? verdict::met : verdict::not_met;
    report({figure, formatted(value_format.c_str(), measured.component * scale),
            formatted(value_format.c_str(), measured.baseline * scale), ratio,
            goal <= 0 ? "report" : formatted("<= %.2f", goal), outcome});
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

// A Unix path as Wine names it.
std::wstring wide_of(const char* unix_path)
{
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_UTF8, 0, unix_path, -1, wide, MAX_PATH);
    std::wstring name = std::wstring(L"Z:") + wide;
    std::replace(name.begin(), name.end(), L'/', L'\\');
    return name;
}

std::size_t file_size(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeLow;
}

// A file's whole new content published as the output thread does it, with the platform's calls alone: the
// target's attributes and its count of hard links asked (a read-only, hidden or system file, a link, or a file of
// several names must not be replaced), then a temporary file beside it, written, flushed and renamed over it.
void publish_by_hand(const std::wstring& path, const std::string& bytes)
{
    if ((GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0)
        return;
    const HANDLE target = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    FILE_STANDARD_INFO standard{};
    GetFileInformationByHandleEx(target, FileStandardInfo, &standard, sizeof standard);
    CloseHandle(target);
    if (standard.NumberOfLinks > 1)
        return;
    thread_local std::vector<unsigned char> information;
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
    FlushFileBuffers(file);
    SetFileInformationByHandle(file, FileRenameInfo, information.data(), static_cast<DWORD>(information.size()));
    CloseHandle(file);
}

// Drops the stand-in host's records of the scripts and tracks it made, which the component no longer holds, so that
// the host's own memory does not grow with a figure.
void forget_host_records(stand_in::player_services& host)
{
    host.compiler.forget();
    host.factory.forget();
}

// The settings every write figure starts from: the default script, to the file only, replaced, "UTF-8 with
// header", no delay.
void write_settings()
{
    velmora::now_playing_script.set(velmora::default_now_playing_script);
    velmora::output_targets.set_word(velmora::output_target_word::save_to_file, 1);
    velmora::output_targets.set_word(velmora::output_target_word::copy_to_clipboard, 0);
    velmora::output_encoding.set(velmora::encoding_utf8_with_header);
    velmora::log_mode.set(0);
    velmora::event_settings.set_word(velmora::event_word::delay_enabled, 0);
}

std::string file_bytes(const std::wstring& path)
{
    std::ifstream written(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(written), {});
}

constexpr int write_rounds = 21, writes_per_round = 200;

DWORD WINAPI draining_thread(void* ready)
{
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(static_cast<HANDLE>(ready));
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    }
    return 0;
}

// A thread that only takes posted messages off its queue, started and ended with the scope.
class draining_receiver {
public:
    draining_receiver()
    {
        const velmora::kernel_handle ready(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        thread_ = velmora::kernel_handle(CreateThread(nullptr, 0, draining_thread, ready.get(), 0, &id_));
        WaitForSingleObject(ready.get(), 10000);
    }
    draining_receiver(const draining_receiver&) = delete;
    draining_receiver& operator=(const draining_receiver&) = delete;
    ~draining_receiver()
    {
        PostThreadMessageW(id_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_.get(), 60000);
    }
    DWORD id() const { return id_; }

private:
    velmora::kernel_handle thread_;
    DWORD id_ = 0;
};

// The disk an event write's figure writes to: a free file, one a reader holds open (so that the output thread
// retries and writes in place), or a file on a disk that takes half a second over every open, write and rename.
struct disk {
    std::string name;
    std::wstring path;
    bool held;
};

// A write's hand-over done by hand as leanly as it can be: the path expanded through the host and made full, the text
// encoded, both copied into a job and pushed on a locked queue. A thread of its own takes what waits and publishes
// the newest by hand to a file of its own beside the target, so that the machine is as busy as under the component.
class hand_over_by_hand {
public:
    explicit hand_over_by_hand(std::wstring own_file)
        : own_file_(std::move(own_file)), thread_(CreateThread(nullptr, 0, run, this, 0, nullptr))
    {}
    hand_over_by_hand(const hand_over_by_hand&) = delete;
    hand_over_by_hand& operator=(const hand_over_by_hand&) = delete;
    ~hand_over_by_hand()
    {
        AcquireSRWLockExclusive(&lock_);
        ending_ = true;
        ReleaseSRWLockExclusive(&lock_);
        WakeConditionVariable(&arrived_);
        WaitForSingleObject(thread_.get(), 60000);
    }

    void write(const char* configured_path, const std::string& text)
    {
        velmora::utf8_string expanded;
        uExpandEnvironmentStrings(configured_path, &expanded);
        const int units = MultiByteToWideChar(CP_UTF8, 0, expanded.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(units), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, expanded.c_str(), -1, wide.data(), units);
        auto job = std::make_unique<job_by_hand>();
        job->path.resize(GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr));
        job->path.resize(
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(job->path.size()), job->path.data(), nullptr));
        job->bytes.reserve(text.size() + 3);
        job->bytes.append("\xEF\xBB\xBF").append(text);
        AcquireSRWLockExclusive(&lock_);
        jobs_.push_back(std::move(job));
        const bool wake = waiting_;
        ReleaseSRWLockExclusive(&lock_);
        if (wake)
            WakeConditionVariable(&arrived_);
    }

private:
    struct job_by_hand {
        std::wstring path;
        std::string bytes;
    };

    static DWORD WINAPI run(void* argument)
    {
        auto* self = static_cast<hand_over_by_hand*>(argument);
        std::deque<std::unique_ptr<job_by_hand>> taken;
        AcquireSRWLockExclusive(&self->lock_);
        while (!self->ending_ || !self->jobs_.empty()) {
            if (self->jobs_.empty()) {
                self->waiting_ = true;
                SleepConditionVariableSRW(&self->arrived_, &self->lock_, INFINITE, 0);
                self->waiting_ = false;
                continue;
            }
            taken.swap(self->jobs_);
            ReleaseSRWLockExclusive(&self->lock_);
            publish_by_hand(self->own_file_, taken.back()->bytes);
            taken.clear();
            AcquireSRWLockExclusive(&self->lock_);
        }
        ReleaseSRWLockExclusive(&self->lock_);
        return 0;
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE arrived_ = CONDITION_VARIABLE_INIT;
    std::deque<std::unique_ptr<job_by_hand>> jobs_;
    bool waiting_ = false;
    bool ending_ = false;
    const std::wstring own_file_;
    velmora::kernel_handle thread_;
};

// Two tracks that take turns as the playing one, so that every event brings a new text; the track that played before
// plays again once they go.
class two_tracks {
public:
    two_tracks(stand_in::player_services& host, stand_in::reference_audit& audit)
        : host_(host),
          previous_(host.control.playing), tracks_{
                                               {audit, "first", {{"artist", "Nina Simone"}, {"title", "Feeling Good"}}},
                                               {audit, "second", {{"artist", "Nina Simone"}, {"title", "Sinnerman"}}}}
    {}
    two_tracks(const two_tracks&) = delete;
    two_tracks& operator=(const two_tracks&) = delete;
    ~two_tracks() { host_.control.playing = previous_; }

    // Makes the turn's track the playing one; gives its index.
    int play(int turn)
    {
        host_.control.playing = &tracks_[turn % 2];
        return turn % 2;
    }

    // The track's text as the configured script formats it.
    velmora::utf8_string formatted(int track)
    {
        play(track);
        velmora::utf8_string text;
        velmora::format_now_playing(velmora::now_playing_script.text(), text);
        return text;
    }

private:
    stand_in::player_services& host_;
    stand_in::track_handle* const previous_;
    stand_in::track_handle tracks_[2];
};

// What an event write with the delay off costs the host's main thread, less the host's formatting: all the file work
// is the output thread's, on every disk. Against two baselines in turn: a bare post to another thread, and the same
// hand-over done by hand, which does not lean on what a post costs on one platform or another. Two tracks take turns,
// so that every event brings a new text and both threads publish each one. With one text throughout, the output
// thread finds it already there, waits for work, and every next event pays for waking it, which the hand's thread,
// busy publishing, never needs.
void main_thread_write_figures(stand_in::player_services& host, stand_in::reference_audit& audit, const disk& target)
{
    write_settings();
    velmora::output_path.set(utf8_of(target.path).c_str());
    two_tracks tracks(host, audit);
    const std::string texts[] = {tracks.formatted(0).c_str(), tracks.formatted(1).c_str()};
    velmora::delay_scheduler scheduler;
    scheduler.request_write();
    velmora::wait_for_output(60000);
    const std::wstring own_file = target.path + L".by-hand.txt";
    publish_by_hand(own_file, texts[0]);
    HANDLE holders[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    if (target.held) {
        for (int file = 0; file < 2; ++file)
            holders[file] = CreateFileW((file == 0 ? target.path : own_file).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    int events = 0, by_hand_writes = 0;
    const auto event_write = [&] {
        tracks.play(events++);
        return seconds_without_formatting([&] { scheduler.request_write(); });
    };
    const auto settle = [&] { forget_host_records(host); };
    const std::string figure = "main thread's time per event write less the host's formatting, " + target.name;
    {
        const draining_receiver receiver;
        report_ratio(figure + ", vs a bare PostThreadMessage",
                     in_alternating_rounds(
                         write_rounds, writes_per_round, event_write,
                         [&] { return seconds_of([&] { PostThreadMessageW(receiver.id(), WM_USER + 4, 1, 2); }); },
                         settle),
                     1e6, "us", 1.50);
    }
    {
        hand_over_by_hand by_hand(own_file);
        const std::string configured_path(velmora::output_path.text());
        report_ratio(figure + ", vs the same hand-over by hand",
                     in_alternating_rounds(
                         write_rounds, writes_per_round, event_write,
                         [&] {
                             const std::string& text = texts[by_hand_writes++ % 2];
                             return seconds_of([&] { by_hand.write(configured_path.c_str(), text); });
                         },
                         settle),
                     1e6, "us", 1.25);
    }
    // The last text lands before the figure ends, on the slow disk too.
    velmora::wait_for_output(60000);
    for (HANDLE holder : holders) {
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
    }
    DeleteFileW(own_file.c_str());
    scheduler.close();
    velmora::output_path.set(utf8_of(temp_file(L"velmora-bench.txt")).c_str());
}

// What an event costs the main thread with four outputs, each to a file of its own, against four times what it
// costs with output 1 alone, in the same run: the cost grows with the outputs that write and with nothing else.
void several_outputs_figure(stand_in::player_services& host, const std::wstring& path)
{
    write_settings();
    velmora::output_path.set(utf8_of(path).c_str());
    std::vector<velmora::output_settings> three;
    for (int number = 2; number <= 4; ++number) {
        velmora::output_settings added = velmora::default_added_output();
        added.path = utf8_of(path + L"." + std::to_wstring(number) + L".txt");
        three.push_back(added);
    }
    std::vector<velmora::output_settings> none;
    velmora::delay_scheduler scheduler;
    const auto writes_with = [&](std::vector<velmora::output_settings>& outputs, double scale) {
        velmora::added_outputs.outputs().swap(outputs);
        const double seconds = seconds_without_formatting([&] { scheduler.request_write(); });
        velmora::added_outputs.outputs().swap(outputs);
        return seconds * scale;
    };
    writes_with(three, 1);
    velmora::wait_for_output(60000);
    report_ratio("main thread's time per event write less the host's formatting, 4 outputs, vs 4 times 1 output",
                 in_alternating_rounds(
                     write_rounds, writes_per_round, [&] { return writes_with(three, 1); },
                     [&] { return writes_with(none, 4); }, [&] { forget_host_records(host); }),
                 1e6, "us", 1.10);
    velmora::wait_for_output(60000);
    scheduler.close();
    for (const velmora::output_settings& added : three)
        DeleteFileW(velmora::utf8_to_wide(added.path.c_str()).text());
}

// Whether the file holds exactly these bytes now, read by path as a reader does.
bool file_holds(const std::wstring& path, const std::string& bytes)
{
    const velmora::file_handle file(CreateFileW(path.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    if (!file.valid())
        return false;
    std::string read(bytes.size() + 1, '\0');
    DWORD count = 0;
    return ReadFile(file.get(), read.data(), static_cast<DWORD>(read.size()), &count, nullptr) &&
           count == bytes.size() && std::memcmp(read.data(), bytes.data(), count) == 0;
}

// The seconds from the write's call until the file holds the bytes, read by path, less the host's formatting; ten
// seconds at most.
double seconds_until_file_holds(const std::function<void()>& write, const std::wstring& path, const std::string& bytes)
{
    return seconds_without_formatting([&] {
        write();
        const double start = now_seconds();
        while (!file_holds(path, bytes) && now_seconds() - start < 10) {
            // The reader leaves the disk alone 50 us between reads: under Wine every read is three calls that the one
            // server also takes the writer's calls from, and a reader that reads without pause slowed the output
            // thread's publish by a tenth.
            const double read_again = now_seconds() + 50e-6;
            while (now_seconds() < read_again) {
            }
        }
    });
}

// From the event call to the new text readable by path on a free file, against the same publish done by hand on the
// caller's thread and read back the same way. Two tracks take turns, so that every write changes the file.
void event_to_readable_figure(stand_in::player_services& host, stand_in::reference_audit& audit,
                              const std::wstring& path)
{
    write_settings();
    velmora::output_path.set(utf8_of(path).c_str());
    two_tracks tracks(host, audit);
    std::string bytes[2];
    for (int track = 0; track < 2; ++track) {
        const std::shared_ptr<const velmora::output_job> job = velmora::make_output_job(tracks.formatted(track));
        bytes[track] = std::string(job->entry.bytes(), job->entry.size());
    }
    velmora::delay_scheduler scheduler;
    int component_turns = 0, hand_turns = 0;
    const auto readable_within = [&](const std::function<void()>& write, const std::string& expected) {
        return seconds_until_file_holds(write, path, expected);
    };
    const alternating latency = in_alternating_rounds(
        write_rounds, 20,
        [&] {
            const int track = tracks.play(component_turns++);
            return readable_within([&] { scheduler.request_write(); }, bytes[track]);
        },
        [&] {
            const int track = hand_turns++ % 2;
            return readable_within([&] { publish_by_hand(path, bytes[track]); }, bytes[track]);
        },
        [&] {
            velmora::wait_for_output(60000);
            forget_host_records(host);
        });
    report_ratio("event call to the new text readable by path, free file, vs the same publish by hand on the caller's "
                 "thread",
                 latency, 1e6, "us", 1.50);
    velmora::wait_for_output(60000);
    scheduler.close();
}

// A row for a count that may not grow over a run.
void growth_row(const std::string& figure, std::size_t from, std::size_t to, const char* unit)
{
    const double growth = static_cast<double>(to) - static_cast<double>(from);
    report({figure, formatted((std::string("%+.0f ") + unit).c_str(), growth),
            formatted((std::string("%.0f ") + unit).c_str(), static_cast<double>(from)), "-", "no growth",
            growth <= 0 ? verdict::met : verdict::not_met});
}

void write_new_file(const std::wstring& path, const std::string& bytes)
{
    const velmora::file_handle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

// Two tracks in folders of their own under a folder, each with a picture beside it of about the size given (the two
// differ, so that every change of track changes the art), taking turns as the playing one.
class tracks_with_art {
public:
    tracks_with_art(stand_in::player_services& host, stand_in::reference_audit& audit, const std::wstring& folder,
                    std::size_t picture_bytes)
        : host_(host), previous_(host.control.playing), folder_(folder),
          tracks_{{audit, "first", {{"artist", "Nina Simone"}, {"title", "Feeling Good"}, {"path", track_path(0)}}},
                  {audit, "second", {{"artist", "Nina Simone"}, {"title", "Sinnerman"}, {"path", track_path(1)}}}}
    {
        CreateDirectoryW(folder_.c_str(), nullptr);
        for (int track = 0; track < 2; ++track) {
            CreateDirectoryW(album(track).c_str(), nullptr);
            write_new_file(location(track), "");
            // A PNG's signature and header, then filler: the art is published as found, never decoded.
            pictures_[track] = std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x01\0\0\0\x01\0", 24);
            pictures_[track].resize(picture_bytes + static_cast<std::size_t>(track) * 1000,
                                    static_cast<char>('a' + track));
            write_new_file(album(track) + L"\\cover.png", pictures_[track]);
        }
    }
    tracks_with_art(const tracks_with_art&) = delete;
    tracks_with_art& operator=(const tracks_with_art&) = delete;
    ~tracks_with_art()
    {
        host_.control.playing = previous_;
        for (int track = 0; track < 2; ++track) {
            DeleteFileW((album(track) + L"\\01.mp3").c_str());
            DeleteFileW((album(track) + L"\\cover.png").c_str());
            RemoveDirectoryW(album(track).c_str());
        }
        RemoveDirectoryW(folder_.c_str());
    }

    // Makes the turn's track the playing one; gives its index.
    int play(int turn)
    {
        host_.control.playing = &tracks_[turn % 2];
        return turn % 2;
    }
    const std::string& picture(int track) const { return pictures_[track]; }
    std::wstring location(int track) const { return album(track) + L"\\01.mp3"; }

private:
    std::wstring album(int track) const { return folder_ + (track == 0 ? L"\\A" : L"\\B"); }
    std::string track_path(int track) const { return utf8_of(location(track)); }

    stand_in::player_services& host_;
    stand_in::track_handle* const previous_;
    const std::wstring folder_;
    std::string pictures_[2];
    stand_in::track_handle tracks_[2];
};

// The folder a file is in.
std::wstring folder_of(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L'\\'));
}

// What a new track costs the host's main thread with the cover art on (its file, and the tracks with their pictures,
// on the disk of the figure) against the same event with it off, less the host's formatting: finding, reading and
// publishing the art are the cover art's thread's.
void cover_art_main_thread_figure(stand_in::player_services& host, stand_in::reference_audit& audit, const disk& target)
{
    write_settings();
    velmora::output_path.set(utf8_of(target.path).c_str());
    const std::wstring folder = folder_of(target.path) + L"\\velmora-bench-art";
    tracks_with_art tracks(host, audit, folder, 20000);
    const std::wstring cover = folder + L"\\cover.png";
    const std::string cover_setting = utf8_of(cover);
    velmora::delay_scheduler scheduler;
    velmora::cover_settings.set(cover_setting, "");
    velmora::request_cover_art();
    velmora::wait_for_cover(60000);
    const velmora::file_handle holder(target.held
                                          ? CreateFileW(cover.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                        nullptr, OPEN_EXISTING, 0, nullptr)
                                          : INVALID_HANDLE_VALUE);
    int art_turns = 0, plain_turns = 0;
    const auto new_track = [&](bool with_art, int turn) {
        velmora::cover_settings.set(with_art ? cover_setting : std::string(), "");
        tracks.play(turn);
        return seconds_without_formatting([&] {
            velmora::carry_location_with_texts();
            scheduler.request_write();
            velmora::request_cover_art();
        });
    };
    report_ratio("main thread's time per new track less the host's formatting, " + target.name +
                     ", cover art on vs off",
                 in_alternating_rounds(
                     write_rounds, writes_per_round, [&] { return new_track(true, art_turns++); },
                     [&] { return new_track(false, plain_turns++); }, [&] { forget_host_records(host); }),
                 1e6, "us", 1.05);
    velmora::wait_for_output(60000);
    velmora::cover_settings.set(cover_setting, "");
    velmora::finish_cover_at_shutdown(60000);
    velmora::deliver_cover_lines();
    velmora::cover_settings.set("", "");
    scheduler.close();
    DeleteFileW(cover.c_str());
}

// From the new track's call to its art readable by path, against the same search, read and publish done by hand on
// the caller's thread and read back the same way; then a thousand changes of 5 MB pictures, which leave the handles
// and the heap where they were.
void cover_art_latency_figures(stand_in::player_services& host, stand_in::reference_audit& audit,
                               const std::wstring& path)
{
    write_settings();
    const std::wstring folder = folder_of(path) + L"\\velmora-bench-art";
    const std::wstring cover = folder + L"\\cover.png";
    {
        tracks_with_art tracks(host, audit, folder, 20000);
        velmora::cover_settings.set(utf8_of(cover), "");
        int component_turns = 0, hand_turns = 0;
        const auto readable_within = [&](const std::function<void()>& publish, const std::string& expected) {
            return seconds_until_file_holds(publish, cover, expected);
        };
        const alternating latency = in_alternating_rounds(
            write_rounds, 20,
            [&] {
                const int track = tracks.play(component_turns++);
                return readable_within([] { velmora::request_cover_art(); }, tracks.picture(track));
            },
            [&] {
                const int track = hand_turns++ % 2;
                return readable_within(
                    [&] {
                        bool timed_out = false;
                        const auto art =
                            velmora::find_cover_art(tracks.location(track), GetTickCount64() + 60000, timed_out);
                        publish_by_hand(cover, *art->bytes);
                    },
                    tracks.picture(track));
            },
            [&] {
                velmora::wait_for_cover(60000);
                forget_host_records(host);
            });
        report_ratio("new track's call to its cover art readable by path vs the same search, read and publish by hand",
                     latency, 1e6, "us", 1.50);
    }
    {
        constexpr int changes = 1000;
        tracks_with_art tracks(host, audit, folder, 5u << 20);
        const auto change = [&](int turn) {
            tracks.play(turn);
            velmora::request_cover_art();
            velmora::wait_for_cover(60000);
        };
        change(0);
        change(1);
        forget_host_records(host);
        const stand_in::process_counts before = stand_in::process_counts_now();
        const double start = now_seconds();
        for (int turn = 0; turn < changes; ++turn)
            change(turn);
        forget_host_records(host);
        const stand_in::process_counts after = stand_in::process_counts_now();
        std::printf("  cover art: %d changes of 5 MB pictures in %.1f s: handles %lu -> %lu, process heap busy bytes "
                    "%lu -> %lu\n",
                    changes, now_seconds() - start, static_cast<unsigned long>(before.handles),
                    static_cast<unsigned long>(after.handles), static_cast<unsigned long>(before.heap_bytes),
                    static_cast<unsigned long>(after.heap_bytes));
        growth_row("cover art: open handles over 1000 changes of 5 MB pictures", before.handles, after.handles,
                   "handles");
        growth_row("cover art: process heap busy bytes over 1000 changes of 5 MB pictures", before.heap_bytes,
                   after.heap_bytes, "bytes");
    }
    velmora::finish_cover_at_shutdown(60000);
    velmora::deliver_cover_lines();
    velmora::cover_settings.set("", "");
    DeleteFileW(cover.c_str());
}

// The output thread's publish of a new text, against the same file operations by hand, flush included. Two texts
// take turns, so that no publish finds its text already there.
void publish_figure(const std::wstring& path)
{
    write_settings();
    velmora::output_path.set(utf8_of(path).c_str());
    const velmora::utf8_string texts[] = {velmora::utf8_string("playing: Nina Simone - Feeling Good"),
                                          velmora::utf8_string("playing: Nina Simone - Feeling Good!")};
    const std::shared_ptr<const velmora::output_job> jobs[] = {velmora::make_output_job(texts[0]),
                                                               velmora::make_output_job(texts[1])};
    const std::string bytes[] = {std::string(jobs[0]->entry.bytes(), jobs[0]->entry.size()),
                                 std::string(jobs[1]->entry.bytes(), jobs[1]->entry.size())};
    int published = 0, by_hand = 0;
    velmora::file_step step;
    const std::atomic<bool> never_given_up{false};
    const alternating cost = in_alternating_rounds(
        write_rounds, writes_per_round,
        [&] { return seconds_of([&] { step.carry_out(jobs[published++ % 2], never_given_up); }); },
        [&] { return seconds_of([&] { publish_by_hand(path, bytes[by_hand++ % 2]); }); });
    report_ratio("output thread's replace-mode publish (per write) vs the same file operations by hand", cost, 1e6,
                 "us", 1.10);
}

// A loopback connection to the port, made without a blocking connect: under the emulated Wine of some machines a
// blocking connect to a server of the same process can bring the process down.
velmora::socket_handle connect_loopback(std::uint16_t port)
{
    velmora::socket_handle client(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    u_long non_blocking = 1;
    ioctlsocket(client.get(), FIONBIO, &non_blocking);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(client.get(), &writable);
    timeval limit{10, 0};
    select(0, nullptr, &writable, nullptr, &limit);
    non_blocking = 0;
    ioctlsocket(client.get(), FIONBIO, &non_blocking);
    const DWORD read_limit_ms = 10000;
    setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&read_limit_ms),
               sizeof read_limit_ms);
    return client;
}

// Reads until the bytes received so far hold the text, ten seconds at most; keeps what follows it.
bool receive_until(SOCKET from, std::string& received, const std::string& text)
{
    const double start = now_seconds();
    std::size_t found;
    while ((found = received.find(text)) == std::string::npos && now_seconds() - start < 10) {
        char bytes[4096];
        const int count = recv(from, bytes, sizeof bytes, 0);
        if (count <= 0)
            return false;
        received.append(bytes, static_cast<std::size_t>(count));
    }
    if (found == std::string::npos)
        return false;
    received.erase(0, found + text.size());
    return true;
}

// An EventSource-style client of the overlay's stream, its first event read.
velmora::socket_handle stream_client(std::uint16_t port)
{
    velmora::socket_handle client = connect_loopback(port);
    const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    send(client.get(), request.data(), static_cast<int>(request.size()), 0);
    std::string received;
    receive_until(client.get(), received, "}\n\n");
    return client;
}

// The overlay's figures keep every client socket out of this process, whose server thread uses sockets: under the
// emulated Wine of some machines, a process whose two threads both use sockets can be brought down ("uncaught
// target signal 11") or hung. Helpers of one thread each, this program started again with one of these options,
// hold the clients; they and this process signal each other through named events.
constexpr char overlay_reader_option[] = "--overlay-reader";
constexpr char loopback_echo_option[] = "--loopback-echo";
const std::string stream_event_bytes =
    "data: {\"state\":\"stopped\",\"outputs\":[{\"number\":1,\"text\":\"playing: Nina Simone - Feeling Good\"}],"
    "\"cover\":null}\n\n";

std::wstring widened(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

HANDLE named_event(const std::string& name, bool create)
{
    const std::wstring wide = widened(name);
    return create ? CreateEventW(nullptr, FALSE, FALSE, wide.c_str())
                  : OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, wide.c_str());
}

// Helper: count clients of the overlay's stream; every event that all of them have read sets NAME-read. Ends once
// NAME-end is set, or with 1 when a client's connection goes.
int overlay_reader(std::uint16_t port, int count, const std::string& name)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const velmora::kernel_handle ready(named_event(name + "-ready", false)), read(named_event(name + "-read", false)),
        end(named_event(name + "-end", false));
    std::vector<velmora::socket_handle> clients;
    for (int client = 0; client < count; ++client)
        clients.push_back(stream_client(port));
    SetEvent(ready.get());
    std::vector<std::string> received_by(clients.size());
    std::vector<unsigned long> events_by(clients.size(), 0);
    unsigned long read_by_all = 0;
    while (WaitForSingleObject(end.get(), 0) == WAIT_TIMEOUT) {
        fd_set readable;
        FD_ZERO(&readable);
        for (const velmora::socket_handle& client : clients)
            FD_SET(client.get(), &readable);
        timeval limit{0, 100000};
        if (select(0, &readable, nullptr, nullptr, &limit) <= 0)
            continue;
        for (std::size_t index = 0; index < clients.size(); ++index) {
            if (!FD_ISSET(clients[index].get(), &readable))
                continue;
            char bytes[4096];
            const int received = recv(clients[index].get(), bytes, sizeof bytes, 0);
            if (received <= 0)
                return 1;
            std::string& pending = received_by[index];
            pending.append(bytes, static_cast<std::size_t>(received));
            for (std::size_t end_of_event; (end_of_event = pending.find("\n\n")) != std::string::npos;) {
                events_by[index] += pending.compare(0, 5, "data:") == 0 ? 1 : 0;
                pending.erase(0, end_of_event + 2);
            }
        }
        const unsigned long least = *std::min_element(events_by.begin(), events_by.end());
        if (least > read_by_all) {
            read_by_all = least;
            SetEvent(read.get());
        }
    }
    return 0;
}

// Helper: a connected loopback pair of its own; each time NAME-send is set, an event's bytes go one way, are read on
// the other side, and NAME-read is set. Ends once NAME-end is set.
int loopback_echo(const std::string& name)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const velmora::kernel_handle ready(named_event(name + "-ready", false)),
        send_now(named_event(name + "-send", false)), read(named_event(name + "-read", false)),
        end(named_event(name + "-end", false));
    const velmora::socket_handle listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    listen(listener.get(), 1);
    getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size);
    const velmora::socket_handle receiving = connect_loopback(ntohs(address.sin_port));
    const velmora::socket_handle sending(accept(listener.get(), nullptr, nullptr));
    SetEvent(ready.get());
    std::string received;
    const HANDLE waits[] = {send_now.get(), end.get()};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        send(sending.get(), stream_event_bytes.data(), static_cast<int>(stream_event_bytes.size()), 0);
        if (!receive_until(receiving.get(), received, stream_event_bytes))
            return 1;
        SetEvent(read.get());
    }
    return 0;
}

// A helper started with its named events; its end is asked for, and forced after a while, when it goes.
class helper {
public:
    helper(const std::string& arguments, const std::string& name)
        : ready_(named_event(name + "-ready", true)), read_(named_event(name + "-read", true)),
          send_(named_event(name + "-send", true)), end_(named_event(name + "-end", true))
    {
        wchar_t program[MAX_PATH];
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(program) + L"\" " + widened(arguments);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            process_ = velmora::kernel_handle(process.hProcess);
            CloseHandle(process.hThread);
        }
    }
    helper(const helper&) = delete;
    helper& operator=(const helper&) = delete;
    ~helper()
    {
        SetEvent(end_.get());
        if (process_.valid() && WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0)
            TerminateProcess(process_.get(), ERROR_TIMEOUT);
    }

    // Whether the event was set within the limit while the helper lives.
    bool signalled(HANDLE event, DWORD limit_ms) const
    {
        const HANDLE waits[] = {event, process_.get()};
        return process_.valid() && WaitForMultipleObjects(2, waits, FALSE, limit_ms) == WAIT_OBJECT_0;
    }
    bool ready() const { return signalled(ready_.get(), 120000); }
    bool read() const { return signalled(read_.get(), 10000); }
    void send() const { SetEvent(send_.get()); }

private:
    velmora::kernel_handle ready_, read_, send_, end_, process_;
};

// The overlay's two figures: from the event call to the event read by a connected EventSource-style client, against
// the same bytes sent over loopback by hand, both read in a helper that then signals back; and the main thread's
// time per event with 32 clients connected against none. The output is the overlay's alone ("Save to file" off), so
// that no file work shares the machine with it. Gives why a figure could not be measured, or nothing.
// What a playback time notification costs the main thread with the overlay on and 8 clients reading its pushes,
// against the same with the overlay off; output 1 writes on each, its text unchanged, to its file. In rounds of
// each, in turns, the notifications a few milliseconds apart so that the server pushes between them.
std::string time_notification_figure(std::uint16_t port, const std::string& name)
{
    constexpr int rounds = 11;
    velmora::output_targets.set_word(velmora::output_target_word::save_to_file, 1);
    velmora::event_settings.set_word(velmora::event_word::on_every_second, 1);
    velmora::playback_event_sink sink;
    std::string failure;
    double position = 0;
    // A stretch's notifications in turn; gives the median and adds the mean to means. The median, because under Wine
    // every socket call of the readers and the server goes through the one server process that also serves the main
    // thread's calls, which then wait behind them now and then: a tail that Windows does not have, printed beside.
    std::vector<double> means[2];
    const auto notifications = [&](std::vector<double>& stretch_means) {
        std::vector<double> each;
        double sum = 0;
        for (int notification = 0; notification < writes_per_round; ++notification) {
            position += 1;
            each.push_back(seconds_without_formatting([&] { sink.on_playback_time(position); }));
            sum += each.back();
            Sleep(2);
        }
        velmora::wait_for_output(60000);
        stretch_means.push_back(sum / writes_per_round);
        return median_of(each);
    };
    const auto with_8_clients = [&] {
        velmora::overlay.set(true, port);
        velmora::start_overlay(port);
        double seconds = 0;
        {
            const helper readers(std::string(overlay_reader_option) + " " + std::to_string(port) + " 8 " + name +
                                     "-eight",
                                 name + "-eight");
            if (!readers.ready())
                failure = "the 8 clients did not connect";
            // The first after the server starts is the start's: it finds the server's texts new.
            sink.on_playback_time(position += 1);
            seconds = notifications(means[0]);
            if (!readers.read())
                failure = "the 8 clients read no position";
        }
        velmora::stop_overlay(10000);
        velmora::overlay.set(false, port);
        return seconds;
    };
    const alternating measured = stretches_in_turns(
        rounds, with_8_clients, [&] { return notifications(means[1]); }, [&] { return failure.empty(); });
    if (failure.empty()) {
        std::printf("  time notification, the stretches' mean: %.2f us with the overlay and 8 clients, %.2f us off\n",
                    median_of(means[0]) * 1e6, median_of(means[1]) * 1e6);
        report_ratio("main thread's time per playback time notification less the host's formatting, output 1 writing "
                     "its unchanged text, overlay on with 8 clients vs off (median notification)",
                     measured, 1e6, "us", 1.10);
    }
    velmora::event_settings.set_word(velmora::event_word::on_every_second, 0);
    velmora::output_targets.set_word(velmora::output_target_word::save_to_file, 0);
    return failure;
}

std::string overlay_figures(stand_in::player_services& host, stand_in::reference_audit& audit)
{
    constexpr int overlay_rounds = 11;
    write_settings();
    velmora::output_targets.set_word(velmora::output_target_word::save_to_file, 0);
    const std::uint16_t port = 41000 + static_cast<std::uint16_t>(GetCurrentProcessId() % 8000);
    const std::string name = "velmora-bench-" + std::to_string(GetCurrentProcessId());
    const std::string port_text = std::to_string(port);
    velmora::start_overlay(port);
    two_tracks tracks(host, audit);
    velmora::delay_scheduler scheduler;
    std::string failure;
    {
        const helper reader(std::string(overlay_reader_option) + " " + port_text + " 1 " + name + "-reader",
                            name + "-reader");
        const helper echo(std::string(loopback_echo_option) + " " + name + "-echo", name + "-echo");
        if (!reader.ready() || !echo.ready())
            failure = "a helper did not start";
        int component_turns = 0;
        const alternating latency = in_alternating_rounds(
            overlay_rounds, 20,
            [&] {
                if (!failure.empty())
                    return 1.0;
                tracks.play(component_turns++);
                bool read = false;
                const double seconds = seconds_without_formatting([&] {
                    scheduler.request_write();
                    read = reader.read();
                });
                if (!read)
                    failure = "the overlay's client did not read an event within 10 s";
                return seconds;
            },
            [&] {
                if (!failure.empty())
                    return 1.0;
                bool read = false;
                const double seconds = seconds_of([&] {
                    echo.send();
                    read = echo.read();
                });
                if (!read)
                    failure = "the loopback helper did not read its bytes within 10 s";
                return seconds;
            },
            [&] { forget_host_records(host); });
        if (failure.empty())
            report_ratio("event call to the event read by a connected overlay client, vs the same bytes over loopback "
                         "by hand",
                         latency, 1e6, "us", 2.0);
    }
    if (failure.empty()) {
        // Rounds of events with 32 clients connected and with none, in turns.
        int turn = 0;
        // Events come apart, as a player's do, so that the server has sent each one to every client before the
        // next: on a machine of two processors, a server still sending would take the main thread's processor, and
        // under Wine every send is a call to its one server, where the main thread's calls would queue behind them.
        // With clients, the next event waits until every client has read the last; a pause follows on both sides.
        const auto events = [&](const helper* readers) {
            double seconds = 0;
            for (int event = 0; event < writes_per_round && failure.empty(); ++event) {
                tracks.play(turn++);
                seconds += seconds_without_formatting([&] { scheduler.request_write(); });
                if (readers != nullptr && !readers->read())
                    failure = "the 32 clients did not all read an event within 10 s";
                Sleep(5);
            }
            return seconds / writes_per_round;
        };
        // The clients come and go between the timed events, with a pause on either side.
        const auto with_32_clients = [&] {
            double seconds = 0;
            {
                const helper readers(std::string(overlay_reader_option) + " " + port_text + " 32 " + name + "-readers",
                                     name + "-readers");
                if (!readers.ready())
                    failure = "the 32 clients did not connect";
                Sleep(100);
                seconds = events(&readers);
            }
            Sleep(1000);
            return seconds;
        };
        const alternating measured = stretches_in_turns(
            overlay_rounds, with_32_clients, [&] { return events(nullptr); }, [&] { return failure.empty(); },
            [&] { forget_host_records(host); });
        if (failure.empty())
            report_ratio("main thread's time per event write less the host's formatting, overlay with 32 clients, vs "
                         "none",
                         measured, 1e6, "us", 1.10);
    }
    scheduler.close();
    if (failure.empty())
        failure = time_notification_figure(port, name);
    velmora::stop_overlay(10000);
    velmora::output_targets.set_word(velmora::output_target_word::save_to_file, 1);
    return failure;
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

// The component's converters against the system's, on a long text and on one of a now-playing text's length,
// converted many times a turn.
void conversion_figures()
{
    constexpr int rounds = 11, turns = 3;
    struct length {
        std::size_t bytes;
        int repeats;
        const char* name;
    };
    for (const length& size : {length{1 << 20, 1, "1 MB"}, length{200, 10000, "200 bytes"}}) {
        for (const auto& [name, text] : {std::make_pair(std::string("ASCII"), std::string(size.bytes, 'a')),
                                         std::make_pair(std::string("mixed"), mixed_text(size.bytes))}) {
            const auto repeated = [&](const std::function<void()>& work) {
                return seconds_of([&] {
                    for (int repeat = 0; repeat < size.repeats; ++repeat)
                        work();
                });
            };
            const double scale = size.repeats > 1 ? 1e6 / size.repeats : 1e3;
            const char* unit = size.repeats > 1 ? "us" : "ms";
            report_ratio("utf8_to_wide, " + std::string(size.name) + " " + name,
                         in_alternating_rounds(
                             rounds, turns, [&] { return repeated([&] { velmora::utf8_to_wide(text.c_str()); }); },
                             [&] {
                                 return repeated([&] {
                                     const int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
                                     std::vector<wchar_t> wide(static_cast<std::size_t>(units));
                                     MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), units);
                                 });
                             }),
                         scale, unit, 0.90);

            const velmora::wide_string wide = velmora::utf8_to_wide(text.c_str());
            report_ratio("wide_to_utf8, " + std::string(size.name) + " " + name,
                         in_alternating_rounds(
                             rounds, turns, [&] { return repeated([&] { velmora::wide_to_utf8(wide.text()); }); },
                             [&] {
                                 return repeated([&] {
                                     const int bytes =
                                         WideCharToMultiByte(CP_UTF8, 0, wide.text(), -1, nullptr, 0, nullptr, nullptr);
                                     std::vector<char> utf8(static_cast<std::size_t>(bytes));
                                     WideCharToMultiByte(CP_UTF8, 0, wide.text(), -1, utf8.data(), bytes, nullptr,
                                                         nullptr);
                                 });
                             }),
                         scale, unit, 0.90);
        }
    }
}

// What a delayed request costs the thread that makes it, against bare posts to a thread that only drains its
// queue. Each turn starts its own receiver and times only the requests; it then waits, untimed, until the
// receiver has worked through them and ended, so that no turn inherits a queue.
void main_thread_cost_figure()
{
    constexpr int requests = 5000;
    write_settings();
    velmora::event_settings.set_word(velmora::event_word::delay_enabled, 1);
    velmora::event_settings.set_word(velmora::event_word::delay_ms, 3600000);
    const alternating cost = in_alternating_rounds(
        21, 1,
        [&] {
            velmora::delay_scheduler scheduler;
            scheduler.request_write();
            const double seconds = seconds_of([&] {
                for (int request = 0; request < requests; ++request)
                    scheduler.request_write();
            });
            scheduler.close();
            return seconds;
        },
        [&] {
            const draining_receiver receiver;
            return seconds_of([&] {
                for (int request = 0; request < requests; ++request)
                    PostThreadMessageW(receiver.id(), WM_USER + 4, 1, 2);
            });
        });
    report_ratio("main-thread cost of a delayed request", cost, 1e6 / requests, "us", 1.2);
}

// A burst of 1,000 requests spread over one second with a 200 ms delay, on a scheduler of its own: no write during
// the burst, the first 200 +-15 ms after the last request, then one each period.
void debounce_figure(stand_in::player_services& host, const std::wstring& path)
{
    constexpr double period_ms = 200, first_tolerance_ms = 15, window_ms = 1100;
    write_settings();
    velmora::now_playing_script.set("x");
    velmora::output_encoding.set(velmora::encoding_utf8);
    velmora::log_mode.set(1);
    velmora::event_settings.set_word(velmora::event_word::delay_ms, static_cast<std::uint32_t>(period_ms));
    velmora::event_settings.set_word(velmora::event_word::delay_enabled, 1);
    forget_host_records(host);
    velmora::delay_scheduler scheduler;
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
    while (now_seconds() - last_request < window_ms / 1e3) {
        pump_messages_for(1);
        const std::size_t size = file_size(path);
        for (; seen < size; ++seen)
            write_times.push_back((now_seconds() - last_request) * 1e3);
    }
    scheduler.close();
    write_settings();

    std::string offsets;
    for (double offset : write_times)
        offsets += (offsets.empty() ? "" : ", ") + std::to_string(static_cast<int>(offset + 0.5));
    std::printf("  debounce: %zu write(s) during the burst; writes at %s ms after the last request\n", during_burst,
                offsets.c_str());
    const auto expected_writes = static_cast<std::size_t>(window_ms / period_ms);
    bool steady = write_times.size() == expected_writes;
    double shortest = 0, longest = 0;
    for (std::size_t index = 1; index < write_times.size(); ++index) {
        const double gap = write_times[index] - write_times[index - 1];
        shortest = index == 1 ? gap : std::min(shortest, gap);
        longest = std::max(longest, gap);
        // One write in each period: none doubled, none skipped.
        steady = steady && gap > period_ms / 2 && gap < period_ms * 3 / 2;
    }
    const double first = write_times.empty() ? -1 : write_times.front();
    const bool met = during_burst == 0 && std::abs(first - period_ms) <= first_tolerance_ms && steady;
    char measured[128];
    std::snprintf(measured, sizeof measured,
                  "%zu during the burst; first at %.0f ms; %zu in %.0f ms, %.0f-%.0f ms apart", during_burst, first,
                  write_times.size(), window_ms, shortest, longest);
    char goal[128];
    std::snprintf(goal, sizeof goal, "none; %.0f +-%.0f ms; %zu, one a period", period_ms, first_tolerance_ms,
                  expected_writes);
    report({"debounce: a burst of 1000 requests with a 200 ms delay", measured, "-", "-", goal,
            met ? verdict::met : verdict::not_met});
}

void steady_state_figure(stand_in::player_services& host, int writes)
{
    write_settings();
    velmora::delay_scheduler scheduler;
    for (int write = 0; write < 200; ++write)
        scheduler.request_write();
    velmora::wait_for_output(60000);
    forget_host_records(host);
    const stand_in::process_counts before = stand_in::process_counts_now();
    const double start = now_seconds();
    for (int write = 0; write < writes; ++write) {
        scheduler.request_write();
        if (write % 1000 == 999)
            forget_host_records(host);
    }
    velmora::wait_for_output(60000);
    const double seconds = now_seconds() - start;
    forget_host_records(host);
    const stand_in::process_counts after = stand_in::process_counts_now();
    scheduler.close();
    std::printf("  steady state over %d writes (%.1f s): handles %lu -> %lu, GDI %lu -> %lu, USER %lu -> %lu, "
                "windows %lu -> %lu, process heap busy bytes %lu -> %lu\n",
                writes, seconds, static_cast<unsigned long>(before.handles), static_cast<unsigned long>(after.handles),
                before.gdi_objects, after.gdi_objects, before.user_objects, after.user_objects,
                static_cast<unsigned long>(before.windows), static_cast<unsigned long>(after.windows),
                static_cast<unsigned long>(before.heap_bytes), static_cast<unsigned long>(after.heap_bytes));
    growth_row("steady state: open handles over " + std::to_string(writes) + " writes", before.handles, after.handles,
               "handles");
    growth_row("steady state: process heap busy bytes over " + std::to_string(writes) + " writes", before.heap_bytes,
               after.heap_bytes, "bytes");
}

void settings_figure()
{
    stand_in::scripted_abort never;
    constexpr int rounds = 2000;
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        times.push_back(seconds_of([&] {
            for (int round = 0; round < rounds; ++round) {
                stand_in::memory_write_stream saved;
                velmora::write_settings(saved, never);
                stand_in::memory_read_stream loaded(saved.bytes);
                velmora::read_settings(loaded, never);
            }
        }));
    }
    report({"settings save + load of the seven records", formatted("%.2f us", median_of(times) / rounds * 1e6), "-",
            "-", "report", verdict::report});
}

} // namespace

int main(int argument_count, char** arguments)
{
    if (argument_count == 5 && std::strcmp(arguments[1], overlay_reader_option) == 0)
        return overlay_reader(static_cast<std::uint16_t>(std::atoi(arguments[2])), std::atoi(arguments[3]),
                              arguments[4]);
    if (argument_count == 3 && std::strcmp(arguments[1], loopback_echo_option) == 0)
        return loopback_echo(arguments[2]);
    // A helper's options that do not parse must not start the benchmark, and with it helpers of its own.
    if (argument_count > 1 && std::strncmp(arguments[1], "--", 2) == 0)
        return 2;
    const int steady_writes = argument_count > 1 ? std::atoi(arguments[1]) : 100000;
    stand_in::reference_audit audit;
    stand_in::player_services host(audit);
    stand_in::track_handle playing(audit, "bench track", {{"artist", "Nina Simone"}, {"title", "Feeling Good"}});
    host.control.playing = &playing;
    velmora::set_service_registry(&host.registry);
    const std::wstring path = temp_file(L"velmora-bench.txt");
    velmora::output_path.set(utf8_of(path).c_str());

    std::printf("measuring...\n");
    std::vector<disk> disks = {{"free file", path, false}, {"held file", temp_file(L"velmora-bench-held.txt"), true}};
    const char* slow_folder = std::getenv("VELMORA_SLOW_DISK");
    const std::string slow_reason =
        slow_folder == nullptr ? "VELMORA_SLOW_DISK is not set" : file_bytes(wide_of(slow_folder) + L".reason");
    if (slow_reason.empty())
        disks.push_back({"slow disk", wide_of(slow_folder) + L"\\velmora-bench.txt", false});
    for (const disk& target : disks)
        main_thread_write_figures(host, audit, target);
    for (const disk& target : disks)
        cover_art_main_thread_figure(host, audit, target);
    if (!slow_reason.empty())
        report({"main thread's time per event write, slow disk", "not measured: " + slow_reason, "-", "-", "report",
                verdict::report});
    several_outputs_figure(host, path);
    publish_figure(path);
    event_to_readable_figure(host, audit, path);
    cover_art_latency_figures(host, audit, path);
    const std::string overlay_failure = overlay_figures(host, audit);
    if (!overlay_failure.empty())
        report({"overlay figures", "not measured: " + overlay_failure, "-", "-", "measured", verdict::not_met});
    conversion_figures();
    main_thread_cost_figure();
    debounce_figure(host, path);
    steady_state_figure(host, steady_writes);
    settings_figure();

    std::size_t missed = 0;
    std::printf(
        "\n| figure | component | baseline | ratio (lowest-highest) | goal | met |\n|---|---|---|---|---|---|\n");
    for (const row& measured : table) {
        const char* met = measured.outcome == verdict::report ? "-"
                          : measured.outcome == verdict::met  ? "met"
                                                              : "not met";
        missed += measured.outcome == verdict::not_met ? 1 : 0;
        std::printf("| %s | %s | %s | %s | %s | %s |\n", measured.figure.c_str(), measured.component.c_str(),
                    measured.baseline.c_str(), measured.ratio.c_str(), measured.goal.c_str(), met);
    }
    std::printf("\n%s\n", missed == 0 ? "every goal met" : (std::to_string(missed) + " goal(s) not met").c_str());
    velmora::finish_output_at_shutdown(60000);
    velmora::set_service_registry(nullptr);
    host.control.playing = nullptr;
    DeleteFileW(path.c_str());
    return missed == 0 ? 0 : 1;
}
