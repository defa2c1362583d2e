#include "host/player/stored_settings.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <sstream>

namespace stand_in {

namespace {

enum class setting_kind { text, number, word };

struct named_setting {
    const char* name;
    setting_kind kind;
    GUID guid;
    std::size_t word;
};

constexpr GUID script_guid = {0xDA9DCD74, 0x54C3, 0x43C4, {0xBA, 0xC5, 0x8B, 0x43, 0x70, 0xEB, 0x51, 0x65}};
constexpr GUID path_guid = {0xCBC3E777, 0x9C0A, 0x425A, {0x8A, 0x9A, 0x18, 0x88, 0xC3, 0xC8, 0xC9, 0xE6}};
constexpr GUID exit_guid = {0x0BFCDDE8, 0xEAB0, 0x4DA7, {0xA0, 0x4D, 0x7B, 0x91, 0x57, 0xB2, 0x36, 0xB4}};
constexpr GUID encoding_guid = {0x8039889A, 0xCEFB, 0x4008, {0x99, 0x00, 0x67, 0xE8, 0x50, 0xA8, 0x8D, 0x82}};
constexpr GUID log_guid = {0x33E4D4CE, 0x7BAB, 0x4010, {0x9E, 0x81, 0xC7, 0xFF, 0x08, 0x7E, 0xE5, 0x1A}};
constexpr GUID events_guid = {0xA843B667, 0x65A7, 0x43B3, {0xB9, 0x54, 0x28, 0x31, 0x29, 0x87, 0x95, 0xD9}};
constexpr GUID targets_guid = {0x2022701A, 0x8B3D, 0x4289, {0xAB, 0xD8, 0x78, 0x60, 0x4C, 0xF9, 0x3F, 0x00}};
constexpr GUID added_outputs_guid = {0x5B1E7C2A, 0x3F64, 0x4C1D, {0x9A, 0x07, 0xE2, 0x58, 0x31, 0xC6, 0x4B, 0x9D}};
constexpr GUID overlay_guid = {0x7C41D2E9, 0x0B5A, 0x4F83, {0xA6, 0x1D, 0x3E, 0x92, 0x58, 0xC7, 0x04, 0xBB}};
constexpr std::uint32_t default_overlay_port = 41837;
constexpr GUID cover_art_guid = {0x3E8A51C7, 0x6D2F, 0x4B90, {0x8E, 0x14, 0xA7, 0x5C, 0x29, 0xD3, 0x60, 0xF1}};

const named_setting settings[] = {
    {"now_playing_script", setting_kind::text, script_guid, 0},
    {"output_path", setting_kind::text, path_guid, 0},
    {"exit_text", setting_kind::text, exit_guid, 0},
    {"output_encoding", setting_kind::number, encoding_guid, 0},
    {"log_mode", setting_kind::number, log_guid, 0},
    {"on_new_track", setting_kind::word, events_guid, 0},
    {"on_pause", setting_kind::word, events_guid, 1},
    {"on_stop", setting_kind::word, events_guid, 2},
    {"on_every_second", setting_kind::word, events_guid, 3},
    {"delay_enabled", setting_kind::word, events_guid, 4},
    {"delay_ms", setting_kind::word, events_guid, 5},
    {"save_to_file", setting_kind::word, targets_guid, 0},
    {"copy_to_clipboard", setting_kind::word, targets_guid, 1},
};

// An added output as its stored record holds it (docs/added-outputs-record.md).
struct added_output {
    std::uint32_t flags = 0x1D; // saved to file, on a new track, a pause and a stop
    std::uint32_t encoding = 1;
    std::string path;
    std::string script = "$if(%isplaying%,\r\n$if(%ispaused%,\r\npaused\r\n,\r\nplaying\r\n): %artist% - %title%,"
                         "\r\nstopped\r\n)";
    std::string exit = "not running";
};

// The per-output settings by name, with the flag each switch is, 0 for a text or the encoding.
struct output_field {
    const char* name;
    std::uint32_t flag;
};
const output_field output_fields[] = {
    {"save_to_file", 1}, {"output_path", 0},      {"now_playing_script", 0}, {"output_encoding", 0},
    {"log_mode", 2},     {"exit_text", 0},        {"on_new_track", 4},       {"on_pause", 8},
    {"on_stop", 16},     {"on_every_second", 32},
};
constexpr unsigned last_output = 16;

bool take_word(const std::string& bytes, std::size_t& at, std::uint32_t& word)
{
    if (bytes.size() - at < 4)
        return false;
    std::memcpy(&word, bytes.data() + at, 4);
    at += 4;
    return true;
}

bool take_text(const std::string& bytes, std::size_t& at, std::string& text)
{
    std::uint32_t length = 0;
    if (!take_word(bytes, at, length) || bytes.size() - at < length)
        return false;
    text = bytes.substr(at, length);
    at += length;
    return true;
}

bool decode_outputs(const std::string& payload, std::vector<added_output>& outputs)
{
    std::size_t at = 0;
    std::uint32_t version = 0, count = 0;
    if (!take_word(payload, at, version) || version != 1 || !take_word(payload, at, count) || count > last_output - 1)
        return false;
    outputs.assign(count, {});
    for (added_output& output : outputs) {
        if (!take_word(payload, at, output.flags) || !take_word(payload, at, output.encoding) ||
            !take_text(payload, at, output.path) || !take_text(payload, at, output.script) ||
            !take_text(payload, at, output.exit))
            return false;
    }
    return at == payload.size();
}

std::string encode_outputs(const std::vector<added_output>& outputs)
{
    std::string bytes;
    const auto word = [&bytes](std::uint32_t value) { bytes.append(reinterpret_cast<const char*>(&value), 4); };
    word(1);
    word(static_cast<std::uint32_t>(outputs.size()));
    for (const added_output& output : outputs) {
        word(output.flags);
        word(output.encoding);
        for (const std::string* text : {&output.path, &output.script, &output.exit}) {
            word(static_cast<std::uint32_t>(text->size()));
            bytes += *text;
        }
    }
    return bytes;
}

const stored_record* find_record(const std::vector<stored_record>& records, const GUID& guid)
{
    for (const stored_record& record : records) {
        if (std::memcmp(&record.guid, &guid, sizeof(GUID)) == 0)
            return &record;
    }
    return nullptr;
}

// Replaces the payload of the record with this GUID, or adds the record.
void store_record(std::vector<stored_record>& records, const GUID& guid, const std::string& payload)
{
    for (stored_record& record : records) {
        if (std::memcmp(&record.guid, &guid, sizeof(GUID)) == 0) {
            record.payload = payload;
            return;
        }
    }
    records.push_back({guid, payload});
}

// The added outputs the records hold; none when there is no record (or a damaged one).
std::vector<added_output> added_outputs_of(const std::vector<stored_record>& records)
{
    std::vector<added_output> outputs;
    const stored_record* record = find_record(records, added_outputs_guid);
    if (record == nullptr || !decode_outputs(record->payload, outputs))
        outputs.clear();
    return outputs;
}

bool whole_number(const std::string& value, long long& number)
{
    std::istringstream input(value);
    return static_cast<bool>(input >> number) && (input >> std::ws).eof() && number >= INT32_MIN &&
           number <= UINT32_MAX;
}

// "N.NAME": the output's number and the setting's name; false for a name of output 1's settings.
bool split_output_name(const std::string& name, unsigned& output, std::string& field)
{
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos || dot == 0 || name.find_first_not_of("0123456789") != dot)
        return false;
    output = static_cast<unsigned>(
        std::min<std::size_t>(std::stoul(name.substr(0, std::min<std::size_t>(dot, 3))), last_output + 1));
    field = name.substr(dot + 1);
    return true;
}

bool set_output_setting(std::vector<stored_record>& records, unsigned number, const std::string& field,
                        const std::string& value, std::string& error)
{
    if (number < 2 || number > last_output) {
        error =
            "outputs 2 to " + std::to_string(last_output) + " are set by number, not output " + std::to_string(number);
        return false;
    }
    const output_field* known = nullptr;
    for (const output_field& candidate : output_fields) {
        if (field == candidate.name)
            known = &candidate;
    }
    if (known == nullptr) {
        error = "an output has no setting called \"" + field + "\"";
        return false;
    }
    std::vector<added_output> outputs = added_outputs_of(records);
    // Setting output N adds it, and the outputs before it, with the settings a new output starts with.
    if (outputs.size() < number - 1)
        outputs.resize(number - 1);
    added_output& output = outputs[number - 2];
    long long value_number = 0;
    if (field == "output_path") {
        output.path = value;
    } else if (field == "now_playing_script") {
        output.script = value;
    } else if (field == "exit_text") {
        output.exit = value;
    } else if (!whole_number(value, value_number) ||
               (field == "output_encoding" && (value_number < 0 || value_number > 3))) {
        error = std::to_string(number) + "." + field + " takes " +
                (field == "output_encoding" ? "0 to 3" : "a whole number") + ", not \"" + value + "\"";
        return false;
    } else if (field == "output_encoding") {
        output.encoding = static_cast<std::uint32_t>(value_number);
    } else if (value_number != 0) {
        output.flags |= known->flag;
    } else {
        output.flags &= ~known->flag;
    }
    store_record(records, added_outputs_guid, encode_outputs(outputs));
    return true;
}

// The overlay's record: a version word, the switch and the port; off on the default port when there is none.
void overlay_of(const std::vector<stored_record>& records, std::uint32_t& on, std::uint32_t& port)
{
    on = 0;
    port = default_overlay_port;
    const stored_record* record = find_record(records, overlay_guid);
    std::uint32_t words[3] = {};
    if (record == nullptr || record->payload.size() != sizeof words)
        return;
    std::memcpy(words, record->payload.data(), sizeof words);
    if (words[0] == 1 && words[1] <= 1 && words[2] >= 1 && words[2] <= 65535) {
        on = words[1];
        port = words[2];
    }
}

// overlay=0 or 1 switches it; overlay_port=N sets the port and switches it on.
bool set_overlay_setting(std::vector<stored_record>& records, const std::string& name, const std::string& value,
                         std::string& error)
{
    std::uint32_t on = 0, port = 0;
    overlay_of(records, on, port);
    long long number = 0;
    const bool switch_named = name == "overlay";
    if (!whole_number(value, number) || number < (switch_named ? 0 : 1) || number > (switch_named ? 1 : 65535)) {
        error = name + " takes " + (switch_named ? "0 or 1" : "a port of 1 to 65535") + ", not \"" + value + "\"";
        return false;
    }
    if (switch_named)
        on = static_cast<std::uint32_t>(number);
    else {
        on = 1;
        port = static_cast<std::uint32_t>(number);
    }
    const std::uint32_t words[3] = {1, on, port};
    store_record(records, overlay_guid, std::string(reinterpret_cast<const char*>(words), sizeof words));
    return true;
}

bool set_cover_art_setting(std::vector<stored_record>& records, const std::string& name, const std::string& value)
{
    std::string cover_path, placeholder;
    cover_art_of(records, cover_path, placeholder);
    (name == "cover_path" ? cover_path : placeholder) = value;
    std::string payload;
    for (const std::uint32_t word : {1u, static_cast<std::uint32_t>(cover_path.size())})
        payload.append(reinterpret_cast<const char*>(&word), 4);
    payload += cover_path;
    const auto count = static_cast<std::uint32_t>(placeholder.size());
    payload.append(reinterpret_cast<const char*>(&count), 4);
    payload += placeholder;
    store_record(records, cover_art_guid, payload);
    return true;
}

} // namespace

// The cover art's record: a version word, then the file's path and the placeholder's, each a byte count and its bytes.
void cover_art_of(const std::vector<stored_record>& records, std::string& cover_path, std::string& placeholder)
{
    cover_path.clear();
    placeholder.clear();
    const stored_record* record = find_record(records, cover_art_guid);
    if (record == nullptr)
        return;
    const std::string& payload = record->payload;
    std::size_t at = 4;
    std::string texts[2];
    for (std::string& text : texts) {
        std::uint32_t count = 0;
        if (payload.size() < at + 4)
            return;
        std::memcpy(&count, payload.data() + at, 4);
        at += 4;
        if (payload.size() - at < count)
            return;
        text = payload.substr(at, count);
        at += count;
    }
    cover_path = texts[0];
    placeholder = texts[1];
}

bool parse_records(const std::string& bytes, std::vector<stored_record>& records)
{
    records.clear();
    std::size_t position = 0;
    while (position < bytes.size()) {
        if (bytes.size() - position < 20)
            return false;
        stored_record record{};
        std::memcpy(&record.guid, bytes.data() + position, 16);
        std::uint32_t length;
        std::memcpy(&length, bytes.data() + position + 16, 4);
        position += 20;
        if (bytes.size() - position < length)
            return false;
        record.payload = bytes.substr(position, length);
        position += length;
        records.push_back(record);
    }
    return true;
}

std::string serialise_records(const std::vector<stored_record>& records)
{
    std::string bytes;
    for (const stored_record& record : records) {
        bytes.append(reinterpret_cast<const char*>(&record.guid), 16);
        const auto length = static_cast<std::uint32_t>(record.payload.size());
        bytes.append(reinterpret_cast<const char*>(&length), 4);
        bytes += record.payload;
    }
    return bytes;
}

bool set_by_name(std::vector<stored_record>& records, const std::string& assignment, std::string& error)
{
    const std::size_t equals = assignment.find('=');
    const std::string name = assignment.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : assignment.substr(equals + 1);
    unsigned output = 0;
    std::string field;
    if (name == "overlay" || name == "overlay_port") {
        if (equals == std::string::npos) {
            error = "a setting is given as NAME=VALUE: " + assignment;
            return false;
        }
        return set_overlay_setting(records, name, value, error);
    }
    if (name == "cover_path" || name == "cover_placeholder") {
        if (equals == std::string::npos) {
            error = "a setting is given as NAME=VALUE: " + assignment;
            return false;
        }
        return set_cover_art_setting(records, name, value);
    }
    if (split_output_name(name, output, field)) {
        if (equals == std::string::npos) {
            error = "a setting is given as NAME=VALUE: " + assignment;
            return false;
        }
        return set_output_setting(records, output, field, value, error);
    }
    for (const named_setting& setting : settings) {
        if (name != setting.name)
            continue;
        if (equals == std::string::npos) {
            error = "a setting is given as NAME=VALUE: " + assignment;
            return false;
        }
        stored_record* found = nullptr;
        for (stored_record& record : records) {
            if (std::memcmp(&record.guid, &setting.guid, sizeof(GUID)) == 0)
                found = &record;
        }
        if (found == nullptr) {
            error = "the stored settings hold no record for " + name;
            return false;
        }
        if (setting.kind == setting_kind::text) {
            found->payload = value;
            return true;
        }
        long long number = 0;
        if (!whole_number(value, number)) {
            error = name + " takes a whole number, not \"" + value + "\"";
            return false;
        }
        const auto word = static_cast<std::uint32_t>(number);
        const std::size_t offset = setting.word * 4;
        if (found->payload.size() < offset + 4) {
            error = "the stored record of " + name + " is too short";
            return false;
        }
        std::memcpy(&found->payload[offset], &word, 4);
        return true;
    }
    error = "no setting is called \"" + name + "\"; the settings are: " + setting_names();
    return false;
}

long long number_by_name(const std::vector<stored_record>& records, const std::string& name)
{
    unsigned output = 0;
    std::string field;
    if (split_output_name(name, output, field)) {
        const std::vector<added_output> outputs = added_outputs_of(records);
        if (field != "output_encoding" || output < 2 || output - 2 >= outputs.size())
            return -1;
        return outputs[output - 2].encoding;
    }
    for (const named_setting& setting : settings) {
        if (name != setting.name || setting.kind == setting_kind::text)
            continue;
        for (const stored_record& record : records) {
            const std::size_t offset = setting.word * 4;
            if (std::memcmp(&record.guid, &setting.guid, sizeof(GUID)) != 0 || record.payload.size() < offset + 4)
                continue;
            std::int32_t value = 0;
            std::memcpy(&value, record.payload.data() + offset, 4);
            return value;
        }
    }
    return -1;
}

std::string setting_names()
{
    std::string names;
    for (const named_setting& setting : settings)
        names += (names.empty() ? "" : ", ") + std::string(setting.name);
    names +=
        ", overlay, overlay_port, cover_path, cover_placeholder; and for outputs 2 to 16, N.NAME with NAME one of ";
    for (const output_field& field : output_fields)
        names += std::string(field.name) + (&field == std::end(output_fields) - 1 ? "" : ", ");
    return names;
}

std::uint16_t overlay_port_of(const std::vector<stored_record>& records)
{
    std::uint32_t on = 0, port = 0;
    overlay_of(records, on, port);
    return on != 0 ? static_cast<std::uint16_t>(port) : 0;
}

std::vector<output_file> output_files(const std::vector<stored_record>& records)
{
    std::vector<output_file> files;
    const std::vector<added_output> outputs = added_outputs_of(records);
    for (std::size_t index = 0; index < outputs.size(); ++index) {
        if ((outputs[index].flags & 1) != 0 && !outputs[index].path.empty())
            files.push_back({static_cast<unsigned>(index + 2), outputs[index].path});
    }
    return files;
}

} // namespace stand_in
