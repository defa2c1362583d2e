#include "settings/overlay_setting.h"

#include <string>

namespace velmora {

namespace {

constexpr std::uint32_t record_version = 1;
constexpr std::size_t record_size = 12;

std::uint32_t word_at(const std::string& bytes, std::size_t at) noexcept
{
    const auto* word = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return word[0] | (word[1] << 8) | (word[2] << 16) | (static_cast<std::uint32_t>(word[3]) << 24);
}

} // namespace

void overlay_setting::set(bool enabled, std::uint16_t port) noexcept
{
    enabled_ = enabled;
    port_ = port != 0 ? port : default_overlay_port;
}

void overlay_setting::write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort)
{
    unsigned char bytes[record_size] = {};
    const std::uint32_t words[] = {record_version, enabled_ ? 1u : 0u, port_};
    for (std::size_t index = 0; index < 3; ++index) {
        for (std::size_t shift = 0; shift < 4; ++shift)
            bytes[index * 4 + shift] = static_cast<unsigned char>(words[index] >> (shift * 8));
    }
    stream.write(bytes, sizeof bytes, abort);
}

void overlay_setting::read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort)
{
    std::string stored;
    read_in_pieces(stream, abort, [&stored](const char* bytes, std::size_t count) {
        if (stored.size() <= record_size)
            stored.append(bytes, count);
    });
    // The record's length counts too: a longer one that the stream's end cut short is damaged.
    if (size != record_size || stored.size() != record_size || word_at(stored, 0) != record_version ||
        word_at(stored, 4) > 1 || word_at(stored, 8) == 0 || word_at(stored, 8) > 65535)
        return;
    enabled_ = word_at(stored, 4) == 1;
    port_ = static_cast<std::uint16_t>(word_at(stored, 8));
}

} // namespace velmora
