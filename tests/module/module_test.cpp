#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "boundary/host_boundary.h"
#include "boundary/host_exceptions.h"
#include "host/doubles/host_version_info.h"
#include "host/doubles/memory_streams.h"
#include "host/doubles/service_registry.h"
#include "tests/child_process.h"
#include "tests/host_call_sweep.h"
#include "text/utf8_string.h"
#include "velmora_version.h"

namespace {

using entry_function = kestrune::module_interface*(__cdecl*)(kestrune::service_registry*, void*);

bool same_guid(const GUID* left, const GUID& right)
{
    return std::memcmp(left, &right, sizeof right) == 0;
}

// Loads velmora.dll afresh for each test, as a host does, so every test starts from the module's static state.
class ComponentModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryW(L"velmora.dll");
        ASSERT_NE(module, nullptr);
        entry =
            reinterpret_cast<entry_function>(reinterpret_cast<void*>(GetProcAddress(module, "kestrune_get_interface")));
        ASSERT_NE(entry, nullptr);
        interface = entry(&registry, reinterpret_cast<void*>(0x1234));
    }

    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
        EXPECT_EQ(audit.findings(), "");
    }

    template <typename service_type> service_type* service_at(int position)
    {
        kestrune::service_factory* record = interface->first_factory();
        for (int step = 0; step < position; ++step)
            record = record->next;
        kestrune::service_object* service = nullptr;
        record->make_instance(&service);
        return static_cast<service_type*>(service);
    }

    std::string text_of(void (__thiscall kestrune::component_version::*operation)(kestrune::utf8_string*))
    {
        velmora::utf8_string text;
        (service_at<kestrune::component_version>(3)->*operation)(&text);
        return text.c_str();
    }

    HMODULE module = nullptr;
    entry_function entry = nullptr;
    kestrune::module_interface* interface = nullptr;
    stand_in::reference_audit audit;
    stand_in::service_registry registry;
};

TEST_F(ComponentModule, ExportsOnlyItsEntryUndecorated)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> exported;
    for (DWORD index = 0; index < exports->NumberOfNames; ++index)
        exported.emplace_back(reinterpret_cast<const char*>(base + names[index]));
    EXPECT_EQ(exported, std::vector<std::string>{"kestrune_get_interface"});
}

TEST_F(ComponentModule, TheEntryReturnsTheOneModuleInterface)
{
    EXPECT_EQ(entry(&registry, nullptr), interface);
    EXPECT_EQ(interface->interface_version(), 76u);
    EXPECT_FALSE(interface->module_query());
}

TEST_F(ComponentModule, TheFactoryListRunsFromTheLastRecordToTheFirst)
{
    const GUID* expected[] = {&kestrune::init_quit_hook_guid, &kestrune::playback_event_sink_guid,
                              &kestrune::preferences_page_guid, &kestrune::component_version_guid};
    kestrune::service_factory* record = interface->first_factory();
    for (const GUID* guid : expected) {
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(same_guid(record->class_guid, *guid));
        kestrune::service_object* service = nullptr;
        record->make_instance(&service);
        kestrune::service_object* again = service;
        record->make_instance(&again);
        EXPECT_EQ(again, service) << "the same static object, the earlier value released first";
        kestrune::service_object* queried = nullptr;
        EXPECT_TRUE(service->query_by_guid(&queried, *guid));
        EXPECT_EQ(queried, service);
        EXPECT_EQ(service->add_ref(), 1);
        EXPECT_EQ(service->release(), 1);
        record = record->next;
    }
    EXPECT_EQ(record, nullptr);

    auto* sink = service_at<kestrune::playback_event_service>(1);
    kestrune::service_object* foreign = nullptr;
    EXPECT_FALSE(sink->query_by_guid(&foreign, kestrune::init_quit_hook_guid));
    EXPECT_EQ(foreign, nullptr);
    EXPECT_EQ(sink->subscribed_events(), 0x196u);
}

TEST_F(ComponentModule, VersionTextsAndTheFileNameTheHostGave)
{
    EXPECT_EQ(text_of(&kestrune::component_version::file_name_text), "");
    interface->set_module_names("first", "velmora.dll");
    EXPECT_EQ(text_of(&kestrune::component_version::file_name_text), "velmora.dll");
    EXPECT_EQ(text_of(&kestrune::component_version::name_text), "Velmora");
    EXPECT_EQ(text_of(&kestrune::component_version::version_text), VELMORA_VERSION_TEXT);
    const std::string about = text_of(&kestrune::component_version::about_text);
    ASSERT_NE(about.find('\n'), std::string::npos);
    EXPECT_EQ(about.substr(about.find('\n') + 1, 8), "https://");
}

TEST_F(ComponentModule, ThePageNamesItselfAndComposesItsHelpAddress)
{
    auto* page = service_at<kestrune::preferences_page>(2);
    EXPECT_STREQ(page->page_name(), "Velmora");
    EXPECT_TRUE(page->page_query());
    GUID identity{}, parent{};
    page->page_guid(&identity);
    page->parent_page_guid(&parent);
    EXPECT_EQ(identity.Data1, 0xA39E4A9Du);
    EXPECT_EQ(parent.Data1, 0x627C0767u);

    velmora::utf8_string address("old");
    EXPECT_THROW(page->help_address(&address), exception_service_not_found) << "crosses from the component";
    stand_in::host_version_info version(audit, "2.1");
    registry.add(kestrune::host_version_info_guid, version);
    EXPECT_TRUE(page->help_address(&address));
    EXPECT_STREQ(address.c_str(),
                 "https://help.player.example/2.1/preferences/A39E4A9D-132C-44DF-8639-E3D8B4CCBC73/Velmora");
}

TEST_F(ComponentModule, SettingsGoThroughTheModuleInterfaceAndTheirExceptionsReachTheHost)
{
    stand_in::memory_write_stream saved;
    stand_in::scripted_abort abort;
    interface->save_settings(saved, abort);
    EXPECT_EQ(saved.write_calls, 20u);
    EXPECT_EQ(saved.bytes.size(), 7u * 20 + 32 + 40 + 4 + 4 + 11 + 0 + 89);

    stand_in::memory_read_stream cut(saved.bytes.substr(0, 30));
    EXPECT_THROW(interface->load_settings(cut, abort), kestrune_io::exception_io_data_truncation);
    stand_in::scripted_abort aborting(1);
    stand_in::memory_read_stream whole(saved.bytes);
    EXPECT_THROW(interface->load_settings(whole, aborting), kestrune_io::exception_aborted);
}

// The stored records as GUID and payload, in their order.
std::vector<std::pair<std::string, std::string>> records_of(const std::string& data)
{
    std::vector<std::pair<std::string, std::string>> records;
    for (std::size_t at = 0; at + 20 <= data.size();) {
        std::uint32_t length = 0;
        std::memcpy(&length, data.data() + at + 16, 4);
        records.emplace_back(data.substr(at, 16), data.substr(at + 20, length));
        at += 20 + length;
    }
    return records;
}

std::string blob_of(const std::vector<std::pair<std::string, std::string>>& records)
{
    std::string data;
    for (const auto& [guid, payload] : records) {
        const auto length = static_cast<std::uint32_t>(payload.size());
        data += guid + std::string(reinterpret_cast<const char*>(&length), 4) + payload;
    }
    return data;
}

TEST_F(ComponentModule, EveryHostCallOfLoadingAndSavingMayFailAndNoSettingHoldsAPartialValue)
{
    stand_in::scripted_abort abort;
    stand_in::memory_write_stream first;
    interface->save_settings(first, abort);
    const std::string old_blob = first.bytes;
    auto records = records_of(old_blob);
    ASSERT_EQ(records.size(), 7u);
    const auto old_records = records;
    for (auto& record : records) {
        if (record.second.size() == 4)
            record.second[0] = static_cast<char>(record.second[0] ^ 2);
        else if (record.second.size() == 32 || record.second.size() == 40)
            record.second.assign(record.second.size(), '\x01');
        else
            record.second = "changed " + record.second;
    }
    const std::string new_blob = blob_of(records);

    const auto load = [&](const std::string& data) {
        stand_in::memory_read_stream stream(data);
        interface->load_settings(stream, abort);
    };
    const auto save = [&] {
        stand_in::memory_write_stream stream;
        interface->save_settings(stream, abort);
        return stream.bytes;
    };
    const unsigned load_failures =
        velmora::sweep_host_calls([&] { load(old_blob); }, [&] { load(new_blob); },
                                  [&](unsigned, bool met) {
                                      const auto now = records_of(save());
                                      ASSERT_EQ(now.size(), 7u);
                                      for (std::size_t index = 0; index < now.size(); ++index)
                                          EXPECT_TRUE(now[index] == old_records[index] || now[index] == records[index])
                                              << index;
                                      if (!met) {
                                          EXPECT_EQ(now, records);
                                      }
                                  },
                                  200);
    EXPECT_GE(load_failures, 20u);

    stand_in::memory_write_stream stream;
    const unsigned save_failures = velmora::sweep_host_calls(
        [&] { stream = stand_in::memory_write_stream(); }, [&] { interface->save_settings(stream, abort); },
        [&](unsigned, bool) { EXPECT_EQ(new_blob.compare(0, stream.bytes.size(), stream.bytes), 0); }, 200);
    EXPECT_GE(save_failures, 20u) << "each write and each question of the abort signal";
    EXPECT_EQ(save(), new_blob);
}

TEST_F(ComponentModule, CarriesAWindowsVersionResource)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(module, path, MAX_PATH);
    DWORD ignored = 0;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(path, &ignored));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(data.size()), data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    constexpr DWORD major_minor = VELMORA_VERSION_MAJOR << 16 | VELMORA_VERSION_MINOR;
    EXPECT_EQ(fixed->dwFileVersionMS, major_minor);
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(VELMORA_VERSION_PATCH << 16));
    EXPECT_EQ(fixed->dwProductVersionMS, major_minor);
    wchar_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_STREQ(product, L"Velmora");
}

TEST_F(ComponentModule, CreatesThePageAsAChildOfTheHostWindow)
{
    const HWND host =
        CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 600, nullptr, nullptr, nullptr, nullptr);
    auto* page = service_at<kestrune::preferences_page>(2);
    const HWND window = page->create_page(host);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), host);
    EXPECT_NE(GetDlgItem(window, 1003), nullptr);
    DestroyWindow(host);
}

// The crash handlers go into the C runtime's table, which outlives the module: after an unload, the abort signal
// must reach the host's own handler, whether the module's was still in place or the host had replaced it.
TEST(CrashSignals, AfterUnloadTheHostsOwnAbortHandlerRuns)
{
    for (const wchar_t* mode : {L"kept", L"replaced"}) {
        const velmora_tests::run_result run = velmora_tests::run_program(L"signal_unload_host.exe", mode);
        EXPECT_EQ(run.exit_code, 0u) << mode << ": " << run.output;
        EXPECT_NE(run.output.find("the host's handler ran"), std::string::npos) << mode << ": " << run.output;
    }
}

} // namespace
