#pragma once

#include <cstddef>
#include <string>

#include <windows.h>

#include "output/output_job.h"

namespace velmora {

// Main thread: the line "Error: WHAT: REASON", the reason in the system's words.
void report_system_error(const std::string& what, DWORD error);

// Main thread: what follows a job's file step there, the error line and the clipboard.
void deliver_output_outcome(const output_job& job, file_outcome outcome);

// Main thread: the one line that says a log's entries are being dropped.
void report_log_backlog(const output_job& job, std::size_t waiting);

} // namespace velmora
