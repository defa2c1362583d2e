#pragma once

#include <cstddef>
#include <utility>

#include "win32/heap_memory.h"

namespace velmora {

// A zero-terminated text of exactly the counted number of units, made by the conversions.
template <typename unit> class exact_text_buffer {
public:
    exact_text_buffer() noexcept = default;

    // size counts the terminator; the units are left for the caller to fill.
    explicit exact_text_buffer(std::size_t size)
        : units_(static_cast<unit*>(heap_reallocate(nullptr, heap_size_of(size, sizeof(unit))))), size_(size)
    {}

    exact_text_buffer(exact_text_buffer&& other) noexcept
        : units_(std::exchange(other.units_, nullptr)), size_(std::exchange(other.size_, 0))
    {}

    exact_text_buffer& operator=(exact_text_buffer&& other) noexcept
    {
        if (this != &other) {
            heap_free(units_);
            units_ = std::exchange(other.units_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }

    exact_text_buffer(const exact_text_buffer&) = delete;
    exact_text_buffer& operator=(const exact_text_buffer&) = delete;

    ~exact_text_buffer() { heap_free(units_); }

    // For a conversion that filled a buffer made for its longest result: size counts the units kept, the
    // terminator included. The rest of the block goes back where the heap allows, when it is worth a heap call.
    void keep(std::size_t size) noexcept
    {
        if (size >= size_)
            return;
        if ((size_ - size) * sizeof(unit) >= 4096)
            heap_shrink_in_place(units_, size * sizeof(unit));
        size_ = size;
    }

    const unit* text() const noexcept { return size_ > 0 ? units_ : empty_text; }
    unit* data() noexcept { return units_; }

    // Units held, the terminator included.
    std::size_t size() const noexcept { return size_; }

    // Units before the first zero unit.
    std::size_t length() const noexcept
    {
        std::size_t count = 0;
        while (count < size_ && units_[count] != 0)
            ++count;
        return count;
    }

private:
    static constexpr unit empty_text[1] = {};

    unit* units_ = nullptr;
    std::size_t size_ = 0;
};

// UTF-16 text for the wide-character Win32 calls.
using wide_string = exact_text_buffer<wchar_t>;

// UTF-8 or ANSI code page bytes.
using byte_buffer = exact_text_buffer<char>;

} // namespace velmora
