#pragma once

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
// decimal value. False with a reason for an unknown name, a bad number or a record that is not there.
bool set_by_name(std::vector<stored_record>& records, const std::string& assignment, std::string& error);

// The value of a number setting or word by name, or -1 when the records hold none.
long long number_by_name(const std::vector<stored_record>& records, const std::string& name);

// The names set_by_name knows, for the usage text.
std::string setting_names();

} // namespace stand_in
