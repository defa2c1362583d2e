#pragma once

#include "boundary/host_callback.h"

namespace velmora {

class delay_scheduler;

// Queued with the host by the worker's timer; the host runs it on its main thread, where it writes.
class delayed_write_callback final : public host_callback<delayed_write_callback> {
public:
    // Marks one as queued and not yet run; false when one already is. The timer queues no second one meanwhile, so
    // that a slow main thread does not make the host's queue grow, and the one that runs writes the newest text.
    static bool claim() noexcept;
    static void unclaim() noexcept;

    void run_on_main_thread();

private:
    template <typename callback, typename... arguments>
    friend service_ptr<kestrune::main_thread_callback> make_host_callback(arguments&&...);
    friend class host_callback<delayed_write_callback>;

    explicit delayed_write_callback(const delay_scheduler& scheduler) noexcept : scheduler_(scheduler) {}
    ~delayed_write_callback();

    const delay_scheduler& scheduler_;
    bool ran_ = false;
};

} // namespace velmora
