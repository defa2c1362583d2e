#include "host/doubles/memory_streams.h"

#include <algorithm>
#include <cstring>

#include "boundary/host_exceptions.h"
#include "host/doubles/host_call_faults.h"

namespace stand_in {

namespace {
void check(kestrune::abort_signal& abort)
{
    stand_in::count_host_call("stream operation");
    if (abort.is_aborted())
        throw kestrune_io::exception_aborted();
}
} // namespace

void memory_write_stream::write(const void* data, std::size_t count, kestrune::abort_signal& abort)
{
    ++write_calls;
    check(abort);
    if (count > failure_at_ - std::min(failure_at_, bytes.size()))
        throw kestrune_io::exception_io("Disk full");
    bytes.append(static_cast<const char*>(data), count);
}

std::size_t memory_read_stream::read(void* buffer, std::size_t count, kestrune::abort_signal& abort)
{
    check(abort);
    const std::size_t available = std::min(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, available);
    position_ += available;
    return available;
}

void memory_read_stream::read_exact(void* buffer, std::size_t count, kestrune::abort_signal& abort)
{
    if (read(buffer, count, abort) < count)
        throw kestrune_io::exception_io_data_truncation();
}

std::uint64_t memory_read_stream::skip(std::uint64_t count, kestrune::abort_signal& abort)
{
    check(abort);
    const auto skipped = static_cast<std::size_t>(std::min<std::uint64_t>(count, data_.size() - position_));
    position_ += skipped;
    return skipped;
}

void memory_read_stream::skip_exact(std::uint64_t count, kestrune::abort_signal& abort)
{
    if (skip(count, abort) < count)
        throw kestrune_io::exception_io_data_truncation();
}

} // namespace stand_in
