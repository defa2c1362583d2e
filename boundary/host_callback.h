#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "boundary/host_boundary.h"
#include "boundary/service_ptr.h"

namespace velmora {

// The callbacks the host holds, counted, so that none can run or be released in a module that is gone. A host may
// keep a queued callback past on_shutdown and FreeLibrary, or clear the services-ready flag and unload without
// on_shutdown. Retiring (at either) refuses new callbacks, makes held ones do nothing when run, and pins the module
// when any is still held, since their code is the module's. Reopening (the flag set again) admits new ones.
namespace host_callbacks {
// Counts one more held callback; false once retired.
bool admit() noexcept;
void leave() noexcept;
void retire() noexcept;
void reopen() noexcept;
bool retired() noexcept;
} // namespace host_callbacks

inline constexpr GUID main_thread_callback_guid = {
    0x87D2C583, 0x7AFB, 0x4E58, {0xB2, 0x1E, 0xFB, 0xD3, 0xE6, 0xE8, 0xF5, 0xE7}};

// A callback for the host's main_thread_callback_manager, made only through make_host_callback: born with one
// reference, its maker's, freed by its last release. Its run does derived::run_on_main_thread unless retired.
template <typename derived> class host_callback : public kestrune::main_thread_callback {
public:
    std::int32_t __thiscall release() override
    {
        const std::int32_t count = --references_;
        if (count == 0)
            delete static_cast<derived*>(this);
        return count;
    }
    std::int32_t __thiscall add_ref() override { return ++references_; }
    bool __thiscall query_by_guid(kestrune::service_object** out, const GUID& guid) override
    {
        if (std::memcmp(&guid, &main_thread_callback_guid, sizeof guid) != 0)
            return false;
        add_ref();
        // The slot's earlier reference is released as the out-reference rule asks.
        service_ptr<kestrune::service_object>::adopt(std::exchange(*out, this));
        return true;
    }
    void __thiscall run() override
    {
        if (!host_callbacks::retired())
            static_cast<derived*>(this)->run_on_main_thread();
    }

protected:
    host_callback() noexcept = default;
    ~host_callback() { host_callbacks::leave(); }

private:
    std::atomic<std::int32_t> references_{1};
};

// A new callback with its maker's reference, or null once the callbacks are retired. bad_alloc passes.
template <typename callback, typename... arguments>
service_ptr<kestrune::main_thread_callback> make_host_callback(arguments&&... callback_arguments)
{
    if (!host_callbacks::admit())
        return {};
    try {
        return service_ptr<kestrune::main_thread_callback>::adopt(
            new callback(std::forward<arguments>(callback_arguments)...));
    } catch (...) {
        host_callbacks::leave();
        throw;
    }
}

} // namespace velmora
