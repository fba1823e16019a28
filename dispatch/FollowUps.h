// Follow-up delivery. A play-content or MP3 warning with a validity is owed
// to every terminal of its target that missed it (offline, or a failure):
// such a terminal gets it again when it next registers, until it answers
// with success or the validity ends. Each attempt is recorded in the same
// record with its own number. Kept in the store, so that a restart of the
// program keeps them. A terminal that answered a warning with success is
// never sent it again.
//
// Outcomes come from the engine's worker (through the recorder); the rest
// from the window thread. Every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CommandJob.h"
#include "GroupJob.h"
#include "Store.h"

namespace pelmora::dispatch {

class FollowUps {
  public:
    using Clock = std::function<std::int64_t()>;  // seconds since 1970
    explicit FollowUps(store::Store& store, Clock clock = {});

    // Whether jobs of this kind are followed up: play content and MP3.
    static bool Follows(CommandKind kind);

    // The pending ones from the store (at start).
    void Load();

    // A terminal's outcome in attempt `attempt` of warning `warningId`, whose
    // validity ends at `expires` (0: none). The job's kind and text (GBK)
    // are kept for the next attempt.
    void Settled(std::int64_t warningId, CommandKind kind, const std::string& text,
                 std::int64_t expires, std::uint32_t deviceId, int attempt, GroupOutcome outcome);

    // The terminals that registered (a new connection): those owed a
    // warning are due for their next attempt.
    void Registered(const std::vector<std::uint32_t>& deviceIds);

    // The next follow-up to run: the due terminals of the oldest warning
    // still valid that are online now, with their attempt number. Those
    // whose validity ended are marked expired on the way. The terminals are
    // no longer due once taken; call Taken when the job was submitted, or
    // they stay due.
    struct Job {
        std::int64_t warningId = 0;
        CommandKind kind = CommandKind::SendPlayContent;
        std::string text;  // GBK
        int attempt = 2;
        std::vector<std::uint32_t> deviceIds;
    };
    std::optional<Job> Next(const std::function<bool(std::uint32_t)>& online);
    void Taken(const Job& job);

    // The operator's list: every pending follow-up, oldest warning first.
    std::vector<store::FollowUp> Pending() const;
    // Cancels one terminal's follow-up, or with `deviceId` 0 every one of
    // the warning. Returns how many were cancelled.
    int Cancel(std::int64_t warningId, std::uint32_t deviceId);

  private:
    struct Owed {
        std::int64_t expires = 0;
        int attempts = 1;
        bool due = false;  // registered since its last attempt
    };
    struct Content {
        CommandKind kind = CommandKind::SendPlayContent;
        std::string text;  // GBK
        bool known = false;
    };
    using Key = std::pair<std::int64_t, std::uint32_t>;  // warning, terminal

    // The warning's kind and text, from the store when not seen this run.
    Content& ContentOf(std::int64_t warningId);
    void Save(const Key& key, const Owed& owed, const char* state);

    store::Store& store_;
    Clock clock_;
    mutable std::mutex lock_;
    std::map<Key, Owed> owed_;                  // pending only; guarded by lock_
    std::map<std::int64_t, Content> contents_;  // guarded by lock_
    // Terminals that answered with success, so that a late failure of an
    // earlier attempt never makes them owed again.
    std::set<Key> done_;  // guarded by lock_
};

}  // namespace pelmora::dispatch
