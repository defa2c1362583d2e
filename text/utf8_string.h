#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "boundary/host_boundary.h"

namespace velmora {

// How a string sizes its block for a needed size r (text length + terminator).
enum class capacity_rule {
    // Grow to r + 16 when short; shrink to exactly r when more than 32 bytes would be spare.
    fit_with_slack,
    // Allocated size is a power of two that only grows; reserved size is always r.
    doubling,
};

// Zero-terminated UTF-8 text in a process-heap block. The host fills these through the boundary table, so the
// fields after the table pointer and the block sizes are part of what the host sees.
template <capacity_rule rule> class basic_utf8_string : public kestrune::utf8_string {
public:
    static constexpr std::size_t no_limit = SIZE_MAX;

    basic_utf8_string() noexcept = default;
    explicit basic_utf8_string(const char* text);
    basic_utf8_string(const char* text, std::size_t limit);
    basic_utf8_string(const basic_utf8_string& other);
    basic_utf8_string(basic_utf8_string&& other) noexcept;
    basic_utf8_string& operator=(const basic_utf8_string& other);
    basic_utf8_string& operator=(basic_utf8_string&& other) noexcept;
    ~basic_utf8_string();

    void __thiscall append(const char* text, std::size_t limit = no_limit) override;
    const char* __thiscall text() override;
    void __thiscall assign(const char* text, std::size_t limit = no_limit) override;
    void __thiscall shorten(std::size_t length) override;
    std::size_t __thiscall length() override;
    char* __thiscall open_buffer(std::size_t length) override;
    void __thiscall close_buffer() override;

    // Appends exactly count bytes, zero bytes included.
    void append_bytes(const char* bytes, std::size_t count);

    const char* c_str() const noexcept;
    std::string_view view() const noexcept;
    std::size_t size() const noexcept { return length_; }
    bool empty() const noexcept { return length_ == 0; }
    std::size_t reserved_size() const noexcept { return reserved_; }
    std::size_t allocated_size() const noexcept { return allocated_; }

protected:
    // Applies the capacity rule for the needed size. Growth that fails throws std::bad_alloc before anything
    // changes; a shrink that fails keeps the larger block.
    void reserve_for(std::uint64_t needed);
    bool lies_inside_block(const char* bytes) const noexcept;

    char* block_ = nullptr;
    std::uint32_t reserved_ = 0;
    std::uint32_t allocated_ = 0;
    std::uint32_t length_ = 0;
};

extern template class basic_utf8_string<capacity_rule::fit_with_slack>;
extern template class basic_utf8_string<capacity_rule::doubling>;

// The component's everyday string; it alone can erase and insert.
class utf8_string : public basic_utf8_string<capacity_rule::fit_with_slack> {
public:
    using basic_utf8_string::basic_utf8_string;

    // position and count are clamped to the text.
    void erase(std::size_t position, std::size_t count);
    // position is clamped to the text; bytes must not lie inside this string's block.
    void insert(std::size_t position, const char* bytes, std::size_t count);
};

// For texts that grow in many pieces of unpredictable size.
using doubling_utf8_string = basic_utf8_string<capacity_rule::doubling>;

} // namespace velmora
