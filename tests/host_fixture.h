#pragma once

#include <fstream>
#include <iterator>
#include <string>

#include <windows.h>

#include <gtest/gtest.h>

#include "boundary/host_callback.h"
#include "boundary/host_services.h"
#include "events/init_quit_hook.h"
#include "events/playback_event_sink.h"
#include "host/doubles/message_pump.h"
#include "host/doubles/message_receiver.h"
#include "host/doubles/player_services.h"
#include "settings/component_settings.h"
#include "tests/output_wait.h"

namespace velmora {

// A stand-in host with every service the pipeline looks up, and an output file that grows by one byte per write:
// the script is "x" and log mode appends it.
class host_fixture : public ::testing::Test {
protected:
    static void pump_messages_for(DWORD milliseconds) { stand_in::pump_messages_for(milliseconds); }

    // Runs the message loop until the file has had at least count writes, for ten seconds at most, so that a fault
    // fails the test in seconds rather than hanging it. Gives whether the writes came.
    bool pump_until_writes(std::size_t count)
    {
        const DWORD start = GetTickCount();
        while (writes() < count && GetTickCount() - start < 10000)
            pump_messages_for(10);
        return writes() >= count;
    }

    void SetUp() override
    {
        registry.add(kestrune::message_receiver_guid, receiver);
        set_service_registry(&registry);
        set_services_ready_flag(1);
        host_callbacks::reopen();

        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        path = std::wstring(folder) + L"velmora-pipeline-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
        DeleteFileW(path.c_str());
        char utf8[MAX_PATH * 3];
        WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
        output_path.set(utf8);
        now_playing_script.set("x");
        output_encoding.set(encoding_utf8);
        log_mode.set(1);
        event_settings.set_words({});
    }

    void TearDown() override
    {
        wait_for_writes();
        set_service_registry(nullptr);
        set_services_ready_flag(0);
        output_path.set("");
        now_playing_script.set(default_now_playing_script);
        output_encoding.set(default_output_encoding);
        log_mode.set(0);
        event_settings.set_words({1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
        added_outputs.outputs().clear();
        DeleteFileW(path.c_str());
        EXPECT_EQ(audit.findings(), "");
    }

    // What the file holds once the writes asked for so far have landed.
    std::string file_text() const
    {
        wait_for_writes();
        std::ifstream file(path.c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    std::size_t writes() const { return file_text().size(); }

    std::wstring path;
    stand_in::reference_audit audit;
    stand_in::player_services player{audit};
    stand_in::service_registry& registry = player.registry;
    stand_in::playback_control& control = player.control;
    stand_in::title_format_compiler& compiler = player.compiler;
    stand_in::track_handle_factory& factory = player.factory;
    stand_in::main_thread_callback_manager& callbacks = player.callbacks;
    stand_in::message_receiver receiver{audit, "receiver"};
};

// The same with the event sink and the start-up hook over its scheduler, as the module makes them.
class event_sink_fixture : public host_fixture {
protected:
    void TearDown() override
    {
        sink.scheduler().close();
        host_fixture::TearDown();
    }

    kestrune::playback_event_callbacks& host_view() { return sink; }

    playback_event_sink sink;
    init_quit_hook hook{sink.scheduler()};
};

} // namespace velmora
