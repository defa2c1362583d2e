#pragma once

#include <windows.h>

// Test hooks of the stand-in shared.dll: uGetOpenFileName answers from a script instead of showing the dialog,
// and keeps what it was asked.

struct stand_in_file_dialog_request {
    const char* filter_list;
    UINT filter_index;
    const char* default_extension;
    const char* title;
    const char* initial_path;
    const char* file_name;
    BOOL save;
    unsigned calls;
};

extern "C" {
// From now on the dialog is not shown: a file name answers as if the user chose it, null as if they cancelled.
__declspec(dllexport) void __cdecl stand_in_script_file_dialog(const char* answer);
// Shows the real dialog again.
__declspec(dllexport) void __cdecl stand_in_show_file_dialog();
// The last scripted call's arguments; valid until the next call.
__declspec(dllexport) const stand_in_file_dialog_request* __cdecl stand_in_last_file_dialog();
}
