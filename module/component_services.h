#pragma once

#include <cstdint>

#include "boundary/host_boundary.h"
#include "boundary/static_service.h"
#include "text/utf8_string.h"
#include "ui/preferences_dialog.h"

namespace velmora {

// The component's name, version and credits; the file name is the one the host gave.
class component_version_service final
    : public static_service<kestrune::component_version, kestrune::component_version_guid> {
public:
    void __thiscall file_name_text(kestrune::utf8_string* out) override;
    void __thiscall name_text(kestrune::utf8_string* out) override;
    void __thiscall version_text(kestrune::utf8_string* out) override;
    void __thiscall about_text(kestrune::utf8_string* out) override;
};

class preferences_page_service final
    : public static_service<kestrune::preferences_page, kestrune::preferences_page_guid> {
public:
    static constexpr GUID page_identity = {
        0xA39E4A9D, 0x132C, 0x44DF, {0x86, 0x39, 0xE3, 0xD8, 0xB4, 0xCC, 0xBC, 0x73}};
    static constexpr GUID parent_page_identity = {
        0x627C0767, 0x0793, 0x44F8, {0x80, 0x87, 0xBE, 0x49, 0x34, 0x31, 0x12, 0x82}};

    HWND __thiscall create_page(HWND parent) override { return page_.create(parent); }
    const char* __thiscall page_name() override;
    void __thiscall page_guid(GUID* out) override { *out = page_identity; }
    void __thiscall parent_page_guid(GUID* out) override { *out = parent_page_identity; }
    bool __thiscall page_query() override { return true; }
    void __thiscall reset_page_settings() override;
    // The host's online help for this page; lookup failures pass to the host.
    bool __thiscall help_address(kestrune::utf8_string* out) override;

private:
    preferences_dialog page_;
};

// The second of the module's two name strings, which the host sets: the file name the version record gives.
void set_module_file_name(const char* file_name);

} // namespace velmora
