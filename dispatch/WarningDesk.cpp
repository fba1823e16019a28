#include "WarningDesk.h"

#include <ctime>
#include <memory>

#include "CommandEngine.h"
#include "FollowUps.h"
#include "GbkCodec.h"
#include "GroupJob.h"
#include "WarningRecorder.h"

namespace pelmora::dispatch {

namespace {

// Reviews still waiting after a restart: this many of the latest records.
constexpr std::size_t kReviewsLoaded = 1000;

store::Warning NewRecord(const std::string& content, const std::string& operatorName,
                         std::int64_t now) {
    store::Warning record;
    record.group = true;
    record.kind = static_cast<int>(CommandKind::SendPlayContent);
    record.content = content;
    // The bytes the terminals would get; text GBK cannot carry is counted
    // and hashed as the bytes it has so far, and fixed in review.
    const std::string gbk = Utf8ToGbk(content).value_or(std::string());
    record.gbkBytes = static_cast<std::int64_t>(gbk.size());
    record.gbkHash = Sha256Hex(gbk);
    record.operatorName = operatorName;
    record.queued = now;
    return record;
}

}  // namespace

WarningDesk::WarningDesk(store::Store& store, FollowUps* followUps, std::string operatorName,
                         Clock clock)
    : store_(store), followUps_(followUps), operator_(std::move(operatorName)), clock_(clock) {
    if (!clock_) clock_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
}

void WarningDesk::Load() {
    std::vector<store::AlertRecord> keys = store_.AlertKeys();
    store::WarningQuery query;
    query.state = "review";
    query.count = kReviewsLoaded;
    std::vector<store::Warning> waiting = store_.FindWarnings(query);
    std::map<std::int64_t, Review> reviews;
    for (const store::Warning& w : waiting) {
        Review review{w.id,    w.content, store_.TargetsOf(w.id), w.expires,
                      w.drill, w.queued,  store_.AlertOf(w.id)};
        reviews.emplace(w.id, std::move(review));
    }
    std::lock_guard guard(lock_);
    for (store::AlertRecord& a : keys)
        alerts_.emplace(Key{a.sender, a.identifier, a.sent}, a.warningId);
    reviews_.merge(reviews);
}

void WarningDesk::SetListener(std::function<void()> listener) {
    std::lock_guard guard(lock_);
    listener_ = std::move(listener);
}

void WarningDesk::SetDrillPrefix(std::string prefix) {
    std::lock_guard guard(lock_);
    drillPrefix_ = std::move(prefix);
}

std::int64_t WarningDesk::FindAlert(const std::string& sender, const std::string& identifier,
                                    const std::string& sent) const {
    std::lock_guard guard(lock_);
    const auto it = alerts_.find(Key{sender, identifier, sent});
    return it == alerts_.end() ? 0 : it->second;
}

std::string WarningDesk::StateOf(const store::Warning& warning) const {
    const std::string& state = warning.state;
    if (state == "running" || state == "finished" || state == "unfinished") return "dispatched";
    return state;
}

DeskAnswer WarningDesk::Take(OutsideWarning warning) {
    const std::int64_t now = clock_();
    DeskAnswer answer;
    answer.terminals = warning.targets.size();
    {
        std::unique_lock guard(lock_);
        std::optional<Key> key;
        if (warning.alert) {
            key = Key{warning.alert->sender, warning.alert->identifier, warning.alert->sent};
            if (const auto it = alerts_.find(*key); it != alerts_.end()) {
                const std::int64_t id = it->second;
                guard.unlock();
                answer.warning = id;
                answer.repeated = true;
                answer.terminals = store_.TargetsOf(id).size();
                const auto record = store_.FindWarning(id);
                answer.state = record ? StateOf(*record) : "review";
                return answer;
            }
        }
        store::Warning record = NewRecord(warning.content, operator_, now);
        record.drill = warning.drill;
        record.expires = warning.expires;
        if (warning.targets.empty() && warning.route != Route::Record) {
            record.state = "no_terminals";
        } else if (warning.route == Route::Record) {
            record.state = "recorded";
        } else {
            record.state = "review";
        }
        if (record.state != "review") record.ended = now;
        const std::int64_t id = store_.AddWarning(record);
        record.id = id;
        answer.warning = id;
        store_.SetTargets(id, warning.targets);
        if (warning.alert) {
            warning.alert->warningId = id;
            store_.AddAlert(*warning.alert);
            alerts_.emplace(*key, id);
        }
        // Text GBK cannot carry leaves it waiting for review.
        if (record.state == "review" && warning.route == Route::Dispatch)
            Dispatch(record, warning.targets);
        if (record.state == "review") {
            reviews_.emplace(id, Review{id, warning.content, warning.targets, warning.expires,
                                        warning.drill, now, warning.alert});
        }
        answer.state = StateOf(record);
    }
    // Updates and cancels end what they refer to, whatever becomes of them.
    if (followUps_ != nullptr)
        for (const std::int64_t earlier : warning.ends) followUps_->Cancel(earlier, 0);
    store_.Flush();
    if (answer.state == "review" || answer.state == "dispatched") Tell();
    return answer;
}

std::string WarningDesk::Prefixed(const std::string& content, bool drill) const {
    if (!drill || drillPrefix_.empty()) return content;
    if (content.compare(0, drillPrefix_.size(), drillPrefix_) == 0) return content;
    return drillPrefix_ + content;
}

std::string WarningDesk::Dispatch(store::Warning& record,
                                  const std::vector<std::uint32_t>& targets) {
    const std::string content = Prefixed(record.content, record.drill);
    const std::optional<std::string> gbk = Utf8ToGbk(content);
    if (!gbk) return "内容含有GBK无法表示的字符";
    if (gbk->empty()) return "内容为空";
    record.content = content;
    record.gbkBytes = static_cast<std::int64_t>(gbk->size());
    record.gbkHash = Sha256Hex(*gbk);
    record.started = clock_();
    record.ended = 0;
    record.state = "running";
    store_.UpdateWarning(record);
    ready_.push_back({record.id, *gbk, targets, record.expires, record.drill});
    return {};
}

std::vector<Review> WarningDesk::Reviews() const {
    std::lock_guard guard(lock_);
    std::vector<Review> all;
    all.reserve(reviews_.size());
    for (const auto& [id, review] : reviews_) all.push_back(review);
    return all;
}

std::string WarningDesk::Approve(std::int64_t warningId, const std::string& content,
                                 std::optional<std::vector<std::uint32_t>> targets) {
    {
        std::lock_guard guard(lock_);
        const auto it = reviews_.find(warningId);
        if (it == reviews_.end()) return "该预警已不在待审核中";
        Review& review = it->second;
        if (targets && *targets != review.targets) {
            review.targets = std::move(*targets);
            store_.SetTargets(warningId, review.targets);
        }
        if (review.targets.empty()) return "没有目标终端";
        store::Warning record = NewRecord(content, operator_, review.received);
        record.id = warningId;
        record.drill = review.drill;
        record.expires = review.expires;
        const std::string refused = Dispatch(record, review.targets);
        if (!refused.empty()) return refused;
        reviews_.erase(it);
    }
    Tell();
    return {};
}

bool WarningDesk::Refuse(std::int64_t warningId) {
    std::lock_guard guard(lock_);
    const auto it = reviews_.find(warningId);
    if (it == reviews_.end()) return false;
    store::Warning record = NewRecord(it->second.content, operator_, it->second.received);
    record.id = warningId;
    record.drill = it->second.drill;
    record.expires = it->second.expires;
    record.ended = clock_();
    record.state = "refused";
    store_.UpdateWarning(record);
    reviews_.erase(it);
    return true;
}

bool WarningDesk::Send(CommandEngine& engine, const std::function<bool(std::uint32_t)>& online) {
    std::lock_guard sending(sendLock_);
    Ready_ next;
    {
        std::lock_guard guard(lock_);
        if (ready_.empty()) return false;
        next = ready_.front();
    }
    if (engine.Busy()) return false;
    std::vector<std::uint32_t> on, off;
    for (const std::uint32_t id : next.targets) (online(id) ? on : off).push_back(id);
    auto job = std::make_shared<GroupJob>(CommandKind::SendPlayContent, next.text, std::move(on),
                                          std::move(off));
    RecordNote note;
    note.warningId = next.warningId;
    note.attempt = 1;
    note.drill = next.drill;
    note.expires = next.expires;
    job->SetNote(note);
    if (!engine.SubmitGroupJob(job)) return false;
    std::lock_guard guard(lock_);
    if (!ready_.empty() && ready_.front().warningId == next.warningId) ready_.pop_front();
    return true;
}

std::size_t WarningDesk::Ready() const {
    std::lock_guard guard(lock_);
    return ready_.size();
}

void WarningDesk::Tell() {
    std::function<void()> listener;
    {
        std::lock_guard guard(lock_);
        listener = listener_;
    }
    if (listener) listener();
}

}  // namespace pelmora::dispatch
