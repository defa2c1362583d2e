#include "pipeline/main_thread_write.h"

#include <cstring>
#include <utility>

#include "boundary/service_ptr.h"

#include "pipeline/write_now_playing.h"
#include "pipeline/write_scheduler.h"

namespace velmora {

std::int32_t main_thread_write::release()
{
    const std::int32_t count = --references_;
    if (count == 0)
        delete this;
    return count;
}

std::int32_t main_thread_write::add_ref()
{
    return ++references_;
}

bool main_thread_write::query_by_guid(kestrune::service_object** out, const GUID& guid)
{
    if (std::memcmp(&guid, &main_thread_write_guid, sizeof guid) != 0)
        return false;
    add_ref();
    // The slot's earlier reference is released as the out-reference rule asks.
    service_ptr<kestrune::service_object>::adopt(std::exchange(*out, this));
    return true;
}

void main_thread_write::run()
{
    if (!scheduler_.closed())
        write_now_playing();
}

} // namespace velmora
