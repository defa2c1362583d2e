#include "boundary/shared_library.h"

#include <gtest/gtest.h>

#include "host/shared_dll/file_dialog_script.h"
#include "text/utf8_string.h"

namespace velmora {
namespace {

TEST(SharedLibrary, ExpandsEnvironmentReferencesIntoTheDestinationString)
{
    SetEnvironmentVariableW(L"VELMORA_TEST_FOLDER", L"C:\\caf\u00E9");
    utf8_string expanded("old");
    EXPECT_TRUE(uExpandEnvironmentStrings("%VELMORA_TEST_FOLDER%\\now.txt", &expanded));
    EXPECT_STREQ(expanded.text(), "C:\\caf\xC3\xA9\\now.txt");
    EXPECT_TRUE(uExpandEnvironmentStrings("", &expanded));
    EXPECT_STREQ(expanded.text(), "");
}

TEST(SharedLibrary, ScriptedFileDialogAnswersAndRecordsTheRequest)
{
    utf8_string file_name("C:\\old.txt");
    stand_in_script_file_dialog("C:\\new.txt");
    EXPECT_TRUE(uGetOpenFileName(nullptr, "Text|*.txt|", 0, "txt", "Save file...", "C:\\old.txt", &file_name, 1));
    EXPECT_STREQ(file_name.text(), "C:\\new.txt");
    const stand_in_file_dialog_request* request = stand_in_last_file_dialog();
    EXPECT_STREQ(request->file_name, "C:\\old.txt");
    EXPECT_STREQ(request->title, "Save file...");
    EXPECT_EQ(request->save, 1);

    stand_in_script_file_dialog(nullptr);
    EXPECT_FALSE(uGetOpenFileName(nullptr, "", 0, "", "", "", &file_name, 1));
    EXPECT_STREQ(file_name.text(), "C:\\new.txt");
    stand_in_show_file_dialog();
}

} // namespace
} // namespace velmora
