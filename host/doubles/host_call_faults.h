#pragma once

namespace stand_in {

// Test equipment: counts the calls the component makes into the stand-in host and makes the nth one throw
// std::runtime_error, as a failing host operation would. 0 switches failures off. With this_thread_only, only the
// calling thread's calls count and fail; the component's own threads make theirs unhindered.
void fail_host_call(unsigned nth, bool this_thread_only = false) noexcept;

// Whether the planned failure is still ahead (it has not been reached yet).
bool host_call_failure_pending() noexcept;

// Called at the start of every stand-in host operation.
void count_host_call(const char* operation);

} // namespace stand_in
