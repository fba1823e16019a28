// What the engine says to one terminal for one job: a conversation, a
// sequence of exchanges. An exchange is the bytes to write, the answer it
// awaits and how long it may take. The runner (JobRunner.h) writes each
// exchange through the sending threads, judges the terminal's answer and
// hands the end of the exchange back to the conversation, which chooses the
// next exchange or ends with its outcome. A single-terminal job is a list of
// one conversation; a group job is the same conversation for many terminals.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CmdDataObj.h"
#include "CommandJob.h"
#include "EngineUi.h"
#include "GroupJob.h"
#include "SettingsRecord.h"

namespace pelmora {

struct ControlRequest;
struct EngineTiming;

// The answer an exchange waits for.
enum class Awaits : std::uint8_t {
    Nothing,    // no answer: the exchange is a pause of `interval` (nothing is written)
    OkOrError,  // a text "OK" or "ERROR"
    Report,     // a settings report: its modem section, then "OK"
    Frame,      // the answer frame of `request`
};

struct Exchange {
    // Makes the bytes on the sending thread just before they are written, so
    // that thousands of queued exchanges do not each hold a frame.
    std::function<std::vector<std::uint8_t>()> make;
    Awaits awaits = Awaits::Nothing;
    const ControlRequest* request = nullptr;  // Awaits::Frame
    // The frame's own numbering: an answer in the long form must echo it.
    std::int32_t frameCount = 1;
    std::int32_t frameIndex = 0;
    FrameTimestamp stamp{};
    std::chrono::milliseconds interval{0};
    int polls = 0;  // the answer may take interval * polls from the write
};

// How an exchange ended. The first three are the terminal's; the rest say
// why no answer could count.
enum class Verdict : std::uint8_t {
    Answered,
    Refused,         // "ERROR", or a refusing result
    TimedOut,        // written, no answer within the limit
    SendFailed,      // the write failed
    ConnectionLost,  // the connection written to dropped or was replaced
    Unconfirmed,     // written, then the job was cancelled or the service stopped
    Cancelled,       // the job was cancelled before anything of it was written
    ServiceStopped,  // the service stopped before anything of it was written
};

struct ExchangeEnd {
    Verdict verdict = Verdict::TimedOut;
    std::string reply;   // Report: the text from the modem section on
    CCmdDataObj answer;  // Frame: the accepted answer
};

// What a conversation may use of the engine, and nothing more. Worker thread.
class ConversationContext {
  public:
    virtual ~ConversationContext() = default;
    virtual void Log(std::string line) = 0;
    virtual IEngineEvents& Events() = 0;
    virtual const EngineTiming& Timing() const = 0;
    virtual ISettingsGrid* Grid() = 0;
    virtual IPrompt* Prompt() = 0;
    virtual IVersionView* VersionView() = 0;
    virtual IUpgradeForm* UpgradeForm() = 0;
    // Runs `change` on the settings record under its lock, which is never
    // held across a wait.
    virtual void WithSettings(const std::function<void(AlarmSettings&)>& change) = 0;
    // Puts a parsed report in place as the read-back of `deviceId`.
    virtual void AdoptReport(AlarmSettings settings, std::uint32_t deviceId, bool complete) = 0;
    // True when the pages hold this terminal's read-back; otherwise logs why
    // nothing may be written to it from the pages.
    virtual bool CheckPagesHold(std::uint32_t deviceId) = 0;
};

class Conversation {
  public:
    virtual ~Conversation() = default;
    // The first exchange (`last` null) or the one after `last`; nothing when
    // the conversation is over, its outcome set and its lines logged. After
    // an interrupting verdict (SendFailed and those after it) the answer is
    // ignored and the conversation must end.
    virtual std::optional<Exchange> Next(ConversationContext& context, const ExchangeEnd* last) = 0;
    GroupOutcome Outcome() const { return outcome_; }
    // Added to a group job's member line (the versions of a version query).
    const std::string& Detail() const { return detail_; }
    // The software and boot versions a version query was answered with.
    const std::optional<std::pair<std::string, std::string>>& Versions() const { return versions_; }
    // How far a conversation in pieces got, for the member line.
    virtual std::uint16_t PiecesDone() const { return 0; }

  protected:
    GroupOutcome outcome_ = GroupOutcome::Waiting;
    std::string detail_;
    std::optional<std::pair<std::string, std::string>> versions_;
};

// The outcome an interrupting verdict gives.
GroupOutcome OutcomeOf(Verdict verdict);
bool Interrupts(Verdict verdict);

}  // namespace pelmora
