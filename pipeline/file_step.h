#pragma once

#include <memory>

#include "pipeline/output_job.h"

namespace velmora {

// Carries out a job's file step on the output thread: replaces the file in one step where it can (in place where it
// cannot), or appends to it in log mode. A replace whose bytes equal what it last published there, with the file
// still as that publish left it, writes nothing. Allocates nothing: a job's memory was taken when it was made.
file_outcome carry_out_file_step(const std::shared_ptr<const output_job>& job) noexcept;

} // namespace velmora
