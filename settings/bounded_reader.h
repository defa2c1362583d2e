#pragma once

#include <cstddef>
#include <cstdint>

#include "boundary/host_boundary.h"

namespace velmora {

// Lets a setting read no further than its own stored payload.
class bounded_reader final : public kestrune::read_stream {
public:
    bounded_reader(kestrune::read_stream& inner, std::uint64_t remaining) noexcept
        : inner_(inner), remaining_(remaining)
    {}

    std::uint64_t remaining() const noexcept { return remaining_; }

    std::size_t __thiscall read(void* buffer, std::size_t count, kestrune::abort_signal& abort) override;
    // Throws exception_io_data_truncation when the payload or the host's data ends first.
    void __thiscall read_exact(void* buffer, std::size_t count, kestrune::abort_signal& abort) override;
    std::uint64_t __thiscall skip(std::uint64_t count, kestrune::abort_signal& abort) override;
    // Throws exception_io_data_truncation when the payload or the host's data ends first.
    void __thiscall skip_exact(std::uint64_t count, kestrune::abort_signal& abort) override;

private:
    kestrune::read_stream& inner_;
    std::uint64_t remaining_;
};

} // namespace velmora
