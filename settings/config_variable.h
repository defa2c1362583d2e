#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <windows.h>

#include "boundary/host_boundary.h"
#include "text/utf8_string.h"

namespace velmora {

// A persisted setting, identified by its GUID. Each registers itself at construction at the head of the settings
// registry, so the registry runs from the newest variable to the first; none ever leaves it.
class config_variable {
public:
    config_variable(const config_variable&) = delete;
    config_variable& operator=(const config_variable&) = delete;

    const GUID& guid() const noexcept { return guid_; }
    config_variable* next() const noexcept { return next_; }

    // A setting that holds nothing beyond what an older configuration knew may leave its record out.
    virtual bool worth_saving() const noexcept { return true; }
    virtual void write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort) = 0;
    // The stream holds exactly the stored payload of size bytes.
    virtual void read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort) = 0;

protected:
    explicit config_variable(const GUID& guid) noexcept;
    ~config_variable() = default;

private:
    GUID guid_;
    config_variable* next_;
};

// The newest registered variable, or null.
config_variable* settings_registry() noexcept;

// Reads the stream to its end a piece at a time, handing each to take(bytes, count), so that what is held grows with
// what arrives rather than with the length a payload claims.
template <typename piece_taker>
void read_in_pieces(kestrune::read_stream& stream, kestrune::abort_signal& abort, piece_taker take)
{
    char piece[256];
    for (;;) {
        const std::size_t count = stream.read(piece, sizeof piece, abort);
        take(piece, count);
        if (count < sizeof piece)
            return;
    }
}

class config_string final : public config_variable {
public:
    config_string(const GUID& guid, const char* default_text);

    const char* text() const noexcept { return value_.c_str(); }
    void set(const char* text) { value_.assign(text); }

    void write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort) override;
    // Takes the whole payload, whatever its length; the value changes only once all of it has arrived.
    void read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort) override;

private:
    utf8_string value_;
};

class config_int final : public config_variable {
public:
    config_int(const GUID& guid, std::int32_t default_value) noexcept;

    std::int32_t value() const noexcept { return value_; }
    void set(std::int32_t value) noexcept { value_ = value; }

    void write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort) override;
    // A payload shorter than 4 bytes leaves the value as it was.
    void read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort) override;

private:
    std::int32_t value_;
};

// Words persisted as one block and used as separate settings, named by the enumerators of word_index; the words no
// enumerator names are kept as they were read. The scheduler's worker reads a word while the main thread may write
// it, so each word is an atomic 32-bit value.
template <typename word_index, std::size_t word_count> class config_block final : public config_variable {
    static_assert(std::is_enum_v<word_index>, "words are named by an enumeration");

public:
    using words_type = std::array<std::uint32_t, word_count>;

    config_block(const GUID& guid, const words_type& defaults) noexcept : config_variable(guid) { set_words(defaults); }

    std::uint32_t word(word_index index) const noexcept
    {
        return words_[position(index)].load(std::memory_order_relaxed);
    }
    void set_word(word_index index, std::uint32_t value) noexcept
    {
        words_[position(index)].store(value, std::memory_order_relaxed);
    }

    // Every word, named or not, each read or written on its own.
    words_type words() const noexcept
    {
        words_type current;
        for (std::size_t index = 0; index < word_count; ++index)
            current[index] = words_[index].load(std::memory_order_relaxed);
        return current;
    }
    void set_words(const words_type& words) noexcept
    {
        for (std::size_t index = 0; index < word_count; ++index)
            words_[index].store(words[index], std::memory_order_relaxed);
    }

    void write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort) override
    {
        const words_type current = words();
        stream.write(current.data(), sizeof current, abort);
    }
    // A payload shorter than the block leaves every word as it was; a longer one gives its first words.
    void read_value(kestrune::read_stream& stream, std::uint64_t, kestrune::abort_signal& abort) override
    {
        words_type stored;
        stream.read_exact(stored.data(), sizeof stored, abort);
        set_words(stored);
    }

private:
    static constexpr std::size_t position(word_index index) noexcept { return static_cast<std::size_t>(index); }

    std::array<std::atomic<std::uint32_t>, word_count> words_;
};

} // namespace velmora
