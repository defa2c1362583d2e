#include "settings/bounded_reader.h"

#include <algorithm>

#include "boundary/host_exceptions.h"

namespace velmora {

std::size_t bounded_reader::read(void* buffer, std::size_t count, kestrune::abort_signal& abort)
{
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, remaining_));
    if (wanted == 0)
        return 0;
    // A host that claims more than it was asked for gets no further than the request.
    const std::size_t got = std::min(inner_.read(buffer, wanted, abort), wanted);
    remaining_ -= got;
    return got;
}

void bounded_reader::read_exact(void* buffer, std::size_t count, kestrune::abort_signal& abort)
{
    if (read(buffer, count, abort) < count)
        throw kestrune_io::exception_io_data_truncation();
}

std::uint64_t bounded_reader::skip(std::uint64_t count, kestrune::abort_signal& abort)
{
    const std::uint64_t wanted = std::min(count, remaining_);
    if (wanted == 0)
        return 0;
    const std::uint64_t skipped = std::min(inner_.skip(wanted, abort), wanted);
    remaining_ -= skipped;
    return skipped;
}

void bounded_reader::skip_exact(std::uint64_t count, kestrune::abort_signal& abort)
{
    if (skip(count, abort) < count)
        throw kestrune_io::exception_io_data_truncation();
}

} // namespace velmora
