#include "text/utf8_codec.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fuzz_rounds.h"

namespace velmora {
namespace {

struct decoding {
    std::string bytes;
    std::uint32_t code_point;
    std::size_t consumed;
};

TEST(Utf8Codec, DecoderAcceptsEveryFormUpToSixBytes)
{
    const std::vector<decoding> accepted = {
        {"A", 0x41, 1},
        {"\x7F", 0x7F, 1},
        {"\xC2\x80", 0x80, 2},
        {"\xC3\xA9", 0xE9, 2},
        {"\xDF\xBF", 0x7FF, 2},
        {"\xE0\xA0\x80", 0x800, 3},
        {"\xE2\x82\xAC", 0x20AC, 3},
        {"\xED\xA0\x80", 0xD800, 3},
        {"\xED\xBF\xBF", 0xDFFF, 3},
        {"\xEF\xBF\xBF", 0xFFFF, 3},
        {"\xE0\x80\x90", 0x10, 3},
        {"\xF0\x9F\x8E\xB5", 0x1F3B5, 4},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
        {"\xF7\xBF\xBF\xBF", 0x1FFFFF, 4},
        {"\xF8\x88\x80\x80\x80", 0x200000, 5},
        {"\xFC\x84\x80\x80\x80\x80", 0x4000000, 6},
        {"\xFD\xBF\xBF\xBF\xBF\xBF", 0x7FFFFFFF, 6},
    };
    for (const decoding& expected : accepted) {
        std::uint32_t code_point = 0;
        EXPECT_EQ(decode_utf8_char(expected.bytes.data(), expected.bytes.size(), code_point), expected.consumed)
            << expected.code_point;
        EXPECT_EQ(code_point, expected.code_point);
        EXPECT_EQ(decode_utf8_char(expected.bytes.c_str(), code_point), expected.consumed);
    }
}

TEST(Utf8Codec, DecoderRefusesBadLeadsOverlongsAndBrokenSequences)
{
    const std::vector<std::string> refused = {
        std::string(1, '\0'),
        "\x80",
        "\xBF",
        "\xFE",
        "\xFF",
        "\xC0\x80",
        "\xC1\xBF", // overlong two-byte forms
        "\xE0\x80\x80",
        "\xF0\x80\x80\x80", // overlong forms with an all-zero first payload
        "\xF8\x80\x80\x80\x80",
        "\xFC\x80\x80\x80\x80\x80",
        "\xC3\x28",
        "\xE2\x82\x28",
        "\xF0\x9F\x8E\xC0", // a byte that is no continuation
        "\xE2\x82",         // cut short by the zero byte
    };
    for (const std::string& bytes : refused) {
        std::uint32_t code_point = 1;
        EXPECT_EQ(decode_utf8_char(bytes.c_str(), code_point), 0u) << std::hex << +static_cast<unsigned char>(bytes[0]);
        EXPECT_EQ(code_point, 0u);
    }
}

TEST(Utf8Codec, DecoderNeverReadsBeyondTheAvailableBytes)
{
    std::uint32_t code_point;
    EXPECT_EQ(decode_utf8_char("\xE2\x82\xAC", 2, code_point), 0u);
    EXPECT_EQ(decode_utf8_char("A", 0, code_point), 0u);
    EXPECT_EQ(decode_utf8_char("\xE2\x82\xAC", 3, code_point), 3u);
}

TEST(Utf8Codec, EncoderLengthsFollowTheCodePointRanges)
{
    const std::vector<std::pair<std::uint32_t, std::size_t>> lengths = {
        {0, 1},        {0x7F, 1},     {0x80, 2},      {0x7FF, 2},     {0x800, 3},      {0xFFFF, 3},     {0x10000, 4},
        {0x1FFFFF, 4}, {0x200000, 5}, {0x3FFFFFF, 5}, {0x4000000, 6}, {0x7FFFFFFF, 6}, {0x80000000, 0}, {0xFFFFFFFF, 0},
    };
    for (const auto& [code_point, length] : lengths)
        EXPECT_EQ(encode_utf8_char(code_point, nullptr), length) << std::hex << code_point;

    char output[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(encode_utf8_char(0x80000000, output), 0u);
    EXPECT_EQ(output[0], 'x');
    EXPECT_EQ(encode_utf8_char(0x1F3B5, output), 4u);
    EXPECT_EQ(std::string(output, 4), "\xF0\x9F\x8E\xB5");
}

TEST(Utf8Codec, RandomCodePointsSurviveTheRoundTrip)
{
    std::mt19937 random(fuzz_seed(20261208));
    std::uniform_int_distribution<std::uint32_t> any(1, 0x7FFFFFFF);
    std::uniform_int_distribution<std::uint32_t> unicode(1, 0x10FFFF);
    for (unsigned long round = 0; round < fuzz_rounds(20000); ++round) {
        const std::uint32_t code_point = round % 2 ? any(random) : unicode(random);
        char bytes[6];
        const std::size_t length = encode_utf8_char(code_point, bytes);
        std::uint32_t decoded = 0;
        ASSERT_EQ(decode_utf8_char(bytes, length, decoded), length) << std::hex << code_point;
        ASSERT_EQ(decoded, code_point);
    }
}

} // namespace
} // namespace velmora
