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

#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CommandEngine.h"
#include "Conversation.h"

namespace pelmora {

struct RunnerSends;

// The engine as the conversations see it.
class CommandEngine::Context final : public ConversationContext {
  public:
    explicit Context(CommandEngine& engine) : engine_(engine) {}
    void Log(std::string line) override { engine_.PostWorkerLog(std::move(line)); }
    IEngineEvents& Events() override { return engine_.events_; }
    const EngineTiming& Timing() const override { return engine_.timing_; }
    ISettingsGrid* Grid() override { return engine_.grid_; }
    IPrompt* Prompt() override { return engine_.prompt_; }
    IVersionView* VersionView() override { return engine_.versionView_; }
    IUpgradeForm* UpgradeForm() override { return engine_.upgradeForm_; }
    void WithSettings(const std::function<void(AlarmSettings&)>& change) override {
        std::lock_guard guard(engine_.settingsLock_);
        change(engine_.settings_);
    }
    void AdoptReport(AlarmSettings settings, std::uint32_t deviceId, bool complete) override {
        std::lock_guard guard(engine_.settingsLock_);
        engine_.settings_ = std::move(settings);
        std::lock_guard originGuard(engine_.originLock_);
        engine_.origin_ =
            SettingsOrigin{deviceId, static_cast<std::int64_t>(std::time(nullptr)), complete};
    }
    bool CheckPagesHold(std::uint32_t deviceId) override {
        return engine_.CheckPagesHold(deviceId);
    }

  private:
    CommandEngine& engine_;
};

class JobRunner {
  public:
    JobRunner(CommandEngine& engine, std::shared_ptr<GroupJob> job, bool group)
        : engine_(engine),
          context_(engine),
          holder_(std::move(job)),
          job_(*holder_),
          group_(group) {}

    void Run();
    // The job was dropped from the queue: every terminal ends "已取消".
    void EndUnrun();

  private:
    enum class Stage : std::uint8_t { ToPost, Posted, Written, Done };
    struct Member {
        std::uint32_t deviceId = 0;
        std::unique_ptr<Conversation> talk;
        Exchange exchange;
        Stage stage = Stage::ToPost;
        bool fresh = false;  // written since the last poll: that poll does not count
        bool wrote = false;  // some write of the conversation went out
        int polls = 0;
        std::optional<std::uint32_t> connection;
        Verdict ended = Verdict::Answered;  // the verdict that ended it
        bool quiet = false;                 // its lines were logged already
        // When its connection was seen gone or replaced.
        std::optional<std::chrono::steady_clock::time_point> goneAt;
        bool tookOwed = false;  // an answer in this exchange went to an owed one
        FrameStream stream;
        std::string text;  // text waits: what arrived, frames cut out
    };

    bool Begin();
    bool RunBody();
    void Start(std::uint32_t index);
    void PostWaiting();
    void TakeReports();
    void CheckConnections();
    void PollMembers();
    std::optional<ExchangeEnd> Judge(Member& m);
    void Advance(std::uint32_t index, ExchangeEnd end);
    void Finish(std::uint32_t index);
    void Interrupt(Verdict unwritten);
    void Publish();
    void Summary();
    void OweAnswer(const Member& m);
    std::string MemberLine(const Member& m) const;
    std::string Title() const;

    CommandEngine& engine_;
    CommandEngine::Context context_;
    std::shared_ptr<GroupJob> holder_;
    GroupJob& job_;
    const bool group_;
    const char* name_ = "";
    std::uint16_t pieces_ = 1;
    std::shared_ptr<RunnerSends> shared_;
    std::vector<Member> members_;
    std::vector<GroupJob::Change> changes_;  // not yet shown to the window
    std::deque<std::uint32_t> toSend_;       // members whose exchange is to be posted
    std::size_t inFlight_ = 0;               // posted, not yet reported
    std::size_t active_ = 0;                 // online members not final
    std::size_t written_ = 0;                // members whose write was reported
    ConnectionMap connections_;
    IJobRecorder* recorder_ = nullptr;
    std::int64_t recordId_ = 0;
    std::vector<RecordedOutcome> recorded_;  // not yet handed to the recorder
    bool unrun_ = false;  // dropped from the queue, on whichever thread cancelled
};

}  // namespace pelmora
