#pragma once

#include <cstdint>
#include <string>

#include "settings/config_variable.h"

namespace velmora {

// Where the playing track's cover art is published (empty: nowhere; %NAME% references expanded as for the text)
// and the user's picture for when there is none (empty: a transparent pixel). Both UTF-8. The record is saved only
// when one is set, so that a configuration without art keeps the records of old, byte for byte. Main thread only.
class cover_art_setting final : public config_variable {
public:
    explicit cover_art_setting(const GUID& guid) noexcept : config_variable(guid) {}

    const std::string& cover_path() const noexcept { return cover_path_; }
    const std::string& placeholder() const noexcept { return placeholder_; }
    void set(std::string cover_path, std::string placeholder) noexcept;

    bool worth_saving() const noexcept override { return !cover_path_.empty() || !placeholder_.empty(); }
    // A version word, then each text as a little-endian 32-bit byte count and its bytes.
    void write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort) override;
    // Anything but exactly one such record leaves the setting as it was; only the stream's own failures pass.
    void read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort) override;

private:
    std::string cover_path_;
    std::string placeholder_;
};

} // namespace velmora
