#include <string>

#include <windows.h>

#include <commdlg.h>

#include "boundary/shared_library.h"
#include "host/shared_dll/file_dialog_script.h"

// The stand-in of the host's shared library: UTF-8 wrappers of the wide-character Win32 calls. Destination strings
// are filled only through their tables, as the real host does.

namespace {

std::wstring to_wide(const char* text)
{
    if (text == nullptr || *text == '\0')
        return {};
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), units);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string to_utf8(const wchar_t* text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

void fill(kestrune::utf8_string* destination, const std::string& text)
{
    destination->assign(text.c_str(), text.size());
}

struct recorded_request {
    std::string filter_list, default_extension, title, initial_path, file_name;
    stand_in_file_dialog_request view{};
};

bool dialog_scripted = false;
bool scripted_answer_given = false;
std::string scripted_answer;
recorded_request last_request;

} // namespace

extern "C" {

BOOL __cdecl uExpandEnvironmentStrings(const char* source, kestrune::utf8_string* destination)
{
    const std::wstring wide = to_wide(source);
    const DWORD units = ExpandEnvironmentStringsW(wide.c_str(), nullptr, 0);
    if (units == 0)
        return FALSE;
    std::wstring expanded(units, L'\0');
    ExpandEnvironmentStringsW(wide.c_str(), expanded.data(), units);
    fill(destination, to_utf8(expanded.c_str()));
    return TRUE;
}

BOOL __cdecl uGetDlgItemText(HWND dialog, UINT control_id, kestrune::utf8_string* destination)
{
    const HWND control = GetDlgItem(dialog, static_cast<int>(control_id));
    if (control == nullptr)
        return FALSE;
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    fill(destination, to_utf8(text.c_str()));
    return TRUE;
}

BOOL __cdecl uSetDlgItemText(HWND dialog, UINT control_id, const char* text)
{
    return SetDlgItemTextW(dialog, static_cast<int>(control_id), to_wide(text).c_str());
}

BOOL __cdecl uSetWindowText(HWND window, const char* text)
{
    return SetWindowTextW(window, to_wide(text).c_str());
}

BOOL __cdecl uGetOpenFileName(HWND parent, const char* filter_list, UINT filter_index, const char* default_extension,
                              const char* title, const char* initial_path, kestrune::utf8_string* file_name, BOOL save)
{
    if (dialog_scripted) {
        recorded_request& request = last_request;
        request.filter_list = filter_list != nullptr ? filter_list : "";
        request.default_extension = default_extension != nullptr ? default_extension : "";
        request.title = title != nullptr ? title : "";
        request.initial_path = initial_path != nullptr ? initial_path : "";
        request.file_name = file_name->text();
        const unsigned calls = request.view.calls + 1;
        request.view = {request.filter_list.c_str(),
                        filter_index,
                        request.default_extension.c_str(),
                        request.title.c_str(),
                        request.initial_path.c_str(),
                        request.file_name.c_str(),
                        save,
                        calls};
        if (!scripted_answer_given)
            return FALSE;
        fill(file_name, scripted_answer);
        return TRUE;
    }

    // "Name|pattern|Name|pattern|" becomes the system's zero-separated list.
    std::wstring filters = to_wide(filter_list);
    for (wchar_t& unit : filters) {
        if (unit == L'|')
            unit = L'\0';
    }
    filters.push_back(L'\0');
    const std::wstring extension = to_wide(default_extension);
    const std::wstring caption = to_wide(title);
    std::wstring chosen = to_wide(file_name->text());
    chosen.resize(32768, L'\0');

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = parent;
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = filter_index;
    dialog.lpstrFile = chosen.data();
    dialog.nMaxFile = static_cast<DWORD>(chosen.size());
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    dialog.lpstrTitle = caption.empty() ? nullptr : caption.c_str();
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | (save ? OFN_OVERWRITEPROMPT : 0);
    const BOOL accepted = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (accepted)
        fill(file_name, to_utf8(chosen.c_str()));
    return accepted;
}

void __cdecl stand_in_script_file_dialog(const char* answer)
{
    dialog_scripted = true;
    scripted_answer_given = answer != nullptr;
    scripted_answer = answer != nullptr ? answer : "";
}

void __cdecl stand_in_show_file_dialog()
{
    dialog_scripted = false;
}

const stand_in_file_dialog_request* __cdecl stand_in_last_file_dialog()
{
    return &last_request.view;
}

} // extern "C"
