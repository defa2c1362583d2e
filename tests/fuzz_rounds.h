#pragma once

#include <cstdlib>

namespace velmora {

// The suite runs each randomized test with fixed seeds and a modest number of rounds. The long run (tools/fuzz)
// multiplies the rounds by VELMORA_FUZZ_SCALE and shifts every seed by VELMORA_FUZZ_SEED.
inline unsigned long environment_number(const char* name, unsigned long fallback)
{
    const char* text = std::getenv(name);
    return text == nullptr || *text == '\0' ? fallback : std::strtoul(text, nullptr, 10);
}

inline unsigned long fuzz_rounds(unsigned long suite_rounds)
{
    return suite_rounds * environment_number("VELMORA_FUZZ_SCALE", 1);
}

inline unsigned fuzz_seed(unsigned suite_seed)
{
    return suite_seed + static_cast<unsigned>(environment_number("VELMORA_FUZZ_SEED", 0));
}

} // namespace velmora
