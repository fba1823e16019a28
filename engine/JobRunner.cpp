#include "JobRunner.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "ControlJobs.h"
#include "Conversations.h"

namespace pelmora {

namespace {

using Clock = std::chrono::steady_clock;

// Writes handed to the sending threads and not yet reported. A message there
// holds no frame (it is made when its turn comes), but the sender's queue is
// bounded and shared with the window's sends.
constexpr std::size_t kSendWindow = 8192;

// A text reply is searched whole; past this the oldest half goes.
constexpr std::size_t kTextCapacity = ReplyBuffers::kCapacity;

// Who writes a member's current exchange: the sending thread claims it just
// before the write, a cancel withdraws it while it waits.
enum Claim : std::uint8_t { kQueued, kWriting, kWithdrawn };

struct SendReport {
    std::uint32_t index;
    bool sent;
};

}  // namespace

// What the queued writes share with the runner. They may outlive it (the
// engine stops, or the job ends while they wait), so it is shared with them.
struct RunnerSends {
    explicit RunnerSends(std::size_t members) : claims(new std::atomic<std::uint8_t>[members]) {}
    std::unique_ptr<std::atomic<std::uint8_t>[]> claims;
    ReplyBuffers* replies = nullptr;
    CommandEngine* engine = nullptr;

    std::mutex lock;
    std::vector<SendReport> reports;  // guarded by lock
};

namespace {

bool HasToken(const std::string& text, const char* token) {
    return text.find(token) != std::string::npos;
}

}  // namespace

bool JobRunner::Begin() {
    const std::vector<GroupMember> all = job_.Members();
    const std::size_t online = job_.OnlineCount();
    name_ = GroupKindName(job_.Kind());
    if (job_.Kind() == CommandKind::SendPlayContent)
        pieces_ = static_cast<std::uint16_t>(
            std::min<std::size_t>(PlayContentPieces(job_.Text().size()), 0xFFFF));
    recorder_ = engine_.recorder_;
    if (recorder_ != nullptr)
        recordId_ = recorder_->Started({job_.Kind(), group_, job_.Text(), all.size(), job_.Note()});
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    for (std::size_t i = online; i < all.size(); ++i) {
        if (group_)
            engine_.PostWorkerLog(FillLine(
                text::kGroupMember,
                {name_, DeviceIdText(all[i].deviceId), GroupOutcomeName(GroupOutcome::Offline)}));
        if (recorder_ != nullptr)
            recorded_.push_back({all[i].deviceId, GroupOutcome::Offline, now, {}});
    }
    members_.resize(online);
    for (std::size_t i = 0; i < online; ++i) members_[i].deviceId = all[i].deviceId;
    active_ = online;
    shared_ = std::make_shared<RunnerSends>(online);
    shared_->replies = &engine_.replies_;
    shared_->engine = &engine_;
    return online > 0;
}

void JobRunner::EndUnrun() {
    unrun_ = true;
    Begin();
    for (std::uint32_t i = 0; i < members_.size(); ++i) {
        members_[i].ended = Verdict::Cancelled;
        Finish(i);
    }
    Summary();
    if (recorder_ != nullptr) recorder_->Ended(recordId_, true);
}

void JobRunner::Run() {
    const bool online = Begin();
    const bool finished = !online || RunBody();
    Publish();
    if (group_ && finished) Summary();
    if (recorder_ != nullptr) recorder_->Ended(recordId_, finished);
}

// False when the engine stopped before every terminal had its outcome.
bool JobRunner::RunBody() {
    const CommandKind kind = job_.Kind();
    std::shared_ptr<const ControlPlan> plan;
    if (RequestFor(kind) != nullptr) {
        plan = PlanControl(context_, kind, job_.Text(), group_);
        if (!plan) {
            // Nothing may go out: every terminal ends with nothing written.
            for (std::uint32_t i = 0; i < members_.size(); ++i) {
                members_[i].ended = Verdict::Cancelled;
                members_[i].quiet = true;
                Finish(i);
            }
            return true;
        }
    }
    for (std::uint32_t i = 0; i < members_.size(); ++i) {
        members_[i].talk = MakeConversation(kind, members_[i].deviceId, job_.Text(), plan);
        if (!members_[i].talk) return true;  // a kind that names no job
    }
    for (std::uint32_t i = 0; i < members_.size(); ++i) Start(i);
    if (engine_.CancelRequested() || job_.CancelRequested()) {
        Interrupt(Verdict::Cancelled);  // cancelled before it ran: nothing goes out
        return true;
    }
    PostWaiting();
    Publish();
    while (active_ > 0) {
        // Until the first write is reported there is nothing to poll: the
        // limit runs from the write, whenever the sending thread made it.
        const bool anyWritten = std::any_of(members_.begin(), members_.end(), [](const Member& m) {
            return m.stage == Stage::Written;
        });
        std::chrono::milliseconds interval{0};
        for (const Member& m : members_) {
            if ((m.stage == Stage::Written || m.stage == Stage::Posted) &&
                (interval.count() == 0 || m.exchange.interval < interval))
                interval = m.exchange.interval;
        }
        const bool going =
            anyWritten || inFlight_ == 0 ? engine_.WaitInterval(interval) : engine_.WaitForReport();
        if (!going) return false;  // the engine is going away: unlogged
        const bool stopped = engine_.ServiceStopRequested();
        if (stopped || engine_.CancelRequested() || job_.CancelRequested()) {
            // Answers already in still count.
            TakeReports();
            PollMembers();
            Interrupt(stopped ? Verdict::ServiceStopped : Verdict::Cancelled);
            break;
        }
        TakeReports();
        PollMembers();
        CheckConnections();
        PostWaiting();
        Publish();
    }
    return true;
}

// The conversation's first exchange, or its end when it has none.
void JobRunner::Start(std::uint32_t index) {
    Member& m = members_[index];
    std::optional<Exchange> first = m.talk->Next(context_, nullptr);
    if (!first) {
        m.ended = Verdict::Answered;
        Finish(index);
        return;
    }
    m.exchange = std::move(*first);
    m.stage = Stage::ToPost;
    toSend_.push_back(index);
}

void JobRunner::PostWaiting() {
    while (!toSend_.empty() && inFlight_ < kSendWindow) {
        const std::uint32_t index = toSend_.front();
        toSend_.pop_front();
        Member& m = members_[index];
        if (m.stage != Stage::ToPost) continue;
        m.stream.Clear();
        m.text.clear();
        m.polls = 0;
        m.fresh = false;
        if (!m.exchange.make) {  // a pause: nothing to write, nothing to await
            m.stage = Stage::Written;
            continue;
        }
        engine_.replies_.Watch(m.deviceId);
        shared_->claims[index] = kQueued;
        auto make = [shared = shared_, index, id = m.deviceId,
                     bytes = std::move(m.exchange.make)]() {
            std::uint8_t expected = kQueued;
            if (!shared->claims[index].compare_exchange_strong(expected, kWriting))
                return std::vector<std::uint8_t>();  // withdrawn: never written
            std::vector<std::uint8_t> frame = bytes();
            // Whatever came before this write cannot answer it.
            shared->replies->MarkWrite(id);
            return frame;
        };
        m.exchange.make = nullptr;
        auto done = [shared = shared_, index](bool sent) {
            {
                std::lock_guard guard(shared->lock);
                shared->reports.push_back({index, sent});
            }
            shared->engine->ReportReady();
        };
        m.stage = Stage::Posted;
        ++inFlight_;
        // A job of one terminal waits for this write anyway: the sender makes
        // it on this thread when nothing else is queued for the terminal.
        const bool queued =
            members_.size() == 1
                ? engine_.sender_.WriteNow(m.deviceId, std::move(make), std::move(done))
                : engine_.sender_.PostDeferred(m.deviceId, std::move(make), std::move(done));
        if (!queued) {
            --inFlight_;
            Advance(index, ExchangeEnd{Verdict::SendFailed, {}, {}});
            continue;
        }
    }
}

void JobRunner::TakeReports() {
    std::vector<SendReport> reports;
    {
        std::lock_guard guard(shared_->lock);
        reports.swap(shared_->reports);
    }
    for (const SendReport& report : reports) {
        --inFlight_;
        Member& m = members_[report.index];
        if (m.stage != Stage::Posted) continue;
        if (!report.sent) {
            Advance(report.index, ExchangeEnd{Verdict::SendFailed, {}, {}});
            continue;
        }
        m.stage = Stage::Written;
        m.fresh = true;
        if (!m.wrote && group_) changes_.push_back({report.index, GroupOutcome::Sent, 0});
        m.wrote = true;
    }
}

// A conversation hears only the connection it wrote to: its terminal's login
// time is read once its first write went out, and a change, or the terminal
// leaving the table, ends it "连接中断".
void JobRunner::CheckConnections() {
    if (!engine_.link_.connections) return;
    const bool needed = std::any_of(members_.begin(), members_.end(), [](const Member& m) {
        return m.wrote && m.stage != Stage::Done;
    });
    if (!needed) return;
    engine_.link_.connections(connections_);
    for (std::uint32_t index = 0; index < members_.size(); ++index) {
        Member& m = members_[index];
        if (!m.wrote || m.stage == Stage::Done) continue;
        const auto it = connections_.find(m.deviceId);
        if (it != connections_.end() && !m.connection) {
            m.connection = it->second;
            continue;
        }
        if (it != connections_.end() && it->second == *m.connection) continue;
        // What it sent on the old connection may still be on its way in
        // (the window drains the link's queue now and then): the awaited
        // answer gets a moment more, and nothing more is written.
        if (m.stage == Stage::Written) {
            const auto now = Clock::now();
            if (!m.goneAt) m.goneAt = now;
            if (now - *m.goneAt < engine_.timing_.connectionGrace) continue;
        }
        {
            // A write still with the sending thread goes to whatever is
            // connected now: withdraw it if it has not started.
            if (m.stage == Stage::Posted) {
                std::uint8_t expected = kQueued;
                shared_->claims[index].compare_exchange_strong(expected, kWithdrawn);
            }
            Advance(index, ExchangeEnd{Verdict::ConnectionLost, {}, {}});
        }
    }
}

void JobRunner::PollMembers() {
    for (std::uint32_t index = 0; index < members_.size(); ++index) {
        Member& m = members_[index];
        if (m.stage != Stage::Written) continue;
        if (m.exchange.awaits == Awaits::Nothing) {
            Advance(index, ExchangeEnd{Verdict::Answered, {}, {}});
            continue;
        }
        if (std::optional<ExchangeEnd> end = Judge(m)) {
            Advance(index, std::move(*end));
            continue;
        }
        // The poll that learns of the write does not count: the limit runs
        // at least its full length from the write.
        if (m.fresh) {
            m.fresh = false;
        } else if (++m.polls >= m.exchange.polls) {
            Advance(index, ExchangeEnd{Verdict::TimedOut, {}, {}});
        }
    }
}

std::optional<ExchangeEnd> JobRunner::Judge(Member& m) {
    ReplyBuffers::Bytes bytes = engine_.replies_.Take(m.deviceId);
    OwedAnswers& owed = engine_.owed_;
    if (!bytes.stale.empty() && owed.Owes(m.deviceId)) {
        // An owed answer may have come before this write.
        FrameStream earlier;
        earlier.Append(bytes.stale.data(), bytes.stale.size());
        std::string text;
        while (auto frame = earlier.Next(&text)) owed.PayFrame(m.deviceId, *frame);
        text += earlier.TakeText();
        owed.PayText(m.deviceId, text);
    }
    m.stream.Append(bytes.fresh.data(), bytes.fresh.size());
    const Exchange& ex = m.exchange;
    if (ex.awaits == Awaits::Frame) {
        CCmdDataObj answer;
        while (auto frame = m.stream.Next()) {
            const AnswerVerdict verdict = JudgeFrame(*frame, m.deviceId, *ex.request, answer);
            if (verdict == AnswerVerdict::None) continue;
            if (owed.PayFrame(m.deviceId, *frame)) {
                m.tookOwed = true;
                continue;
            }
            // A long-form answer names the frame it answers.
            const std::optional<FrameEcho> echo = EchoOf(*frame);
            if (echo && ex.frameCount != 1 &&
                !(*echo == FrameEcho{ex.frameCount, ex.frameIndex, ex.stamp}))
                continue;
            ExchangeEnd end;
            end.verdict = verdict == AnswerVerdict::Refused ? Verdict::Refused : Verdict::Answered;
            end.answer = answer;
            return end;
        }
        return std::nullopt;
    }
    m.text += m.stream.TakeText();
    if (m.text.size() > kTextCapacity) m.text.erase(0, m.text.size() - kTextCapacity / 2);
    if (ex.awaits == Awaits::OkOrError) {
        if (owed.PayText(m.deviceId, m.text)) m.tookOwed = true;
        // "ERROR" before "OK": a reply holding both is an error.
        if (HasToken(m.text, text::kError)) return ExchangeEnd{Verdict::Refused, {}, {}};
        if (HasToken(m.text, text::kOk)) return ExchangeEnd{Verdict::Answered, {}, {}};
        return std::nullopt;
    }
    // A settings report: its modem section, then an "OK" at or after it.
    const std::size_t at = m.text.find(text::kAccessPointLabel);
    if (at == std::string::npos || m.text.find(text::kOk, at) == std::string::npos)
        return std::nullopt;
    ExchangeEnd end;
    end.verdict = Verdict::Answered;
    end.reply = m.text.substr(at);
    return end;
}

void JobRunner::Advance(std::uint32_t index, ExchangeEnd end) {
    Member& m = members_[index];
    if (m.stage == Stage::Done) return;
    const bool wasWritten = m.stage == Stage::Written && m.exchange.awaits != Awaits::Nothing;
    if (end.verdict == Verdict::TimedOut || (wasWritten && end.verdict == Verdict::Unconfirmed))
        OweAnswer(m);
    // The answer that came may have been this write's: the outcome says so.
    if (end.verdict == Verdict::TimedOut && m.tookOwed)
        engine_.PostWorkerLog(WithText(text::kOwedAnswerTaken, DeviceIdText(m.deviceId)));
    m.tookOwed = false;
    std::optional<Exchange> next = m.talk->Next(context_, &end);
    if (next && !Interrupts(end.verdict)) {
        m.exchange = std::move(*next);
        m.stage = Stage::ToPost;
        toSend_.push_back(index);
        if (group_) changes_.push_back({index, GroupOutcome::Sent, m.talk->PiecesDone()});
        return;
    }
    m.ended = end.verdict;
    Finish(index);
}

void JobRunner::Finish(std::uint32_t index) {
    Member& m = members_[index];
    if (m.stage == Stage::Done) return;
    m.stage = Stage::Done;
    --active_;
    GroupOutcome outcome = m.talk ? m.talk->Outcome() : OutcomeOf(m.ended);
    if (outcome == GroupOutcome::Waiting || outcome == GroupOutcome::Sent)
        outcome = OutcomeOf(m.ended);  // a conversation that said nothing of its own
    const std::uint16_t done = m.talk ? m.talk->PiecesDone() : 0;
    if (group_) {
        std::string line = FillLine(text::kGroupMember,
                                    {name_, DeviceIdText(m.deviceId), GroupOutcomeName(outcome)});
        // Where content in pieces did not all arrive, how far it got.
        if (pieces_ > 1 && outcome != GroupOutcome::Succeeded)
            line += FillLine(text::kGroupPieces, {std::to_string(done), std::to_string(pieces_)});
        if (m.talk) {
            line += m.talk->Detail();
            if (const auto& versions = m.talk->Versions())
                job_.SetVersions(m.deviceId, versions->first, versions->second);
        }
        engine_.PostWorkerLog(std::move(line));
    } else if (Interrupts(m.ended) && !m.quiet) {
        engine_.PostWorkerLog(
            m.ended == Verdict::Cancelled
                ? WithText(text::kJobCancelled, Title())
                : FillLine(text::kJobOutcome, {Title(), GroupOutcomeName(outcome)}));
    }
    changes_.push_back({index, outcome, done});
    if (recorder_ != nullptr) {
        std::string detail = m.talk ? m.talk->Detail() : std::string();
        if (pieces_ > 1 && outcome != GroupOutcome::Succeeded)
            detail += FillLine(text::kGroupPieces, {std::to_string(done), std::to_string(pieces_)});
        recorded_.push_back({m.deviceId, outcome, static_cast<std::int64_t>(std::time(nullptr)),
                             std::move(detail)});
    }
    m.talk.reset();
    m.stream = FrameStream();
    std::string().swap(m.text);
    // A terminal that still owes an answer keeps its bytes until it is due.
    if (!unrun_ && !engine_.owed_.Owes(m.deviceId)) engine_.replies_.Unwatch(m.deviceId);
}

// The job ends now: what was not written ends `unwritten` (or, when earlier
// exchanges of the conversation went out, "已发送未确认"); a write being made
// is waited for, and what was written ends "已发送未确认".
void JobRunner::Interrupt(Verdict unwritten) {
    std::vector<std::uint32_t> writing;
    for (std::uint32_t index = 0; index < members_.size(); ++index) {
        Member& m = members_[index];
        if (m.stage == Stage::Done) continue;
        if (m.stage == Stage::Posted) {
            std::uint8_t expected = kQueued;
            if (!shared_->claims[index].compare_exchange_strong(expected, kWithdrawn)) {
                writing.push_back(index);
                continue;
            }
        }
        const bool out = m.wrote || m.stage == Stage::Written;
        Advance(index, ExchangeEnd{out ? Verdict::Unconfirmed : unwritten, {}, {}});
    }
    // A write already started ends within the link's send limit; whether it
    // went out decides the word.
    while (!writing.empty()) {
        TakeReports();  // a failed write ends its member "发送失败"
        for (auto it = writing.begin(); it != writing.end();) {
            Member& m = members_[*it];
            if (m.stage == Stage::Written) {
                Advance(*it, ExchangeEnd{Verdict::Unconfirmed, {}, {}});
            } else if (m.stage != Stage::Done) {
                ++it;
                continue;
            }
            it = writing.erase(it);
        }
        if (!writing.empty() && !engine_.WaitForReport()) break;
    }
    Publish();
}

void JobRunner::Publish() {
    job_.Apply(changes_);
    changes_.clear();
    if (recorder_ != nullptr && !recorded_.empty()) {
        recorder_->Outcomes(recordId_, std::move(recorded_));
        recorded_.clear();
    }
}

void JobRunner::Summary() {
    Publish();
    const GroupCounts counts = job_.Counts();
    std::string line =
        FillLine(text::kGroupSummary,
                 {name_, std::to_string(counts.succeeded), std::to_string(counts.refused),
                  std::to_string(counts.timedOut), std::to_string(counts.offline)});
    const std::pair<int, const char*> extra[] = {
        {counts.sendFailed, text::kGroupSummarySendFailed},
        {counts.cancelled, text::kGroupSummaryCancelled},
        {counts.connectionLost, text::kGroupSummaryConnectionLost},
        {counts.unconfirmed, text::kGroupSummaryUnconfirmed},
        {counts.serviceStopped, text::kGroupSummaryServiceStopped},
    };
    for (const auto& [count, format] : extra) {
        if (count > 0) line += FillLine(format, {std::to_string(count)});
    }
    engine_.PostWorkerLog(std::move(line));
    job_.MarkFinished();
}

void JobRunner::OweAnswer(const Member& m) {
    // Its bytes are kept until the answer is paid or falls due.
    if (engine_.owed_.Owe(m.deviceId, m.exchange)) engine_.replies_.Watch(m.deviceId);
}

std::string JobRunner::Title() const {
    return JobTitle(job_.Kind(), members_.empty() ? 0 : members_.front().deviceId, 0);
}

}  // namespace pelmora
