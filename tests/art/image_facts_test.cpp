#include <string>

#include <gtest/gtest.h>

#include "art/image_facts.h"

namespace velmora {
namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string made;
    for (int value : values)
        made.push_back(static_cast<char>(value));
    return made;
}

TEST(ImageFacts, EachFormatByItsFirstBytesWithItsSize)
{
    struct example {
        std::string bytes;
        image_type type;
        unsigned width, height;
    };
    const std::string png = "\x89PNG\r\n\x1A\n" + bytes({0, 0, 0, 13}) + "IHDR" + bytes({0, 0, 1, 44, 0, 0, 0, 200});
    // A JPEG whose size comes after an APP0 segment, in a progressive frame header.
    const std::string jpeg = bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF, 0xC2, 0, 11, 8, 0, 80, 1, 64});
    const std::string gif = "GIF89a" + bytes({20, 0, 10, 0});
    const std::string webp_lossy =
        "RIFF" + bytes({0, 0, 0, 0}) + "WEBPVP8 " + std::string(10, '\0') + bytes({40, 0, 30, 0});
    const std::string bmp = "BM" + std::string(12, '\0') + bytes({40, 0, 0, 0, 16, 0, 0, 0, 0xF4, 0xFF, 0xFF, 0xFF});
    for (const example& each : {example{png, image_type::png, 300, 200}, example{jpeg, image_type::jpeg, 320, 80},
                                example{gif, image_type::gif, 20, 10}, example{webp_lossy, image_type::webp, 40, 30},
                                example{bmp, image_type::bmp, 16, 12}}) {
        const std::optional<image_facts> facts = sniff_image(each.bytes);
        ASSERT_TRUE(facts.has_value()) << content_type(each.type);
        EXPECT_EQ(facts->type, each.type);
        EXPECT_EQ(facts->width, each.width) << content_type(each.type);
        EXPECT_EQ(facts->height, each.height) << content_type(each.type);
    }
}

TEST(ImageFacts, NoPictureOrAHeaderCutShort)
{
    for (const std::string& other : {std::string(), std::string("<html>"), std::string("BMP file?"),
                                     std::string("RIFF\0\0\0\0WAVE", 12), bytes({0xFF, 0xD8})})
        EXPECT_FALSE(sniff_image(other).has_value()) << other;
    // A JPEG cut inside its first segment is a JPEG of unknown size, and a segment length past the end stops there.
    const std::optional<image_facts> cut = sniff_image(bytes({0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 0}));
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->width, 0u);
}

} // namespace
} // namespace velmora
