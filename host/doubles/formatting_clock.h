#pragma once

#include <atomic>
#include <cstdint>

namespace stand_in {

// Time spent inside the stand-in host's calls that a formatting makes (looking its services up, asking for the track
// and the volume, compiling a script, formatting with it): the host's own cost, which a benchmark takes out of a
// write to find what the component itself spends. Service lookups count whatever they are for. Any thread.
class formatting_clock {
public:
    static double seconds() noexcept;

    // Counts its own lifetime.
    class section {
    public:
        section() noexcept;
        ~section();
        section(const section&) = delete;
        section& operator=(const section&) = delete;

    private:
        std::int64_t start_;
    };

    // Inside a section, leaves out the component's own code that the host calls, such as the string it fills.
    class component_call {
    public:
        component_call() noexcept;
        ~component_call();
        component_call(const component_call&) = delete;
        component_call& operator=(const component_call&) = delete;

    private:
        std::int64_t start_;
    };

private:
    static std::atomic<std::int64_t> ticks_;
};

} // namespace stand_in
