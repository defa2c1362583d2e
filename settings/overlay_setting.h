#pragma once

#include <cstdint>

#include "settings/config_variable.h"

namespace velmora {

// Off by default. The port lies below the dynamic range (49152 and up), where the system hands out ports to any
// program's outgoing connections, and away from the ports other now-playing tools and common local servers use.
inline constexpr std::uint16_t default_overlay_port = 41837;

// Whether the overlay is served, and on which loopback port. Its record is saved only when it differs from the
// default, so that a configuration that never touched it keeps the records of old, byte for byte. Main thread only.
class overlay_setting final : public config_variable {
public:
    explicit overlay_setting(const GUID& guid) noexcept : config_variable(guid) {}

    bool enabled() const noexcept { return enabled_; }
    std::uint16_t port() const noexcept { return port_; }
    void set(bool enabled, std::uint16_t port) noexcept;

    bool worth_saving() const noexcept override { return enabled_ || port_ != default_overlay_port; }
    // A version word, the switch (0 or 1) and the port (1 to 65535), little-endian 32-bit words.
    void write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort) override;
    // Anything but exactly one such record leaves the setting as it was; only the stream's own failures pass.
    void read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort) override;

private:
    bool enabled_ = false;
    std::uint16_t port_ = default_overlay_port;
};

} // namespace velmora
