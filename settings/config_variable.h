#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

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

// Words persisted as one block and used as separate settings. The scheduler's worker reads a word while the main
// thread may write it, so each word is an atomic 32-bit value.
template <std::size_t word_count> class config_block final : public config_variable {
public:
    config_block(const GUID& guid, const std::array<std::uint32_t, word_count>& defaults) noexcept;

    std::uint32_t word(std::size_t index) const noexcept { return words_[index].load(std::memory_order_relaxed); }
    void set_word(std::size_t index, std::uint32_t value) noexcept
    {
        words_[index].store(value, std::memory_order_relaxed);
    }

    void write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort) override;
    // A payload shorter than the block leaves every word as it was; a longer one gives its first words.
    void read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort) override;

private:
    void set_words(const std::array<std::uint32_t, word_count>& words) noexcept;

    std::array<std::atomic<std::uint32_t>, word_count> words_;
};

extern template class config_block<10>;
extern template class config_block<8>;

} // namespace velmora
