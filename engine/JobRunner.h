// The one runner of every job. Each terminal of the job has a conversation
// (Conversation.h) and a small state: the exchange being written or awaited,
// whether its write was reported, the polls since, and the bytes of its
// answer. The writes go to the sending threads (TerminalSender) all at once,
// none waiting for another terminal's answer; one loop then polls every
// reply buffer at the exchange's interval and moves each conversation on by
// itself. A terminal whose socket is full holds up only its own write.
//
// What counts as an answer:
// - The terminal's bytes are marked just before its write, on the thread
//   that writes it; what came before cannot answer that write.
// - Answers are judged only once the write was reported done; a write that
//   failed ends the terminal "发送失败", whatever bytes arrived.
// - Only bytes from the connection written to: when the terminal's
//   connection drops or is replaced (its login time changes), it ends
//   "连接中断".
// - Text waits read text only: binary frames are cut out first.
// - A long-form answer counts only when it echoes the frame's count, index
//   and timestamp.
// - An exchange abandoned unanswered (timed out, cancelled, stopped) leaves
//   its answer owed for its answer limit: the terminal's next answer of that
//   kind goes to the owed exchange first.
#pragma once

#include <string>

namespace pelmora {

class CommandEngine;
struct CommandJob;
class GroupJob;

// The line logged when a group job is queued.
std::string GroupQueuedLine(const GroupJob& job);

}  // namespace pelmora
