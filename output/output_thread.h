#pragma once

#include <memory>

#include <windows.h>

#include "output/output_job.h"

namespace velmora {

// The thread that does every file step, so that the host's main thread never waits for a disk. The main thread
// starts it at a write (never under the loader lock); it keeps the module loaded while it runs and takes its jobs in
// the order they came. A replace job, or one for the clipboard alone, not yet started gives way to a newer one of
// its kind for the same target; log entries are never reordered, and those waiting for one file are appended in one
// write, except that past a backlog of a thousand new ones are dropped, with one line to the host, rather than let
// the main thread wait. The thread makes no host call: what must follow a job on the main thread (an error line, the
// clipboard) comes back through a message to a window of ours, in order.

// Main thread. bad_alloc passes, with nothing queued.
void submit_output(std::shared_ptr<output_job> job);

// Main thread: the error lines and clipboard texts that have come back, in order.
void deliver_output_outcomes();

// Main thread: waits until every job queued so far is carried out, answering sent messages meanwhile (a window of
// ours may own the clipboard), for limit_ms at most; then delivers what came back. False at the limit.
bool wait_for_output(DWORD limit_ms);

// Main thread, at host shut-down, once the exit text is queued: waits as wait_for_output, and at the limit gives up in
// one decision: the jobs still waiting are dropped, no further file call of the one in progress starts (its call in
// progress is cancelled where the system can), nothing it comes to is delivered, and each file with an unfinished job
// is reported as timed out, once, named as its newest job names it. The thread ends once it is free; when it was not
// given up on, the wait takes in its end, within the same limit. A later job starts a new one. What came back is
// delivered whatever a receiver throws; the first exception then passes. The window that brings outcomes back goes,
// with what was posted to it, so that the module may be unloaded at once; a later write makes another.
void finish_output_at_shutdown(DWORD limit_ms);

// Main thread, when the host clears the services-ready flag: the thread ends once its queue is empty, no thread is
// started and no error line is kept until restore_output; the window goes.
void withdraw_output() noexcept;
void restore_output() noexcept;

// Where the thread is made: CreateThread, or a test's stand-in that fails as the system can.
using output_thread_creator = HANDLE (*)(LPTHREAD_START_ROUTINE procedure, void* argument);
void set_output_thread_creator(output_thread_creator creator) noexcept;

} // namespace velmora
