// The worker's side of a group job. Every terminal of the job has a small
// state machine: the piece being sent, whether its bytes were written, the
// polls since then and the answer stream. The frames go to the sending
// threads (TerminalSender) all at once, without waiting for any answer; one
// loop then polls every reply buffer at the control interval and moves each
// terminal on by itself: its next piece once it answered the one before, its
// outcome once it answered, refused, failed or ran out of polls. A terminal
// whose socket is full holds up only its own send.
//
// Each terminal meets the rules of a single control job of the kind: the
// same answer reading (ControlJobs.h), the same poll limit per awaited
// answer, and for play content in pieces success only when every piece was
// acknowledged.
#pragma once

#include <memory>
#include <string>

namespace pelmora {

class CommandEngine;
class GroupJob;

// Runs the job to its end on the worker thread: one log line per terminal's
// outcome and one summary line. Returns early and unlogged when the engine
// stops.
void RunGroupJob(CommandEngine& engine, const std::shared_ptr<GroupJob>& job);

// The line logged when the job is queued.
std::string GroupQueuedLine(const GroupJob& job);

}  // namespace pelmora
