#pragma once

#include <memory>

#include <windows.h>

#include "pipeline/output_job.h"

namespace velmora {

// The thread that does every file step, so that the host's main thread never waits for a disk. It is started by
// the first job (never under the loader lock), keeps the module loaded while it runs, and takes its jobs in the
// order they came. A replace job not yet started gives way to a newer one for the same file; log entries are never
// dropped or reordered, except that past a backlog of a thousand new ones are dropped, with one line to the host,
// rather than let the main thread wait. What must follow a job on the main thread (an error line, the clipboard)
// comes back through a main_thread_callback, in order.

// Main thread. bad_alloc passes, with nothing queued.
void submit_output(std::shared_ptr<const output_job> job);

// Main thread: the error lines and clipboard texts that have come back, in order.
void deliver_output_outcomes();

// Main thread: waits until every job queued so far is carried out, answering sent messages meanwhile (a window of
// ours may own the clipboard), for limit_ms at most; then delivers what came back. False at the limit.
bool wait_for_output(DWORD limit_ms);

// At host shut-down, before the exit text is queued: it is queued whatever the log's backlog.
void begin_output_shutdown() noexcept;

// At host shut-down, after the exit text is queued: as wait_for_output, and at the limit the jobs still waiting are
// dropped, the file call in progress is cancelled, and the newest unfinished job is reported as timed out. The
// thread ends once it is free; a later job starts a new one.
void finish_output(DWORD limit_ms);

// When the host clears the services-ready flag: the thread ends once its queue is empty.
void end_output_when_idle() noexcept;

} // namespace velmora
