// A group job: one control kind and one text for many terminals, run by the
// worker as one job of the queue. The window builds it, hands it to
// CommandEngine::SubmitGroupJob and watches it; the worker (GroupRunner.h)
// moves each terminal on to its outcome.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CommandJob.h"

namespace pelmora {

// Where one terminal of a job stands. Waiting: not sent yet; Sent: sent, its
// answer (or the answer to its current piece) awaited; the rest are final,
// each with one meaning (GroupOutcomeName gives its word).
enum class GroupOutcome : std::uint8_t {
    Waiting,
    Sent,
    Succeeded,
    Refused,
    TimedOut,
    Offline,
    SendFailed,
    Cancelled,       // nothing of it was written
    ConnectionLost,  // the connection dropped or was replaced mid-conversation
    Unconfirmed,     // written, then cancelled or stopped before an answer
    ServiceStopped,  // the service stopped before anything was written
};

struct GroupMember {
    std::uint32_t deviceId = 0;
    GroupOutcome outcome = GroupOutcome::Waiting;
    std::uint16_t piecesDone = 0;  // pieces acknowledged (play content); 0/1 otherwise
    std::uint16_t pieces = 1;
};

struct GroupCounts {
    int total = 0, waiting = 0, sent = 0, succeeded = 0, refused = 0, timedOut = 0, offline = 0,
        sendFailed = 0, cancelled = 0, connectionLost = 0, unconfirmed = 0, serviceStopped = 0;
};

// What the warning record makes of a job. A follow-up (warningId set) adds
// attempt `attempt` to that earlier record rather than starting one. The
// validity, in seconds, is how long terminals that miss the job get it when
// they next register; -1 takes the record's default.
struct RecordNote {
    std::int64_t warningId = 0;
    int attempt = 1;
    std::int64_t validity = -1;
    bool drill = false;  // queued in drill mode, or a drill of its own
    // A record made before the job (a warning from outside, reviewed or not):
    // the end of its validity (seconds since 1970; 0: none).
    std::int64_t expires = 0;
};

bool IsFinal(GroupOutcome outcome);
// True for the kinds a group job can run: the control kinds.
bool IsGroupKind(CommandKind kind);

// Shared by the window and the worker; every member function may be called
// from either thread.
class GroupJob {
  public:
    // kind: SendPlayContent, PlayMp3, StopMp3, ReadVersion, SendUpgradeParams
    // or RestartDevice. `offline` terminals end as Offline at once (never
    // sent); duplicates are dropped, the first of them kept.
    GroupJob(CommandKind kind, std::string text, std::vector<std::uint32_t> online,
             std::vector<std::uint32_t> offline);
    GroupJob(const GroupJob&) = delete;
    GroupJob& operator=(const GroupJob&) = delete;

    CommandKind Kind() const { return kind_; }
    const std::string& Text() const { return text_; }
    // Set before the job is submitted.
    void SetNote(const RecordNote& note) { note_ = note; }
    void MarkDrill(bool drill) { note_.drill = drill; }
    const RecordNote& Note() const { return note_; }
    // Asks the worker to end the job at its next poll: what was not written
    // ends Cancelled, what was written and not answered Unconfirmed; final
    // outcomes stay.
    void Cancel();
    bool CancelRequested() const { return cancelled_.load(); }
    // Every member final and the summary line logged.
    bool Finished() const;
    GroupCounts Counts() const;
    // In the order given (online, then offline).
    std::vector<GroupMember> Members() const;
    // The versions a terminal answered a version query with (GBK), if it did.
    std::optional<std::pair<std::string, std::string>> Versions(std::uint32_t deviceId) const;
    // Grows with every change, so a view can skip redraws.
    std::uint64_t Revision() const { return revision_.load(); }

  private:
    friend class JobRunner;

    // --- the worker's side (GroupRunner) ---
    // The first OnlineCount() members are to be sent to; the rest are offline.
    std::size_t OnlineCount() const { return onlineCount_; }
    // Applies a batch of member changes under one lock and one revision.
    struct Change {
        std::uint32_t index;
        GroupOutcome outcome;
        std::uint16_t piecesDone;
    };
    void Apply(const std::vector<Change>& changes);
    void SetVersions(std::uint32_t deviceId, std::string software, std::string boot);
    void MarkFinished();

    // Constant after construction.
    const CommandKind kind_;
    const std::string text_;
    RecordNote note_;
    std::size_t onlineCount_ = 0;

    std::atomic<bool> cancelled_{false};
    std::atomic<std::uint64_t> revision_{0};

    mutable std::mutex lock_;
    std::vector<GroupMember> members_;  // guarded by lock_
    GroupCounts counts_;                // guarded by lock_
    // guarded by lock_: filled only for terminals that answered a version query
    std::unordered_map<std::uint32_t, std::pair<std::string, std::string>> versions_;
    bool finished_ = false;  // guarded by lock_
};

// The Chinese (GBK) name of an outcome ("成功", "拒绝", "超时", "离线",
// "发送失败", "已取消", "连接中断", "已发送未确认", "服务已停止", "等待发送",
// "等待应答") and of a group kind
// ("群发播放内容", "群发播放MP3", ...); an empty text for other kinds.
const char* GroupOutcomeName(GroupOutcome outcome);
const char* GroupKindName(CommandKind kind);

// The line logged when a group job is queued.
std::string GroupQueuedLine(const GroupJob& job);

}  // namespace pelmora
