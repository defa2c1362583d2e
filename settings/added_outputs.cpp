#include "settings/added_outputs.h"

#include <cstring>

#include "settings/component_settings.h"

namespace velmora {

namespace {

constexpr std::uint32_t payload_version = 1;

constexpr std::uint32_t flag_save_to_file = 1u << 0;
constexpr std::uint32_t flag_log_mode = 1u << 1;
constexpr std::uint32_t flag_on_new_track = 1u << 2;
constexpr std::uint32_t flag_on_pause = 1u << 3;
constexpr std::uint32_t flag_on_stop = 1u << 4;
constexpr std::uint32_t flag_on_every_second = 1u << 5;
constexpr std::uint32_t known_flags = (1u << 6) - 1;

void put_word(std::string& bytes, std::uint32_t word)
{
    const char little_endian[4] = {static_cast<char>(word), static_cast<char>(word >> 8),
                                   static_cast<char>(word >> 16), static_cast<char>(word >> 24)};
    bytes.append(little_endian, 4);
}

void put_text(std::string& bytes, const std::string& text)
{
    put_word(bytes, static_cast<std::uint32_t>(text.size()));
    bytes += text;
}

// Reads a payload front to back; every take fails once the payload runs short.
class payload_cursor {
public:
    payload_cursor(const char* bytes, std::size_t size) noexcept : bytes_(bytes), left_(size) {}

    bool word(std::uint32_t& value) noexcept
    {
        if (left_ < 4)
            return false;
        const auto* at = reinterpret_cast<const unsigned char*>(bytes_);
        value = at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
        advance(4);
        return true;
    }

    // A text holds no zero byte: the settings are zero-terminated texts.
    bool text(std::string& value)
    {
        std::uint32_t length = 0;
        if (!word(length) || length > left_ || std::memchr(bytes_, '\0', length) != nullptr)
            return false;
        value.assign(bytes_, length);
        advance(length);
        return true;
    }

    bool at_end() const noexcept { return left_ == 0; }

private:
    void advance(std::size_t count) noexcept
    {
        bytes_ += count;
        left_ -= count;
    }

    const char* bytes_;
    std::size_t left_;
};

bool decode_output(payload_cursor& payload, output_settings& output)
{
    std::uint32_t flags = 0, encoding = 0;
    if (!payload.word(flags) || (flags & ~known_flags) != 0 || !payload.word(encoding) || encoding > encoding_ansi)
        return false;
    output.save_to_file = (flags & flag_save_to_file) != 0;
    output.log_mode = (flags & flag_log_mode) != 0;
    output.on_new_track = (flags & flag_on_new_track) != 0;
    output.on_pause = (flags & flag_on_pause) != 0;
    output.on_stop = (flags & flag_on_stop) != 0;
    output.on_every_second = (flags & flag_on_every_second) != 0;
    output.encoding = static_cast<std::int32_t>(encoding);
    return payload.text(output.path) && payload.text(output.script) && payload.text(output.exit_text);
}

} // namespace

bool output_settings::operator==(const output_settings& other) const
{
    return save_to_file == other.save_to_file && path == other.path && script == other.script &&
           encoding == other.encoding && log_mode == other.log_mode && exit_text == other.exit_text &&
           on_new_track == other.on_new_track && on_pause == other.on_pause && on_stop == other.on_stop &&
           on_every_second == other.on_every_second;
}

output_settings default_added_output()
{
    output_settings output;
    output.script = default_now_playing_script;
    output.encoding = default_output_encoding;
    output.exit_text = default_exit_text;
    return output;
}

std::string encode_added_outputs(const std::vector<output_settings>& outputs)
{
    std::string bytes;
    put_word(bytes, payload_version);
    put_word(bytes, static_cast<std::uint32_t>(outputs.size()));
    for (const output_settings& output : outputs) {
        const std::uint32_t flags = (output.save_to_file ? flag_save_to_file : 0u) |
                                    (output.log_mode ? flag_log_mode : 0u) |
                                    (output.on_new_track ? flag_on_new_track : 0u) |
                                    (output.on_pause ? flag_on_pause : 0u) | (output.on_stop ? flag_on_stop : 0u) |
                                    (output.on_every_second ? flag_on_every_second : 0u);
        put_word(bytes, flags);
        put_word(bytes, static_cast<std::uint32_t>(output.encoding));
        put_text(bytes, output.path);
        put_text(bytes, output.script);
        put_text(bytes, output.exit_text);
    }
    return bytes;
}

bool decode_added_outputs(const char* bytes, std::size_t size, std::vector<output_settings>& outputs)
{
    payload_cursor payload(bytes, size);
    std::uint32_t version = 0, count = 0;
    if (!payload.word(version) || version != payload_version || !payload.word(count) || count > max_added_outputs)
        return false;
    std::vector<output_settings> decoded(count);
    for (output_settings& output : decoded) {
        if (!decode_output(payload, output))
            return false;
    }
    if (!payload.at_end())
        return false;
    outputs = std::move(decoded);
    return true;
}

void added_outputs_setting::write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort)
{
    const std::string bytes = encode_added_outputs(outputs_);
    stream.write(bytes.data(), bytes.size(), abort);
}

void added_outputs_setting::read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort)
{
    std::string stored;
    read_in_pieces(stream, abort, [&stored](const char* bytes, std::size_t count) { stored.append(bytes, count); });
    // A payload that the stream's end cut short is damaged, even where the bytes that arrived decode.
    if (stored.size() == size)
        decode_added_outputs(stored.data(), stored.size(), outputs_);
}

} // namespace velmora
