#include "GroupRunner.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "CmdDataObj.h"
#include "CommandEngine.h"
#include "CommandTexts.h"
#include "ControlJobs.h"
#include "GroupJob.h"

namespace pelmora {

namespace {

// Frames handed to the sending threads and not yet reported. A message there
// holds no frame (it is made when its turn comes), but the sender's queue is
// bounded and shared with the window's sends.
constexpr std::size_t kSendWindow = 8192;

struct SendReport {
    std::uint32_t index;
    std::uint16_t piece;
    bool sent;
};

// What the queued messages need. They may outlive the runner (the engine
// stops, or the job is cancelled while they wait), so it is shared with them.
struct SendShared {
    std::shared_ptr<GroupJob> job;  // its kind and text are constant
    const ControlRequest* request = nullptr;
    std::vector<std::uint8_t> payload;  // kinds other than play content
    FrameTimestamp stamp{};
    std::atomic<bool> over{false};  // the runner ended: what is still queued is skipped

    std::mutex lock;
    std::vector<SendReport> reports;  // guarded by lock
};

}  // namespace

class GroupRunner {
  public:
    GroupRunner(CommandEngine& engine, std::shared_ptr<GroupJob> job)
        : engine_(engine), job_(*job), shared_(std::make_shared<SendShared>()) {
        shared_->job = std::move(job);
    }
    void Run();

  private:
    // One online terminal; touched by the worker only.
    struct Member {
        std::uint32_t deviceId = 0;
        GroupOutcome outcome = GroupOutcome::Waiting;
        bool posted = false;         // the current piece is with the sending threads, or out
        bool written = false;        // ... and was reported written: its polls count
        bool pieceRefused = false;   // some piece was refused
        bool pieceTimedOut = false;  // some piece went unanswered
        std::uint16_t piece = 0;     // the piece being sent or awaited, from 0
        std::uint16_t piecesDone = 0;
        int polls = 0;
        FrameStream stream;
    };

    bool Prepare();
    void PostWaiting();
    void TakeReports();
    void PollMembers();
    void PieceEnded(std::uint32_t index, AnswerVerdict verdict);
    void End(std::uint32_t index, GroupOutcome outcome, const CCmdDataObj* version = nullptr);
    void CancelAll();
    void Publish();
    void Finish();
    void Stop();
    std::string MemberLine(std::uint32_t deviceId, GroupOutcome outcome,
                           std::uint16_t piecesDone) const;

    CommandEngine& engine_;
    GroupJob& job_;
    std::shared_ptr<SendShared> shared_;
    const char* name_ = "";
    std::uint16_t pieces_ = 1;
    std::vector<Member> members_;
    std::vector<GroupJob::Change> changes_;  // not yet shown to the window
    std::deque<std::uint32_t> toSend_;       // members whose current piece is to be posted
    std::size_t inFlight_ = 0;               // posted, not yet reported
    std::size_t active_ = 0;                 // online members not final
};

void GroupRunner::Run() {
    const std::vector<GroupMember> all = job_.Members();
    const std::size_t online = job_.OnlineCount();
    name_ = GroupKindName(job_.Kind());
    for (std::size_t i = online; i < all.size(); ++i)
        engine_.PostWorkerLog(MemberLine(all[i].deviceId, GroupOutcome::Offline, 0));
    members_.resize(online);
    for (std::size_t i = 0; i < online; ++i) members_[i].deviceId = all[i].deviceId;
    active_ = online;
    if (!Prepare() || job_.CancelRequested()) {
        CancelAll();
        Finish();
        return;
    }
    // Every terminal's first frame goes out now; none waits for another's answer.
    for (std::uint32_t i = 0; i < online; ++i) toSend_.push_back(i);
    PostWaiting();
    Publish();
    const auto interval = engine_.Timing().framePollInterval;
    while (active_ > 0) {
        if (!engine_.Pause(interval)) {
            Stop();
            return;
        }
        if (job_.CancelRequested()) {
            CancelAll();
            break;
        }
        TakeReports();
        PollMembers();
        PostWaiting();
        Publish();
    }
    Finish();
}

// Checks what the single job checks before it sends; false (logged) when
// nothing may go out.
bool GroupRunner::Prepare() {
    const CommandKind kind = job_.Kind();
    shared_->request = RequestFor(kind);
    if (shared_->request == nullptr) {
        engine_.PostWorkerLog(text::kGroupNotAGroupKind);
        return false;
    }
    shared_->stamp = engine_.Timing().localTime();
    if (kind == CommandKind::SendPlayContent) {
        const std::size_t pieces = PlayContentPieces(job_.Text().size());
        if (pieces > kMaxPlayContentPieces) {
            engine_.PostWorkerLog(
                FillLine(text::kGroupContentRefused,
                         {name_, std::to_string(kMaxPlayContentPieces * kPlayContentPiece)}));
            return false;
        }
        pieces_ = static_cast<std::uint16_t>(pieces);
        return true;
    }
    // The upgrade form is read once, for every terminal alike.
    auto payload = ControlPayload(kind, job_.Text(), engine_.UpgradeFormSource());
    if (!payload) {
        engine_.PostWorkerLog(FillLine(text::kGroupUpgradeRefused, {name_}));
        return false;
    }
    shared_->payload = std::move(*payload);
    return true;
}

void GroupRunner::PostWaiting() {
    while (!toSend_.empty() && inFlight_ < kSendWindow) {
        const std::uint32_t index = toSend_.front();
        toSend_.pop_front();
        Member& m = members_[index];
        if (IsFinal(m.outcome)) continue;
        // Cleared before the frame goes out, so a quick answer is not wiped.
        engine_.Replies().Await(m.deviceId);
        m.stream.Clear();
        m.posted = true;
        m.written = false;
        m.polls = 0;
        auto make = [shared = shared_, id = m.deviceId, piece = m.piece] {
            if (shared->over || shared->job->CancelRequested()) return std::vector<std::uint8_t>();
            if (shared->job->Kind() == CommandKind::SendPlayContent)
                return PlayContentFrame(id, shared->job->Text(), piece, shared->stamp);
            return ControlFrame(id, *shared->request, shared->payload, shared->stamp);
        };
        auto done = [shared = shared_, index, piece = m.piece](bool sent) {
            std::lock_guard guard(shared->lock);
            shared->reports.push_back({index, piece, sent});
        };
        if (!engine_.SendDeferred(m.deviceId, std::move(make), std::move(done))) {
            End(index, GroupOutcome::SendFailed);
            continue;
        }
        ++inFlight_;
    }
}

void GroupRunner::TakeReports() {
    std::vector<SendReport> reports;
    {
        std::lock_guard guard(shared_->lock);
        reports.swap(shared_->reports);
    }
    for (const SendReport& report : reports) {
        --inFlight_;
        Member& m = members_[report.index];
        // A report for a piece already answered says nothing new.
        if (IsFinal(m.outcome) || !m.posted || report.piece != m.piece) continue;
        if (!report.sent) {
            End(report.index, GroupOutcome::SendFailed);
            continue;
        }
        m.written = true;
        if (m.outcome == GroupOutcome::Waiting) {
            m.outcome = GroupOutcome::Sent;
            changes_.push_back({report.index, GroupOutcome::Sent, m.piecesDone});
        }
    }
}

void GroupRunner::PollMembers() {
    const ControlRequest& request = *shared_->request;
    const bool wantsVersion = job_.Kind() == CommandKind::ReadVersion;
    const int limit = engine_.Timing().framePolls;
    CCmdDataObj answer;
    for (std::uint32_t index = 0; index < members_.size(); ++index) {
        Member& m = members_[index];
        if (IsFinal(m.outcome) || !m.posted) continue;
        const std::vector<std::uint8_t> bytes = engine_.Replies().Take(m.deviceId);
        m.stream.Append(bytes.data(), bytes.size());
        const AnswerVerdict verdict =
            m.stream.Pending() == 0
                ? AnswerVerdict::None
                : ReadAnswer(m.stream, m.deviceId, request, wantsVersion ? &answer : nullptr);
        if (verdict == AnswerVerdict::Answered && wantsVersion) {
            ++m.piecesDone;
            End(index, GroupOutcome::Succeeded, &answer);
            continue;
        }
        if (verdict != AnswerVerdict::None) {
            PieceEnded(index, verdict);
            continue;
        }
        // The poll that learns of the write does not count: the limit runs
        // at least its full length from the write, as for a single job.
        if (m.written && ++m.polls > limit) PieceEnded(index, AnswerVerdict::None);
    }
}

// The current piece was answered, refused, or not answered within the polls.
// A failed piece does not stop the following ones, as for a single job, but
// only a terminal that took every piece succeeds.
void GroupRunner::PieceEnded(std::uint32_t index, AnswerVerdict verdict) {
    Member& m = members_[index];
    if (verdict == AnswerVerdict::Answered) {
        ++m.piecesDone;
    } else if (verdict == AnswerVerdict::Refused) {
        m.pieceRefused = true;
    } else {
        m.pieceTimedOut = true;
    }
    if (m.piece + 1 < pieces_) {
        ++m.piece;
        m.posted = false;
        m.outcome = GroupOutcome::Sent;
        changes_.push_back({index, GroupOutcome::Sent, m.piecesDone});
        toSend_.push_back(index);
        return;
    }
    if (m.piecesDone == pieces_) {
        End(index, GroupOutcome::Succeeded);
    } else {
        End(index, m.pieceRefused ? GroupOutcome::Refused : GroupOutcome::TimedOut);
    }
}

void GroupRunner::End(std::uint32_t index, GroupOutcome outcome, const CCmdDataObj* version) {
    Member& m = members_[index];
    m.outcome = outcome;
    m.stream = FrameStream();  // its memory goes with it
    --active_;
    engine_.Replies().EndAwait(m.deviceId);
    std::string line = MemberLine(m.deviceId, outcome, m.piecesDone);
    if (version != nullptr) {
        auto [software, boot] = VersionTexts(*version);
        line += FillLine(text::kGroupVersions, {software, boot});
        job_.SetVersions(m.deviceId, std::move(software), std::move(boot));
    }
    changes_.push_back({index, outcome, m.piecesDone});
    engine_.PostWorkerLog(std::move(line));
}

void GroupRunner::CancelAll() {
    shared_->over = true;
    for (std::uint32_t index = 0; index < members_.size(); ++index) {
        if (!IsFinal(members_[index].outcome)) End(index, GroupOutcome::Cancelled);
    }
}

void GroupRunner::Publish() {
    job_.Apply(changes_);
    changes_.clear();
}

void GroupRunner::Finish() {
    shared_->over = true;
    Publish();
    const GroupCounts counts = job_.Counts();
    std::string line =
        FillLine(text::kGroupSummary,
                 {name_, std::to_string(counts.succeeded), std::to_string(counts.refused),
                  std::to_string(counts.timedOut), std::to_string(counts.offline)});
    if (counts.sendFailed > 0)
        line += FillLine(text::kGroupSummarySendFailed, {std::to_string(counts.sendFailed)});
    if (counts.cancelled > 0)
        line += FillLine(text::kGroupSummaryCancelled, {std::to_string(counts.cancelled)});
    engine_.PostWorkerLog(std::move(line));
    job_.MarkFinished();
}

// The engine is stopping: the job ends where it stands, unlogged.
void GroupRunner::Stop() {
    shared_->over = true;
    for (const Member& m : members_) {
        if (!IsFinal(m.outcome)) engine_.Replies().EndAwait(m.deviceId);
    }
    Publish();
}

std::string GroupRunner::MemberLine(std::uint32_t deviceId, GroupOutcome outcome,
                                    std::uint16_t piecesDone) const {
    std::string line =
        FillLine(text::kGroupMember, {name_, DeviceIdText(deviceId), GroupOutcomeName(outcome)});
    // Where content in pieces did not all arrive, how far it got.
    if (pieces_ > 1 && outcome != GroupOutcome::Succeeded && outcome != GroupOutcome::Offline)
        line += FillLine(text::kGroupPieces, {std::to_string(piecesDone), std::to_string(pieces_)});
    return line;
}

void RunGroupJob(CommandEngine& engine, const std::shared_ptr<GroupJob>& job) {
    if (!job) return;
    GroupRunner(engine, job).Run();
}

std::string GroupQueuedLine(const GroupJob& job) {
    const GroupCounts counts = job.Counts();
    const char* name = GroupKindName(job.Kind());
    if (counts.offline == 0)
        return FillLine(text::kGroupQueued, {name, std::to_string(counts.total)});
    return FillLine(text::kGroupQueuedOffline,
                    {name, std::to_string(counts.total), std::to_string(counts.offline)});
}

}  // namespace pelmora
