#include "FollowUps.h"

#include <ctime>
#include <unordered_set>

#include "GbkCodec.h"

namespace pelmora::dispatch {

namespace {

// A terminal that missed the warning: nothing reached it, or nothing came
// back that says it took it. What the operator cancelled is not followed up.
bool Missed(GroupOutcome outcome) {
    switch (outcome) {
        case GroupOutcome::Offline:
        case GroupOutcome::SendFailed:
        case GroupOutcome::TimedOut:
        case GroupOutcome::Refused:
        case GroupOutcome::ConnectionLost:
        case GroupOutcome::ServiceStopped:
            return true;
        default:
            return false;
    }
}

}  // namespace

FollowUps::FollowUps(store::Store& store, Clock clock) : store_(store), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
}

bool FollowUps::Follows(CommandKind kind) {
    return kind == CommandKind::SendPlayContent || kind == CommandKind::PlayMp3;
}

void FollowUps::Load() {
    std::vector<store::FollowUp> pending = store_.PendingFollowUps();
    std::lock_guard guard(lock_);
    for (const store::FollowUp& f : pending)
        owed_[{f.warningId, f.deviceId}] = Owed{f.expires, f.attempts, false};
}

void FollowUps::Settled(std::int64_t warningId, CommandKind kind, const std::string& text,
                        std::int64_t expires, std::uint32_t deviceId, int attempt,
                        GroupOutcome outcome) {
    if (!IsFinal(outcome) || !Follows(kind)) return;
    const Key key{warningId, deviceId};
    std::lock_guard guard(lock_);
    if (done_.count(key) != 0) return;
    Content& content = contents_[warningId];
    if (!content.known) content = Content{kind, text, true};
    const auto it = owed_.find(key);
    if (outcome == GroupOutcome::Succeeded) {
        done_.insert(key);
        if (it == owed_.end()) return;
        Owed owed = it->second;
        owed.attempts = attempt;
        owed_.erase(it);
        Save(key, owed, "done");
        return;
    }
    if (Missed(outcome)) {
        if (expires == 0 || clock_() >= expires) {
            if (it != owed_.end()) {
                Save(key, it->second, "expired");
                owed_.erase(it);
            }
            return;
        }
        Owed& owed = owed_[key];
        owed.expires = expires;
        owed.attempts = attempt;
        owed.due = false;  // the next registration makes it due
        Save(key, owed, "pending");
        return;
    }
    // Cancelled by the operator: a first send stays as it ended; a
    // follow-up that was cancelled is not tried again.
    if (it != owed_.end()) {
        Save(key, it->second, "cancelled");
        owed_.erase(it);
    }
}

void FollowUps::Registered(const std::vector<std::uint32_t>& deviceIds) {
    const std::unordered_set<std::uint32_t> registered(deviceIds.begin(), deviceIds.end());
    std::lock_guard guard(lock_);
    for (auto& [key, owed] : owed_)
        if (registered.count(key.second) != 0) owed.due = true;
}

FollowUps::Content& FollowUps::ContentOf(std::int64_t warningId) {
    Content& content = contents_[warningId];
    if (content.known) return content;
    content.known = true;
    if (const auto warning = store_.FindWarning(warningId)) {
        content.kind = static_cast<CommandKind>(warning->kind);
        content.text = Utf8ToGbk(warning->content).value_or(std::string());
    }
    return content;
}

std::optional<FollowUps::Job> FollowUps::Next(const std::function<bool(std::uint32_t)>& online) {
    std::lock_guard guard(lock_);
    const std::int64_t now = clock_();
    std::optional<Job> job;
    for (auto it = owed_.begin(); it != owed_.end();) {
        const auto& [key, owed] = *it;
        if (now >= owed.expires) {
            Save(key, owed, "expired");
            it = owed_.erase(it);
            continue;
        }
        if (owed.due && online(key.second)) {
            if (!job) {
                const Content& content = ContentOf(key.first);
                job = Job{key.first, content.kind, content.text, owed.attempts + 1, {}};
            }
            // One job per warning and attempt number.
            if (job->warningId == key.first && job->attempt == owed.attempts + 1)
                job->deviceIds.push_back(key.second);
        }
        ++it;
    }
    if (job && (job->text.empty() || !Follows(job->kind))) {
        // The record is gone or unreadable: nothing to send again.
        for (std::uint32_t id : job->deviceIds) {
            const Key key{job->warningId, id};
            Save(key, owed_[key], "cancelled");
            owed_.erase(key);
        }
        return std::nullopt;
    }
    return job;
}

void FollowUps::Taken(const Job& job) {
    std::lock_guard guard(lock_);
    for (std::uint32_t id : job.deviceIds)
        if (const auto it = owed_.find({job.warningId, id}); it != owed_.end()) {
            it->second.due = false;
            it->second.attempts = job.attempt;
        }
}

std::vector<store::FollowUp> FollowUps::Pending() const {
    std::lock_guard guard(lock_);
    std::vector<store::FollowUp> pending;
    pending.reserve(owed_.size());
    for (const auto& [key, owed] : owed_)
        pending.push_back({key.first, key.second, owed.expires, "pending", owed.attempts});
    return pending;
}

int FollowUps::Cancel(std::int64_t warningId, std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    int cancelled = 0;
    for (auto it = owed_.begin(); it != owed_.end();) {
        if (it->first.first == warningId && (deviceId == 0 || it->first.second == deviceId)) {
            Save(it->first, it->second, "cancelled");
            it = owed_.erase(it);
            ++cancelled;
        } else {
            ++it;
        }
    }
    return cancelled;
}

void FollowUps::Save(const Key& key, const Owed& owed, const char* state) {
    store_.SaveFollowUps({{key.first, key.second, owed.expires, state, owed.attempts}});
}

}  // namespace pelmora::dispatch
