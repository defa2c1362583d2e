#include "art/image_facts.h"

#include <cstdint>

namespace velmora {

namespace {

unsigned byte_at(std::string_view bytes, size_t at)
{
    return static_cast<unsigned char>(bytes[at]);
}

unsigned big_endian_16(std::string_view bytes, size_t at)
{
    return byte_at(bytes, at) << 8 | byte_at(bytes, at + 1);
}

unsigned little_endian_16(std::string_view bytes, size_t at)
{
    return byte_at(bytes, at) | byte_at(bytes, at + 1) << 8;
}

uint32_t big_endian_32(std::string_view bytes, size_t at)
{
    return static_cast<uint32_t>(big_endian_16(bytes, at)) << 16 | big_endian_16(bytes, at + 2);
}

uint32_t little_endian_32(std::string_view bytes, size_t at)
{
    return little_endian_16(bytes, at) | static_cast<uint32_t>(little_endian_16(bytes, at + 2)) << 16;
}

bool starts_with(std::string_view bytes, std::string_view prefix)
{
    return bytes.substr(0, prefix.size()) == prefix;
}

// The frame header's size: the first start-of-frame marker, past every other segment (each says its length).
void read_jpeg_size(std::string_view bytes, image_facts& facts)
{
    size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (byte_at(bytes, at) != 0xFF)
            return;
        const unsigned marker = byte_at(bytes, at + 1);
        if (marker == 0xFF) {
            ++at; // fill byte
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2; // markers without a segment
            continue;
        }
        const bool start_of_frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (start_of_frame) {
            if (at + 9 <= bytes.size()) {
                facts.height = big_endian_16(bytes, at + 5);
                facts.width = big_endian_16(bytes, at + 7);
            }
            return;
        }
        at += 2 + big_endian_16(bytes, at + 2);
    }
}

void read_webp_size(std::string_view bytes, image_facts& facts)
{
    const std::string_view chunk = bytes.substr(12, 4);
    if (chunk == "VP8 " && bytes.size() >= 30) {
        facts.width = little_endian_16(bytes, 26) & 0x3FFF;
        facts.height = little_endian_16(bytes, 28) & 0x3FFF;
    } else if (chunk == "VP8L" && bytes.size() >= 25) {
        const uint32_t bits = little_endian_32(bytes, 21);
        facts.width = (bits & 0x3FFF) + 1;
        facts.height = (bits >> 14 & 0x3FFF) + 1;
    } else if (chunk == "VP8X" && bytes.size() >= 30) {
        facts.width = (little_endian_32(bytes, 24) & 0xFFFFFF) + 1;
        facts.height = (little_endian_32(bytes, 27) & 0xFFFFFF) + 1;
    }
}

void read_bmp_size(std::string_view bytes, image_facts& facts)
{
    if (bytes.size() < 26)
        return;
    if (little_endian_32(bytes, 14) == 12) {
        facts.width = little_endian_16(bytes, 18);
        facts.height = little_endian_16(bytes, 20);
        return;
    }
    // A negative height is a picture stored top row first.
    const auto width = static_cast<int32_t>(little_endian_32(bytes, 18));
    const auto height = static_cast<int32_t>(little_endian_32(bytes, 22));
    facts.width = width < 0 ? 0 : static_cast<unsigned>(width);
    facts.height = height < 0 ? 0u - static_cast<unsigned>(height) : static_cast<unsigned>(height);
}

} // namespace

std::optional<image_facts> sniff_image(std::string_view bytes)
{
    image_facts facts{image_type::jpeg};
    if (starts_with(bytes, "\xFF\xD8\xFF")) {
        read_jpeg_size(bytes, facts);
    } else if (starts_with(bytes, "\x89PNG\r\n\x1A\n")) {
        facts.type = image_type::png;
        if (bytes.size() >= 24 && bytes.substr(12, 4) == "IHDR") {
            facts.width = big_endian_32(bytes, 16);
            facts.height = big_endian_32(bytes, 20);
        }
    } else if (starts_with(bytes, "GIF87a") || starts_with(bytes, "GIF89a")) {
        facts.type = image_type::gif;
        if (bytes.size() >= 10) {
            facts.width = little_endian_16(bytes, 6);
            facts.height = little_endian_16(bytes, 8);
        }
    } else if (bytes.size() >= 16 && starts_with(bytes, "RIFF") && bytes.substr(8, 4) == "WEBP") {
        facts.type = image_type::webp;
        read_webp_size(bytes, facts);
    } else if (starts_with(bytes, "BM") && bytes.size() >= 18) {
        facts.type = image_type::bmp;
        read_bmp_size(bytes, facts);
    } else {
        return std::nullopt;
    }
    return facts;
}

const char* content_type(image_type type)
{
    switch (type) {
    case image_type::jpeg:
        return "image/jpeg";
    case image_type::png:
        return "image/png";
    case image_type::gif:
        return "image/gif";
    case image_type::webp:
        return "image/webp";
    case image_type::bmp:
        return "image/bmp";
    }
    return "application/octet-stream";
}

} // namespace velmora
