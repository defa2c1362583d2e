#include "settings/settings_store.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "boundary/host_exceptions.h"
#include "settings/bounded_reader.h"
#include "settings/component_settings.h"

namespace velmora {

namespace {

// Collects one setting's payload so its length can be written before it.
class payload_buffer final : public kestrune::write_stream {
public:
    void __thiscall write(const void* data, std::size_t count, kestrune::abort_signal& abort) override
    {
        if (abort.is_aborted())
            throw kestrune_io::exception_aborted();
        if (count > UINT32_MAX - bytes_.size())
            throw std::bad_alloc();
        const auto* first = static_cast<const char*>(data);
        bytes_.insert(bytes_.end(), first, first + count);
    }

    const std::vector<char>& bytes() const noexcept { return bytes_; }

private:
    std::vector<char> bytes_;
};

config_variable* find_variable(const GUID& guid) noexcept
{
    for (config_variable* variable = settings_registry(); variable != nullptr; variable = variable->next()) {
        if (std::memcmp(&variable->guid(), &guid, sizeof guid) == 0)
            return variable;
    }
    return nullptr;
}

} // namespace

void write_settings(kestrune::write_stream& stream, kestrune::abort_signal& abort)
{
    for (config_variable* variable = settings_registry(); variable != nullptr; variable = variable->next()) {
        if (!variable->worth_saving())
            continue;
        payload_buffer payload;
        variable->write_value(payload, abort);
        const auto length = static_cast<std::uint32_t>(payload.bytes().size());
        stream.write(&variable->guid(), sizeof(GUID), abort);
        stream.write(&length, sizeof length, abort);
        if (length != 0)
            stream.write(payload.bytes().data(), length, abort);
    }
}

void read_settings(kestrune::read_stream& stream, kestrune::abort_signal& abort)
{
    for (;;) {
        GUID guid;
        if (stream.read(&guid, sizeof guid, abort) < sizeof guid)
            return;
        std::uint32_t length;
        stream.read_exact(&length, sizeof length, abort);

        config_variable* variable = find_variable(guid);
        if (variable == nullptr) {
            stream.skip_exact(length, abort);
            continue;
        }
        bounded_reader payload(stream, length);
        try {
            variable->read_value(payload, length, abort);
        } catch (const kestrune_io::exception_io_data&) {
            // A damaged payload leaves the setting as it was; the records after it still count.
        }
        if (payload.remaining() != 0)
            payload.skip_exact(payload.remaining(), abort);
    }
}

void restore_page_defaults()
{
    now_playing_script.set(default_now_playing_script);
    exit_text.set(default_exit_text);
    output_encoding.set(default_output_encoding);
}

} // namespace velmora
