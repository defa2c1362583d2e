#include "module/component_services.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "boundary/host_services.h"
#include "boundary/service_ptr.h"
#include "settings/settings_store.h"
#include "velmora_version.h"

namespace velmora {

namespace {

constexpr char component_name[] = "Velmora";
constexpr char component_version_number[] = VELMORA_VERSION_TEXT;
constexpr char about[] = "Velmora: what plays now, in a file or on the clipboard, by the Velmora team\n"
                         "https://velmora.example.org/";
constexpr char online_help_base[] = "https://help.player.example/";

// The second of the two names the host gives: the file name. The first is not used.
utf8_string module_file_name;

void fill(kestrune::utf8_string* out, const char* text)
{
    out->assign(text, std::strlen(text));
}

} // namespace

void set_module_file_name(const char* file_name)
{
    module_file_name.assign(file_name);
}

void component_version_service::file_name_text(kestrune::utf8_string* out)
{
    fill(out, module_file_name.c_str());
}
void component_version_service::name_text(kestrune::utf8_string* out)
{
    fill(out, component_name);
}
void component_version_service::version_text(kestrune::utf8_string* out)
{
    fill(out, component_version_number);
}
void component_version_service::about_text(kestrune::utf8_string* out)
{
    fill(out, about);
}

const char* preferences_page_service::page_name()
{
    return component_name;
}

void preferences_page_service::reset_page_settings()
{
    velmora::restore_page_defaults();
}

bool preferences_page_service::help_address(kestrune::utf8_string* out)
{
    out->assign("", 0);
    const GUID& id = page_identity;
    char guid_text[40];
    std::snprintf(guid_text, sizeof guid_text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2],
                  id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    const auto host = lookup_service<kestrune::host_version_info>(kestrune::host_version_info_guid);
    // The host's text is used while the reference to it is still held.
    const char* host_version = host->host_version();
    for (const char* piece : {online_help_base, host_version, "/", "preferences", "/",
                              static_cast<const char*>(guid_text), "/", component_name})
        out->append(piece, std::strlen(piece));
    return true;
}

} // namespace velmora
