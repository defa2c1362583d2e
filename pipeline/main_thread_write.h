#pragma once

#include <atomic>
#include <cstdint>

#include "boundary/host_boundary.h"

namespace velmora {

class write_scheduler;

// Queued with the host by the worker's timer; the host runs it on its main thread, where it writes. It is born with
// one reference, its maker's, and frees itself when its last reference is released.
class main_thread_write final : public kestrune::main_thread_callback {
public:
    explicit main_thread_write(const write_scheduler& scheduler) noexcept : scheduler_(scheduler) {}

    std::int32_t __thiscall release() override;
    std::int32_t __thiscall add_ref() override;
    bool __thiscall query_by_guid(kestrune::service_object** out, const GUID& guid) override;
    void __thiscall run() override;

private:
    ~main_thread_write() = default;

    std::atomic<std::int32_t> references_{1};
    const write_scheduler& scheduler_;
};

inline constexpr GUID main_thread_write_guid = {
    0x87D2C583, 0x7AFB, 0x4E58, {0xB2, 0x1E, 0xFB, 0xD3, 0xE6, 0xE8, 0xF5, 0xE7}};

} // namespace velmora
