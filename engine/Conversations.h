// The conversations of every job kind: the settings read-back, the number
// lists, the control kinds (one frame, or play content in pieces) and the
// save sequence (SaveSequence.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CommandJob.h"
#include "Conversation.h"

namespace pelmora {

// What every terminal of a control job is sent: made once per job, shared by
// its conversations and by the frames waiting with the sending threads.
struct ControlPlan {
    CommandKind kind = CommandKind::PlayMp3;
    const ControlRequest* request = nullptr;
    std::string content;                // play content
    std::vector<std::uint8_t> payload;  // the other kinds
    FrameTimestamp stamp{};
    std::size_t pieces = 1;
    // A group member ends at its first refused or unanswered piece; a single
    // terminal is sent every piece.
    bool group = false;
};

// The plan of a control job, or null when nothing may be sent: the reason is
// logged (the single job's line, or the group job's).
std::shared_ptr<const ControlPlan> PlanControl(ConversationContext& context, CommandKind kind,
                                               const std::string& text, bool group);

// The conversation of one terminal; `plan` for the control kinds. Null for a
// kind that names no job.
std::unique_ptr<Conversation> MakeConversation(CommandKind kind, std::uint32_t deviceId,
                                               const std::string& text,
                                               std::shared_ptr<const ControlPlan> plan);

// An exchange of one text line awaiting "OK" or "ERROR".
Exchange TextExchange(const EngineTiming& timing, std::string line);

}  // namespace pelmora
