#pragma once

#include "pipeline/host_callback.h"

namespace velmora {

class write_scheduler;

// Queued with the host by the worker's timer; the host runs it on its main thread, where it writes.
class main_thread_write final : public host_callback<main_thread_write> {
public:
    // Marks one as queued and not yet run; false when one already is. The timer queues no second one meanwhile, so
    // that a slow main thread does not make the host's queue grow, and the one that runs writes the newest text.
    static bool claim() noexcept;
    static void unclaim() noexcept;

    void run_on_main_thread();

private:
    template <typename callback, typename... arguments>
    friend service_ptr<kestrune::main_thread_callback> make_host_callback(arguments&&...);
    friend class host_callback<main_thread_write>;

    explicit main_thread_write(const write_scheduler& scheduler) noexcept : scheduler_(scheduler) {}
    ~main_thread_write();

    const write_scheduler& scheduler_;
    bool ran_ = false;
};

} // namespace velmora
