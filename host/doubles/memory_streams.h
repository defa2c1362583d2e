#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "boundary/host_boundary.h"
#include "host/doubles/host_call_faults.h"

namespace stand_in {

// An abort signal that answers true from its nth question on (0: never).
class scripted_abort final : public kestrune::abort_signal {
public:
    explicit scripted_abort(unsigned aborted_from = 0) noexcept : aborted_from_(aborted_from) {}

    bool __thiscall is_aborted() override
    {
        count_host_call("is_aborted");
        return aborted_from_ != 0 && ++questions_ >= aborted_from_;
    }

private:
    unsigned aborted_from_;
    unsigned questions_ = 0;
};

// Collects what is written. Like a host stream, it checks the abort signal before each write and can be made to
// fail once a number of bytes have gone through.
class memory_write_stream final : public kestrune::write_stream {
public:
    void fail_after(std::size_t byte_count) noexcept { failure_at_ = byte_count; }

    void __thiscall write(const void* data, std::size_t count, kestrune::abort_signal& abort) override;

    std::string bytes;
    unsigned write_calls = 0;

private:
    std::size_t failure_at_ = SIZE_MAX;
};

// Serves fixed bytes. Like a host stream, it checks the abort signal first, gives fewer bytes at the end from read
// and skip, and throws exception_io_data_truncation from read_exact and skip_exact when the data ends first.
class memory_read_stream final : public kestrune::read_stream {
public:
    explicit memory_read_stream(std::string data) : data_(std::move(data)) {}

    std::size_t __thiscall read(void* buffer, std::size_t count, kestrune::abort_signal& abort) override;
    void __thiscall read_exact(void* buffer, std::size_t count, kestrune::abort_signal& abort) override;
    std::uint64_t __thiscall skip(std::uint64_t count, kestrune::abort_signal& abort) override;
    void __thiscall skip_exact(std::uint64_t count, kestrune::abort_signal& abort) override;

    std::size_t position() const noexcept { return position_; }

private:
    std::string data_;
    std::size_t position_ = 0;
};

} // namespace stand_in
