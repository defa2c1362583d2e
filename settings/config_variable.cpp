#include "settings/config_variable.h"

#include <cstring>

namespace velmora {

namespace {
config_variable* registry_head = nullptr;
} // namespace

config_variable::config_variable(const GUID& guid) noexcept : guid_(guid), next_(registry_head)
{
    registry_head = this;
}

config_variable* settings_registry() noexcept
{
    return registry_head;
}

config_string::config_string(const GUID& guid, const char* default_text) : config_variable(guid), value_(default_text)
{}

void config_string::write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort)
{
    stream.write(value_.c_str(), value_.size(), abort);
}

void config_string::read_value(kestrune::read_stream& stream, std::uint64_t, kestrune::abort_signal& abort)
{
    doubling_utf8_string stored;
    read_in_pieces(stream, abort, [&stored](const char* bytes, std::size_t count) { stored.append_bytes(bytes, count); });
    value_.assign(stored.c_str());
}

config_int::config_int(const GUID& guid, std::int32_t default_value) noexcept
    : config_variable(guid), value_(default_value)
{}

void config_int::write_value(kestrune::write_stream& stream, kestrune::abort_signal& abort)
{
    stream.write(&value_, sizeof value_, abort);
}

void config_int::read_value(kestrune::read_stream& stream, std::uint64_t, kestrune::abort_signal& abort)
{
    std::int32_t stored;
    stream.read_exact(&stored, sizeof stored, abort);
    value_ = stored;
}

} // namespace velmora
