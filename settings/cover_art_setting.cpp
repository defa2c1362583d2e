#include "settings/cover_art_setting.h"

namespace velmora {

namespace {

constexpr std::uint32_t record_version = 1;
// Two paths of the longest a path may be in UTF-8, with room to spare: anything longer is damaged.
constexpr std::size_t longest_record = 12 + 2 * 32767 * 3;

std::uint32_t word_at(const std::string& bytes, std::size_t at) noexcept
{
    const auto* word = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return word[0] | (word[1] << 8) | (word[2] << 16) | (static_cast<std::uint32_t>(word[3]) << 24);
}

void append_word(std::string& bytes, std::uint32_t word)
{
    for (std::size_t shift = 0; shift < 4; ++shift)
        bytes.push_back(static_cast<char>(word >> (shift * 8)));
}

// The text at the position, moving past it; false when its count runs past the record's end.
bool take_text(const std::string& record, std::size_t& at, std::string& text)
{
    if (record.size() - at < 4)
        return false;
    const std::uint32_t count = word_at(record, at);
    at += 4;
    if (record.size() - at < count)
        return false;
    text.assign(record, at, count);
    at += count;
    return true;
}

} // namespace

void cover_art_setting::set(std::string cover_path, std::string placeholder) noexcept
{
    cover_path_.swap(cover_path);
    placeholder_.swap(placeholder);
}

void cover_art_setting::write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort)
{
    std::string bytes;
    append_word(bytes, record_version);
    append_word(bytes, static_cast<std::uint32_t>(cover_path_.size()));
    bytes += cover_path_;
    append_word(bytes, static_cast<std::uint32_t>(placeholder_.size()));
    bytes += placeholder_;
    stream.write(bytes.data(), bytes.size(), abort);
}

void cover_art_setting::read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort)
{
    std::string stored;
    read_in_pieces(stream, abort, [&stored](const char* bytes, std::size_t count) {
        if (stored.size() <= longest_record)
            stored.append(bytes, count);
    });
    std::string cover_path, placeholder;
    std::size_t at = 4;
    if (size != stored.size() || stored.size() > longest_record || stored.size() < 12 ||
        word_at(stored, 0) != record_version || !take_text(stored, at, cover_path) ||
        !take_text(stored, at, placeholder) || at != stored.size() || cover_path.find('\0') != std::string::npos ||
        placeholder.find('\0') != std::string::npos)
        return;
    set(std::move(cover_path), std::move(placeholder));
}

} // namespace velmora
