#include "text/system_error.h"

#include <string>

#include <gtest/gtest.h>

namespace velmora {
namespace {

std::wstring text_of(std::int32_t code)
{
    system_error record(code);
    const wchar_t* text = system_error_text(record);
    EXPECT_EQ(system_error_text(record), text) << "computed once";
    return text != nullptr ? text : L"(none)";
}

TEST(SystemError, Win32ErrorsBecomeHresults)
{
    EXPECT_EQ(hresult_from_win32(5), static_cast<std::int32_t>(0x80070005));
    EXPECT_EQ(hresult_from_win32(0), 0);
    EXPECT_EQ(hresult_from_win32(0x12345), static_cast<std::int32_t>(0x80072345));
    EXPECT_EQ(hresult_from_win32(-7), -7);
}

TEST(SystemError, SystemTextsLoseOnlyTheirFinalLineBreak)
{
    for (std::int32_t code : {hresult_from_win32(5), 0, hresult_from_win32(2)}) {
        const std::wstring text = text_of(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_NE(text.back(), L'\n') << code;
        EXPECT_NE(text.back(), L'\r') << code;
    }
}

TEST(SystemError, CodesWithoutSystemTextGetTheFallbacks)
{
    EXPECT_EQ(text_of(static_cast<std::int32_t>(0x8007FFFF)), L"Unknown error 0x8007FFFF");
    EXPECT_EQ(text_of(static_cast<std::int32_t>(0x80040205)), L"IDispatch error #5");
    EXPECT_EQ(text_of(static_cast<std::int32_t>(0x80040201)), L"IDispatch error #1");
    EXPECT_EQ(text_of(static_cast<std::int32_t>(0x8004FFFF)), L"IDispatch error #65023");
    EXPECT_EQ(text_of(static_cast<std::int32_t>(0x80040200)), L"Unknown error 0x80040200");
    EXPECT_EQ(text_of(static_cast<std::int32_t>(0x80050000)), L"Unknown error 0x80050000");
}

} // namespace
} // namespace velmora
