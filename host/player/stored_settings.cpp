#include "host/player/stored_settings.h"

#include <cstdint>
#include <cstring>
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

} // namespace

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
        std::istringstream input(value);
        long long number = 0;
        if (!(input >> number) || !(input >> std::ws).eof() || number < INT32_MIN || number > UINT32_MAX) {
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
    return names;
}

} // namespace stand_in
