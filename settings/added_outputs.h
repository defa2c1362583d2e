#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/config_variable.h"

namespace velmora {

// The settings of one output after the first: each has all of its own, but the delay (shared by every output) and
// the clipboard (the first output's alone).
struct output_settings {
    bool save_to_file = true;
    std::string path;
    std::string script;
    std::int32_t encoding = 1;
    bool log_mode = false;
    std::string exit_text;
    bool on_new_track = true;
    bool on_pause = true;
    bool on_stop = true;
    bool on_every_second = false;

    bool operator==(const output_settings& other) const;
};

// The first output is the seven settings of old; these come after it, at most 15 of them.
inline constexpr std::size_t max_added_outputs = 15;

// A new output: the first output's defaults, and no file yet.
output_settings default_added_output();

// The stored payload: a version word, the count, then each output's flags, encoding and three texts, all in
// little-endian 32-bit words, each text as its length and its bytes.
std::string encode_added_outputs(const std::vector<output_settings>& outputs);
// False, with outputs untouched, for a payload that is not exactly one whole record of a known version.
bool decode_added_outputs(const char* bytes, std::size_t size, std::vector<output_settings>& outputs);

// The stored record of the added outputs. It is saved only when there is at least one, so that a configuration
// without any keeps the records of old, byte for byte. Main thread only.
class added_outputs_setting final : public config_variable {
public:
    explicit added_outputs_setting(const GUID& guid) noexcept : config_variable(guid) {}

    std::vector<output_settings>& outputs() noexcept { return outputs_; }
    const std::vector<output_settings>& outputs() const noexcept { return outputs_; }

    bool worth_saving() const noexcept override { return !outputs_.empty(); }
    void write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort) override;
    // A damaged payload leaves the outputs as they were; only the stream's own failures pass.
    void read_value(kestrune::read_stream& stream, std::uint64_t size, kestrune::abort_signal& abort) override;

private:
    std::vector<output_settings> outputs_;
};

} // namespace velmora
