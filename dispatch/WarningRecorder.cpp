#include "WarningRecorder.h"

#include <openssl/evp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "FollowUps.h"
#include "GbkCodec.h"

namespace pelmora::dispatch {

WarningRecorder::WarningRecorder(store::Store& store, std::string operatorName, Clock clock,
                                 FollowUps* followUps)
    : store_(store),
      operator_(std::move(operatorName)),
      clock_(std::move(clock)),
      followUps_(followUps) {
    if (!clock_) clock_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
}

std::int64_t WarningRecorder::Started(const RecordedJob& job) {
    Running running{job.note.warningId, job.note.attempt, job.kind, job.text, 0};
    if (running.warningId == 0) {
        store::Warning warning;
        warning.group = job.group;
        warning.kind = static_cast<int>(job.kind);
        warning.content = GbkToUtf8Lossy(job.text);
        warning.gbkBytes = static_cast<std::int64_t>(job.text.size());
        warning.gbkHash = Sha256Hex(job.text);
        warning.operatorName = operator_;
        warning.queued = clock_();
        warning.started = warning.queued;
        warning.state = "running";
        warning.drill = job.note.drill;
        const std::int64_t validity =
            job.note.validity >= 0 ? job.note.validity : defaultValidity_.load();
        if (FollowUps::Follows(job.kind) && validity > 0)
            warning.expires = warning.started + validity;
        running.expires = warning.expires;
        running.attempt = 1;
        running.warningId = store_.AddWarning(std::move(warning));
    } else if (job.note.expires != 0) {
        running.expires = job.note.expires;
    } else if (const auto warning = store_.FindWarning(running.warningId)) {
        running.expires = warning->expires;
    }
    std::lock_guard guard(lock_);
    const std::int64_t key = nextKey_++;
    running_.emplace(key, std::move(running));
    return key;
}

void WarningRecorder::Outcomes(std::int64_t key, std::vector<RecordedOutcome> outcomes) {
    Running running;
    {
        std::lock_guard guard(lock_);
        const auto it = running_.find(key);
        if (it == running_.end()) return;
        running = it->second;
    }
    std::vector<store::Outcome> rows;
    rows.reserve(outcomes.size());
    for (const RecordedOutcome& o : outcomes) {
        rows.push_back({running.warningId, o.deviceId, running.attempt, OutcomeWord(o.outcome),
                        o.time, GbkToUtf8Lossy(o.detail)});
        if (firmwareFound_ && running.kind == CommandKind::ReadVersion &&
            o.outcome == GroupOutcome::Succeeded && !o.detail.empty()) {
            // ", 软件版本 …, 引导版本 …" without its leading separator.
            std::string versions = rows.back().detail;
            versions.erase(0, versions.find_first_not_of(", "));
            firmwareFound_(o.deviceId, std::move(versions));
        }
        if (followUps_ != nullptr)
            followUps_->Settled(running.warningId, running.kind, running.text, running.expires,
                                o.deviceId, running.attempt, o.outcome);
    }
    if (warningOutcomes_ && !rows.empty() &&
        (running.kind == CommandKind::SendPlayContent || running.kind == CommandKind::PlayMp3))
        warningOutcomes_(rows);
    store_.AddOutcomes(std::move(rows));
}

void WarningRecorder::Ended(std::int64_t key, bool finished) {
    Running running;
    {
        std::lock_guard guard(lock_);
        const auto it = running_.find(key);
        if (it == running_.end()) return;
        running = std::move(it->second);
        running_.erase(it);
    }
    // A follow-up leaves the state of the record it adds to as it was.
    if (running.attempt == 1)
        store_.EndWarning(running.warningId, clock_(), finished ? "finished" : "unfinished");
}

std::string DesktopUser() {
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name)
        return entry->pw_name;
    const char* user = std::getenv("USER");
    return user ? user : "";
}

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::string OutcomeWord(GroupOutcome outcome) {
    // The engine's own words; a terminal still on its way is "等待" alone.
    if (!IsFinal(outcome)) return "等待";
    return GbkToUtf8Lossy(GroupOutcomeName(outcome));
}

}  // namespace pelmora::dispatch
