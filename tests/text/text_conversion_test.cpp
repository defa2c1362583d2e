#include "text/text_conversion.h"

#include <new>
#include <random>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "text/heap_memory.h"
#include "text/utf8_codec.h"

namespace velmora {
namespace {

std::u16string units_of(const wide_string& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.text()), text.length());
}

std::u16string wide(const char* text)
{
    return units_of(utf8_to_wide(text));
}

std::string utf8(const std::u16string& text)
{
    const byte_buffer converted = wide_to_utf8(reinterpret_cast<const wchar_t*>(text.c_str()));
    return std::string(converted.text(), converted.length());
}

TEST(TextConversion, Utf8ToWideFollowsTheDecoder)
{
    EXPECT_EQ(wide("A\xC0\x80"
                   "B"),
              u"A");
    EXPECT_EQ(wide("\xF0\x9F\x8E\xB5"), std::u16string({0xD83C, 0xDFB5}));
    EXPECT_EQ(wide("\xF4\x8F\xBF\xBF"), std::u16string({0xDBFF, 0xDFFF}));
    EXPECT_EQ(wide("\xF7\xBF\xBF\xBF"), u"?");
    EXPECT_EQ(wide("\xFC\x84\x80\x80\x80\x80"), u"?");
    EXPECT_EQ(wide("\xED\xA0\x80"), std::u16string({0xD800}));
    EXPECT_EQ(wide("\xE0\x80\x80"), u"");
    EXPECT_EQ(wide("\xE0\x80\x90"), std::u16string({0x0010}));
    EXPECT_EQ(wide("caf\xC3\xA9 \xE2\x82\xAC"), u"caf\u00E9 \u20AC");
}

TEST(TextConversion, Utf8ToWideIsSizedExactlyFromTheCount)
{
    for (const char* text : {"", "abc", "\xF0\x9F\x8E\xB5x", "ok\xFFthen", "\xF7\xBF\xBF\xBF"}) {
        const wide_string converted = utf8_to_wide(text);
        EXPECT_EQ(converted.size(), utf8_to_wide_units(text)) << text;
        EXPECT_EQ(converted.size(), converted.length() + 1) << text;
    }
    EXPECT_EQ(utf8_to_wide_units("a\xF0\x9F\x8E\xB5"), 4u);
}

TEST(TextConversion, BoundedWriterNeverOverrunsOrSplitsAPair)
{
    wchar_t output[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(utf8_to_wide(output, 0, "abc"), 0u);
    EXPECT_EQ(output[0], L'x');
    EXPECT_EQ(utf8_to_wide(output, 1, "abc"), 0u);
    EXPECT_EQ(output[0], L'\0');
    EXPECT_EQ(utf8_to_wide(output, 3, "a\xF0\x9F\x8E\xB5"), 1u);
    EXPECT_EQ(output[1], L'\0');
    EXPECT_EQ(output[3], L'x');
    EXPECT_EQ(utf8_to_wide(output, 3, "abcdef"), 2u);
    EXPECT_EQ(std::wstring(output), L"ab");
}

TEST(TextConversion, WideToUtf8EncodesPairsAndLoneSurrogates)
{
    EXPECT_EQ(utf8(std::u16string({0xD800})), "\xED\xA0\x80");
    EXPECT_EQ(utf8(std::u16string({0xDC00, 'a'})), "\xED\xB0\x80"
                                                   "a");
    EXPECT_EQ(utf8(std::u16string({0xD800, 'a'})), "\xED\xA0\x80"
                                                   "a");
    EXPECT_EQ(utf8(std::u16string({0xD83C, 0xDFB5})), "\xF0\x9F\x8E\xB5");
    EXPECT_EQ(utf8(u"caf\u00E9"), "caf\xC3\xA9");
    const byte_buffer empty = wide_to_utf8(L"");
    EXPECT_EQ(empty.size(), 1u);
    EXPECT_STREQ(empty.text(), "");
}

TEST(TextConversion, RandomTextSurvivesUtf8ToWideAndBack)
{
    std::mt19937 random(4242);
    std::uniform_int_distribution<std::uint32_t> code_points(1, 0x10FFFF);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (int index = 0; index < 40; ++index) {
            char bytes[6];
            text.append(bytes, encode_utf8_char(code_points(random), bytes));
        }
        const wide_string converted = utf8_to_wide(text.c_str());
        const byte_buffer back = wide_to_utf8(converted.text());
        ASSERT_EQ(std::string(back.text()), text);
        ASSERT_EQ(back.size(), text.size() + 1);
    }
}

TEST(TextConversion, AnsiUsesThePinnedCodePage)
{
    ASSERT_EQ(GetACP(), 1252u) << "the test environment pins the ANSI code page to 1252";
    EXPECT_STREQ(utf8_to_ansi("caf\xC3\xA9 \xE2\x82\xAC").text(), "caf\xE9 \x80");
    EXPECT_STREQ(utf8_to_ansi("\xE4\xB8\xAD").text(), "?");
    const byte_buffer cut = utf8_to_ansi("ab\xFF"
                                         "cd");
    EXPECT_STREQ(cut.text(), "ab");
    EXPECT_EQ(cut.size(), 3u);
    const byte_buffer empty = utf8_to_ansi("");
    EXPECT_EQ(empty.size(), 1u);
    EXPECT_STREQ(empty.text(), "");
}

TEST(TextConversion, FailedAllocationThrows)
{
    fail_heap_request(1);
    EXPECT_THROW(utf8_to_wide("abc"), std::bad_alloc);
    fail_heap_request(1);
    EXPECT_THROW(wide_to_utf8(L"abc"), std::bad_alloc);
    fail_heap_request(2);
    EXPECT_THROW(utf8_to_ansi("abc"), std::bad_alloc);
    fail_heap_request(0);
    EXPECT_THROW(wide_string(0x80000000u), std::bad_alloc);
}

} // namespace
} // namespace velmora

namespace velmora {
namespace {

// The decoder's rules written out plainly, one byte at a time, as a reference for the fast converter.
std::u16string reference_utf8_to_utf16(const std::string& bytes)
{
    std::u16string units;
    std::size_t position = 0;
    while (position < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[position]);
        if (lead == 0)
            break;
        std::size_t length = 0;
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC0 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3;
        else if (lead >= 0xF0 && lead <= 0xF7)
            length = 4;
        else if (lead >= 0xF8 && lead <= 0xFB)
            length = 5;
        else if (lead >= 0xFC && lead <= 0xFD)
            length = 6;
        if (length == 0 || (lead == 0xC0 || lead == 0xC1))
            break;
        std::uint32_t value = length == 1 ? lead : lead & ((1u << (7 - length)) - 1);
        bool valid = true;
        for (std::size_t index = 1; index < length && valid; ++index) {
            const std::size_t at = position + index;
            const unsigned next = at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0;
            valid = next >= 0x80 && next <= 0xBF;
            if (valid && index == 2 && value == 0 && ((next & 0x7F) >> (7 - length)) == 0)
                valid = false;
            value = (value << 6) | (next & 0x3F);
        }
        if (!valid)
            break;
        if (value < 0x10000) {
            units += static_cast<char16_t>(value);
        } else if (value <= 0x10FFFF) {
            units += static_cast<char16_t>(0xD800 | ((value - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 | (value & 0x3FF));
        } else {
            units += u'?';
        }
        position += length;
    }
    return units;
}

TEST(TextConversion, TheConverterAgreesWithThePlainRulesOnRandomBytes)
{
    std::mt19937 random(31337);
    // Bytes weighted toward leads and continuations, so that long and broken sequences are common.
    const std::vector<unsigned char> palette = {'a',  'Z',  0x7F, 0x80, 0x8F, 0x90, 0xBF, 0xC0, 0xC1,
                                                0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF7, 0xF8,
                                                0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 0xA0, 0x85, 0xB5};
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(1 + random() % 12, 'a');
        for (char& byte : bytes)
            byte = static_cast<char>(palette[random() % palette.size()]);
        ASSERT_EQ(wide(bytes.c_str()), reference_utf8_to_utf16(bytes)) << "round " << round;
    }
}

} // namespace
} // namespace velmora
