#include "text/utf8_string.h"

#include <cstring>
#include <new>
#include <utility>

#include "boundary/host_exceptions.h"
#include "win32/heap_memory.h"

namespace velmora {

namespace {

const char empty_text[] = "";

std::size_t bounded_length(const char* text, std::size_t limit) noexcept
{
    if (text == nullptr)
        return 0;
    if (limit == SIZE_MAX)
        return std::strlen(text);
    std::size_t count = 0;
    while (count < limit && text[count] != '\0')
        ++count;
    return count;
}

} // namespace

template <capacity_rule rule> basic_utf8_string<rule>::basic_utf8_string(const char* text)
{
    assign(text);
}

template <capacity_rule rule> basic_utf8_string<rule>::basic_utf8_string(const char* text, std::size_t limit)
{
    assign(text, limit);
}

template <capacity_rule rule>
basic_utf8_string<rule>::basic_utf8_string(const basic_utf8_string& other) : kestrune::utf8_string()
{
    assign(other.c_str());
}

template <capacity_rule rule>
basic_utf8_string<rule>::basic_utf8_string(basic_utf8_string&& other) noexcept
    : kestrune::utf8_string(), block_(std::exchange(other.block_, nullptr)),
      reserved_(std::exchange(other.reserved_, 0)), allocated_(std::exchange(other.allocated_, 0)),
      length_(std::exchange(other.length_, 0))
{}

template <capacity_rule rule>
basic_utf8_string<rule>& basic_utf8_string<rule>::operator=(const basic_utf8_string& other)
{
    if (this != &other)
        assign(other.c_str());
    return *this;
}

template <capacity_rule rule>
basic_utf8_string<rule>& basic_utf8_string<rule>::operator=(basic_utf8_string&& other) noexcept
{
    if (this != &other) {
        heap_free(block_);
        block_ = std::exchange(other.block_, nullptr);
        reserved_ = std::exchange(other.reserved_, 0);
        allocated_ = std::exchange(other.allocated_, 0);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

template <capacity_rule rule> basic_utf8_string<rule>::~basic_utf8_string()
{
    heap_free(block_);
}

template <capacity_rule rule> void basic_utf8_string<rule>::reserve_for(std::uint64_t needed)
{
    if constexpr (rule == capacity_rule::fit_with_slack) {
        if (reserved_ < needed) {
            const std::uint64_t size = needed + 16;
            if (size > UINT32_MAX)
                throw std::bad_alloc();
            block_ = static_cast<char*>(heap_reallocate(block_, static_cast<std::size_t>(size)));
            reserved_ = allocated_ = static_cast<std::uint32_t>(size);
        } else if (reserved_ > needed + 32) {
            if (void* smaller = heap_try_reallocate(block_, static_cast<std::size_t>(needed))) {
                block_ = static_cast<char*>(smaller);
                reserved_ = allocated_ = static_cast<std::uint32_t>(needed);
            }
        }
    } else {
        std::uint64_t size = allocated_ != 0 ? allocated_ : 1;
        while (size < needed) {
            size *= 2;
            if (size > UINT32_MAX)
                throw std::bad_alloc();
        }
        if (size > allocated_) {
            block_ = static_cast<char*>(heap_reallocate(block_, static_cast<std::size_t>(size)));
            allocated_ = static_cast<std::uint32_t>(size);
        }
        reserved_ = static_cast<std::uint32_t>(needed);
    }
}

template <capacity_rule rule> bool basic_utf8_string<rule>::lies_inside_block(const char* bytes) const noexcept
{
    const auto address = reinterpret_cast<std::uintptr_t>(bytes);
    const auto start = reinterpret_cast<std::uintptr_t>(block_);
    return block_ != nullptr && address >= start && address < start + allocated_;
}

template <capacity_rule rule> void basic_utf8_string<rule>::append_bytes(const char* bytes, std::size_t count)
{
    if (count != 0 && lies_inside_block(bytes)) {
        // Growing may move the block under the source, so append a copy.
        basic_utf8_string copy;
        copy.append_bytes(bytes, count);
        append_bytes(copy.block_, count);
        return;
    }
    reserve_for(std::uint64_t{length_} + count + 1);
    if (count != 0)
        std::memcpy(block_ + length_, bytes, count);
    length_ += static_cast<std::uint32_t>(count);
    block_[length_] = '\0';
}

template <capacity_rule rule> void basic_utf8_string<rule>::append(const char* text, std::size_t limit)
{
    append_bytes(text, bounded_length(text, limit));
}

template <capacity_rule rule> const char* basic_utf8_string<rule>::text()
{
    return c_str();
}

template <capacity_rule rule> const char* basic_utf8_string<rule>::c_str() const noexcept
{
    return length_ > 0 ? block_ : empty_text;
}

template <capacity_rule rule> std::string_view basic_utf8_string<rule>::view() const noexcept
{
    return {c_str(), length_};
}

template <capacity_rule rule> void basic_utf8_string<rule>::assign(const char* text, std::size_t limit)
{
    const std::size_t count = bounded_length(text, limit);
    if (count != 0 && lies_inside_block(text)) {
        const basic_utf8_string copy(text, count);
        assign(copy.block_, count);
        return;
    }
    reserve_for(std::uint64_t{count} + 1);
    if (count != 0)
        std::memcpy(block_, text, count);
    length_ = static_cast<std::uint32_t>(count);
    block_[length_] = '\0';
}

template <capacity_rule rule> void basic_utf8_string<rule>::shorten(std::size_t length)
{
    if (length_ <= length)
        return;
    length_ = static_cast<std::uint32_t>(length);
    block_[length_] = '\0';
    reserve_for(std::uint64_t{length_} + 1);
}

template <capacity_rule rule> std::size_t basic_utf8_string<rule>::length()
{
    return length_;
}

template <capacity_rule rule> char* basic_utf8_string<rule>::open_buffer(std::size_t length)
{
    if (length == 0xFFFFFFFFu)
        throw exception_overflow();
    reserve_for(std::uint64_t{length} + 1);
    std::memset(block_, 0, reserved_);
    return block_;
}

template <capacity_rule rule> void basic_utf8_string<rule>::close_buffer()
{
    if (reserved_ == 0)
        return;
    // The writer may have filled every reserved byte; the text then ends where the reservation does.
    const void* terminator = std::memchr(block_, '\0', reserved_);
    length_ = terminator != nullptr ? static_cast<std::uint32_t>(static_cast<const char*>(terminator) - block_)
                                    : reserved_ - 1;
    block_[length_] = '\0';
    reserve_for(std::uint64_t{length_} + 1);
}

template class basic_utf8_string<capacity_rule::fit_with_slack>;
template class basic_utf8_string<capacity_rule::doubling>;

void utf8_string::erase(std::size_t position, std::size_t count)
{
    if (position > length_)
        position = length_;
    if (count > length_ - position)
        count = length_ - position;
    if (count == 0)
        return;
    std::memmove(block_ + position, block_ + position + count, length_ - position - count + 1);
    length_ -= static_cast<std::uint32_t>(count);
    reserve_for(std::uint64_t{length_} + 1);
}

void utf8_string::insert(std::size_t position, const char* bytes, std::size_t count)
{
    if (position > length_)
        position = length_;
    reserve_for(std::uint64_t{length_} + count + 1);
    if (count != 0) {
        std::memmove(block_ + position + count, block_ + position, length_ - position);
        std::memcpy(block_ + position, bytes, count);
    }
    length_ += static_cast<std::uint32_t>(count);
    block_[length_] = '\0';
}

static_assert(sizeof(utf8_string) == sizeof(void*) + 4 * 4, "the host reads the string's fields by position");
static_assert(sizeof(doubling_utf8_string) == sizeof(utf8_string), "both strings share one layout");

} // namespace velmora
