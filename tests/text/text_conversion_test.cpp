#include "text/text_conversion.h"

#include <new>
#include <random>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/fuzz_rounds.h"
#include "text/utf8_codec.h"
#include "win32/heap_memory.h"

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
    std::mt19937 random(fuzz_seed(4242));
    std::uniform_int_distribution<std::uint32_t> code_points(1, 0x10FFFF);
    for (unsigned long round = 0; round < fuzz_rounds(300); ++round) {
        std::string text;
        std::uint32_t previous = 0;
        for (int index = 0; index < 40; ++index) {
            std::uint32_t code_point = code_points(random);
            // A high and a low surrogate encoded one after the other become one pair in UTF-16, which comes back
            // as the pair's four bytes: not a round trip.
            while (previous >= 0xD800 && previous <= 0xDBFF && code_point >= 0xDC00 && code_point <= 0xDFFF)
                code_point = code_points(random);
            char bytes[6];
            text.append(bytes, encode_utf8_char(code_point, bytes));
            previous = code_point;
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

// The decoder's rules written out plainly, as a reference for the fast code: the length of the sequence at position
// (0 when it is invalid or the text ends there) and its value. The overlong rule is said by value, not by bits: a
// sequence of each length must carry at least the value below. Two-byte forms must need two bytes; a longer form
// is refused only when its lead and first continuation carry nothing and its second too little to need the length.
std::size_t reference_decode(const std::string& bytes, std::size_t position, std::uint32_t& value)
{
    constexpr std::uint32_t least_value[] = {0, 0, 0x80, 0x10, 0x200, 0x4000, 0x80000};
    const auto lead = static_cast<unsigned char>(bytes[position]);
    std::size_t length = 0;
    if (lead == 0)
        return 0;
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
    if (length == 0)
        return 0;
    value = length == 1 ? lead : lead & ((1u << (7 - length)) - 1);
    for (std::size_t index = 1; index < length; ++index) {
        const std::size_t at = position + index;
        const unsigned next = at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0;
        if (next < 0x80 || next > 0xBF)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    return value >= least_value[length] ? length : 0;
}

std::u16string reference_utf8_to_utf16(const std::string& bytes)
{
    std::u16string units;
    std::uint32_t value = 0;
    for (std::size_t position = 0, length = 0; position < bytes.size(); position += length) {
        length = reference_decode(bytes, position, value);
        if (length == 0)
            break;
        if (value < 0x10000) {
            units += static_cast<char16_t>(value);
        } else if (value <= 0x10FFFF) {
            units += static_cast<char16_t>(0xD800 | ((value - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 | (value & 0x3FF));
        } else {
            units += u'?';
        }
    }
    return units;
}

// UTF-16 to UTF-8 as the rules say: a pair gives four bytes, a lone surrogate is encoded by itself.
std::string reference_utf16_to_utf8(const std::u16string& units)
{
    std::string bytes;
    for (std::size_t index = 0; index < units.size(); ++index) {
        std::uint32_t value = units[index];
        if (value >= 0xD800 && value <= 0xDBFF && index + 1 < units.size() && units[index + 1] >= 0xDC00 &&
            units[index + 1] <= 0xDFFF)
            value = 0x10000 + ((value - 0xD800) << 10) + (units[++index] - 0xDC00);
        if (value < 0x80) {
            bytes += static_cast<char>(value);
        } else if (value < 0x800) {
            bytes += static_cast<char>(0xC0 | (value >> 6));
            bytes += static_cast<char>(0x80 | (value & 0x3F));
        } else if (value < 0x10000) {
            bytes += static_cast<char>(0xE0 | (value >> 12));
            bytes += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (value & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (value >> 18));
            bytes += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (value & 0x3F));
        }
    }
    return bytes;
}

TEST(TextConversion, TheDecoderAndConvertersAgreeWithThePlainRulesOnRandomBytes)
{
    std::mt19937 random(fuzz_seed(31337));
    // Bytes weighted toward leads and continuations, so that long and broken sequences are common.
    const std::vector<unsigned char> palette = {'a',  'Z',  0x7F, 0x80, 0x8F, 0x90, 0xBF, 0xC0, 0xC1,
                                                0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF7, 0xF8,
                                                0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 0xA0, 0x85, 0xB5, 0x84};
    for (unsigned long round = 0; round < fuzz_rounds(20000); ++round) {
        std::string bytes(1 + random() % 12, 'a');
        for (char& byte : bytes)
            byte = static_cast<char>(palette[random() % palette.size()]);
        std::uint32_t expected_value = 0;
        std::uint32_t value = 0;
        const std::size_t available = random() % (bytes.size() + 1);
        const std::size_t expected_length = reference_decode(bytes.substr(0, available), 0, expected_value);
        ASSERT_EQ(decode_utf8_char(bytes.data(), available, value), available == 0 ? 0 : expected_length)
            << "round " << round;
        if (available != 0 && expected_length != 0) {
            ASSERT_EQ(value, expected_value) << "round " << round;
        }

        const std::u16string expected = reference_utf8_to_utf16(bytes);
        ASSERT_EQ(wide(bytes.c_str()), expected) << "round " << round;
        ASSERT_EQ(utf8_to_wide_units(bytes.c_str()), expected.size() + 1) << "round " << round;

        wchar_t bounded[16];
        const std::size_t capacity = random() % 16;
        const std::size_t written = utf8_to_wide(bounded, capacity, bytes.c_str());
        if (capacity != 0) {
            ASSERT_LT(written, capacity);
            ASSERT_EQ(bounded[written], L'\0');
            ASSERT_EQ(std::u16string(reinterpret_cast<const char16_t*>(bounded), written), expected.substr(0, written));
            const bool splits_pair = written < expected.size() && expected[written] >= 0xDC00 &&
                                     expected[written] <= 0xDFFF && written > 0 && expected[written - 1] >= 0xD800 &&
                                     expected[written - 1] <= 0xDBFF;
            ASSERT_FALSE(splits_pair) << "round " << round;
            ASSERT_TRUE(written == expected.size() || written + 2 >= capacity) << "round " << round;
        } else {
            ASSERT_EQ(written, 0u);
        }

        const byte_buffer ansi = utf8_to_ansi(bytes.c_str());
        ASSERT_EQ(ansi.text()[ansi.length()], '\0');
        ASSERT_LE(ansi.length(), expected.size() * 2) << "round " << round;
    }
}

TEST(TextConversion, Utf16ToUtf8AgreesWithThePlainRulesOnRandomUnits)
{
    std::mt19937 random(fuzz_seed(2718));
    const std::vector<char16_t> palette = {u'a',   0x7F,   0x80,   0x7FF,  0x800,  0xD7FF, 0xD800, 0xDBFF,
                                           0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF, 0x00E9, 0x20AC};
    for (unsigned long round = 0; round < fuzz_rounds(20000); ++round) {
        std::u16string units(1 + random() % 10, u'a');
        for (char16_t& unit : units)
            unit = palette[random() % palette.size()];
        ASSERT_EQ(utf8(units), reference_utf16_to_utf8(units)) << "round " << round;
    }
}

} // namespace
} // namespace velmora
