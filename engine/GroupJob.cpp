#include "GroupJob.h"

#include <algorithm>
#include <unordered_set>

#include "CommandTexts.h"
#include "ControlJobs.h"

namespace pelmora {

namespace {

int& CountOf(GroupCounts& counts, GroupOutcome outcome) {
    switch (outcome) {
        case GroupOutcome::Waiting:
            return counts.waiting;
        case GroupOutcome::Sent:
            return counts.sent;
        case GroupOutcome::Succeeded:
            return counts.succeeded;
        case GroupOutcome::Refused:
            return counts.refused;
        case GroupOutcome::TimedOut:
            return counts.timedOut;
        case GroupOutcome::Offline:
            return counts.offline;
        case GroupOutcome::SendFailed:
            return counts.sendFailed;
        case GroupOutcome::ConnectionLost:
            return counts.connectionLost;
        case GroupOutcome::Unconfirmed:
            return counts.unconfirmed;
        case GroupOutcome::ServiceStopped:
            return counts.serviceStopped;
        case GroupOutcome::Cancelled:
            break;
    }
    return counts.cancelled;
}

}  // namespace

bool IsFinal(GroupOutcome outcome) {
    return outcome != GroupOutcome::Waiting && outcome != GroupOutcome::Sent;
}

bool IsGroupKind(CommandKind kind) {
    return RequestFor(kind) != nullptr;
}

GroupJob::GroupJob(CommandKind kind, std::string text, std::vector<std::uint32_t> online,
                   std::vector<std::uint32_t> offline)
    : kind_(kind), text_(std::move(text)) {
    const std::size_t pieces = kind == CommandKind::SendPlayContent
                                   ? std::min<std::size_t>(PlayContentPieces(text_.size()), 0xFFFF)
                                   : 1;
    std::unordered_set<std::uint32_t> seen;
    seen.reserve(online.size() + offline.size());
    members_.reserve(online.size() + offline.size());
    for (std::uint32_t id : online) {
        if (seen.insert(id).second)
            members_.push_back({id, GroupOutcome::Waiting, 0, static_cast<std::uint16_t>(pieces)});
    }
    onlineCount_ = members_.size();
    for (std::uint32_t id : offline) {
        if (seen.insert(id).second)
            members_.push_back({id, GroupOutcome::Offline, 0, static_cast<std::uint16_t>(pieces)});
    }
    members_.shrink_to_fit();
    counts_.total = static_cast<int>(members_.size());
    counts_.waiting = static_cast<int>(onlineCount_);
    counts_.offline = counts_.total - counts_.waiting;
}

void GroupJob::Cancel() {
    cancelled_ = true;
    ++revision_;
}

bool GroupJob::Finished() const {
    std::lock_guard guard(lock_);
    return finished_;
}

GroupCounts GroupJob::Counts() const {
    std::lock_guard guard(lock_);
    return counts_;
}

std::vector<GroupMember> GroupJob::Members() const {
    std::lock_guard guard(lock_);
    return members_;
}

std::optional<std::pair<std::string, std::string>> GroupJob::Versions(
    std::uint32_t deviceId) const {
    std::lock_guard guard(lock_);
    const auto it = versions_.find(deviceId);
    if (it == versions_.end()) return std::nullopt;
    return it->second;
}

void GroupJob::Apply(const std::vector<Change>& changes) {
    if (changes.empty()) return;
    {
        std::lock_guard guard(lock_);
        for (const Change& change : changes) {
            if (change.index >= members_.size()) continue;
            GroupMember& member = members_[change.index];
            --CountOf(counts_, member.outcome);
            ++CountOf(counts_, change.outcome);
            member.outcome = change.outcome;
            member.piecesDone = change.piecesDone;
        }
    }
    ++revision_;
}

void GroupJob::SetVersions(std::uint32_t deviceId, std::string software, std::string boot) {
    {
        std::lock_guard guard(lock_);
        versions_[deviceId] = {std::move(software), std::move(boot)};
    }
    ++revision_;
}

void GroupJob::MarkFinished() {
    {
        std::lock_guard guard(lock_);
        finished_ = true;
    }
    ++revision_;
}

const char* GroupOutcomeName(GroupOutcome outcome) {
    switch (outcome) {
        case GroupOutcome::Waiting:
            return text::kGroupWaiting;
        case GroupOutcome::Sent:
            return text::kGroupSent;
        case GroupOutcome::Succeeded:
            return text::kGroupSucceeded;
        case GroupOutcome::Refused:
            return text::kGroupRefused;
        case GroupOutcome::TimedOut:
            return text::kGroupTimedOut;
        case GroupOutcome::Offline:
            return text::kGroupOffline;
        case GroupOutcome::SendFailed:
            return text::kGroupSendFailed;
        case GroupOutcome::ConnectionLost:
            return text::kGroupConnectionLost;
        case GroupOutcome::Unconfirmed:
            return text::kGroupUnconfirmed;
        case GroupOutcome::ServiceStopped:
            return text::kGroupServiceStopped;
        case GroupOutcome::Cancelled:
            break;
    }
    return text::kGroupCancelled;
}

const char* GroupKindName(CommandKind kind) {
    switch (kind) {
        case CommandKind::SendPlayContent:
            return text::kGroupPlayContent;
        case CommandKind::PlayMp3:
            return text::kGroupPlayMp3;
        case CommandKind::StopMp3:
            return text::kGroupStopMp3;
        case CommandKind::ReadVersion:
            return text::kGroupReadVersion;
        case CommandKind::SendUpgradeParams:
            return text::kGroupUpgrade;
        case CommandKind::RestartDevice:
            return text::kGroupRestart;
        default:
            return "";
    }
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
