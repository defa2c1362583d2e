#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

namespace stand_in {

// The host's configuration file holds the component's stored records (GUID, 32-bit length, payload) as the
// component saved them. The host edits them by setting name, so a user can set any setting before a run.
struct stored_record {
    GUID guid;
    std::string payload;
};

// False when the bytes are not a whole sequence of records.
bool parse_records(const std::string& bytes, std::vector<stored_record>& records);
std::string serialise_records(const std::vector<stored_record>& records);

// Applies "NAME=VALUE" to the records: a text setting takes the value as UTF-8, a number setting or word the
// decimal value. "N.NAME=VALUE" sets a setting of the added output N (2 to 16), adding it and the outputs before it
// as new outputs where the records have fewer. False with a reason for an unknown name, a bad number or a record that
// is not there.
bool set_by_name(std::vector<stored_record>& records, const std::string& assignment, std::string& error);

// The value of a number setting or word by name, or -1 when the records hold none.
long long number_by_name(const std::vector<stored_record>& records, const std::string& name);

// The names set_by_name knows, for the usage text.
std::string setting_names();

// The port the overlay is served on, 0 when it is off.
std::uint16_t overlay_port_of(const std::vector<stored_record>& records);

// The cover file's path and the placeholder's as stored; empty when not set.
void cover_art_of(const std::vector<stored_record>& records, std::string& cover_path, std::string& placeholder);

// The added outputs (2 to 16) that save to a file, with the path as typed.
struct output_file {
    unsigned number;
    std::string path;
};
std::vector<output_file> output_files(const std::vector<stored_record>& records);

} // namespace stand_in
