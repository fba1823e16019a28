// Warnings that come from outside the window: an authority's alert, or a
// warning another system posts. Each becomes a record at once, then waits
// for the operator's review, goes out at once, or is only kept. An alert is
// known by its sender, identifier and sent time: taken again, it gets the
// first answer and nothing new is sent.
//
// Taken on the gateway's threads; reviewed and sent from the window's. Every
// member may be called from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Store.h"

namespace pelmora {
class CommandEngine;
}

namespace pelmora::dispatch {

class FollowUps;

// What becomes of a warning from outside.
enum class Route {
    Review,    // waits for the operator
    Dispatch,  // goes out at once
    Record,    // kept, not played
};

struct OutsideWarning {
    std::string content;                 // UTF-8
    std::vector<std::uint32_t> targets;  // the terminals matched
    std::int64_t expires = 0;            // the follow-ups' end; 0: none
    bool drill = false;
    Route route = Route::Review;
    // The alert behind it (its warningId is filled in), when there is one.
    std::optional<store::AlertRecord> alert;
    // Earlier records whose pending follow-ups this one ends (an update or
    // a cancel of them).
    std::vector<std::int64_t> ends;
};

// The answer to a warning taken: its record, its state in the gateway's
// words ("review", "dispatched", "recorded", "no_terminals", "refused"), and
// the number of terminals matched.
struct DeskAnswer {
    std::int64_t warning = 0;
    std::string state;
    std::size_t terminals = 0;
    bool repeated = false;  // an alert taken before
};

// A warning waiting for the operator.
struct Review {
    std::int64_t warningId = 0;
    std::string content;  // UTF-8, as proposed
    std::vector<std::uint32_t> targets;
    std::int64_t expires = 0;
    bool drill = false;
    std::int64_t received = 0;
    std::optional<store::AlertRecord> alert;
};

class WarningDesk {
  public:
    using Clock = std::function<std::int64_t()>;  // seconds since 1970
    // `followUps` may be null (nothing to end).
    WarningDesk(store::Store& store, FollowUps* followUps, std::string operatorName,
                Clock clock = {});

    // The alerts already recorded, and the warnings still waiting for review
    // (at start).
    void Load();

    // Told, on the thread that made it, when a warning waits for review or
    // is ready to go: the window then looks at Reviews() and calls Send().
    void SetListener(std::function<void()> listener);
    // The prefix (UTF-8) of a drill's content, as the drill mode's.
    void SetDrillPrefix(std::string prefix);

    // The record of an earlier alert, by its key; 0 when never received.
    std::int64_t FindAlert(const std::string& sender, const std::string& identifier,
                           const std::string& sent) const;
    // Records the warning and routes it. An alert whose key was taken
    // before gets that record's answer, with its state now, and nothing
    // else happens. The record is committed before this returns.
    DeskAnswer Take(OutsideWarning warning);
    // The state of a record in the gateway's words.
    std::string StateOf(const store::Warning& warning) const;

    std::vector<Review> Reviews() const;
    // The operator sends a reviewed warning, with its content as edited
    // (UTF-8). Empty when done; otherwise why not (no longer waiting,
    // text GBK cannot carry).
    // `targets`, when given, replace those matched.
    std::string Approve(std::int64_t warningId, const std::string& content,
                        std::optional<std::vector<std::uint32_t>> targets = std::nullopt);
    // The operator refuses it: kept as "refused", nothing sent.
    bool Refuse(std::int64_t warningId);

    // Queues the next warning ready to go as a group job, when the engine
    // takes one; `online` says which terminals are registered now. Returns
    // whether one was queued; one that could not be queued waits.
    bool Send(CommandEngine& engine, const std::function<bool(std::uint32_t)>& online);
    // Warnings ready to go and not yet queued.
    std::size_t Ready() const;

  private:
    struct Ready_ {
        std::int64_t warningId = 0;
        std::string text;  // GBK, as sent
        std::vector<std::uint32_t> targets;
        std::int64_t expires = 0;
        bool drill = false;
    };
    using Key = std::tuple<std::string, std::string, std::string>;

    // Marks the record sent and queues it; lock_ held.
    std::string Dispatch(store::Warning& record, const std::vector<std::uint32_t>& targets);
    std::string Prefixed(const std::string& content, bool drill) const;
    void Tell();

    store::Store& store_;
    FollowUps* followUps_;
    const std::string operator_;
    Clock clock_;
    std::mutex sendLock_;  // one Send at a time, so none is queued twice
    mutable std::mutex lock_;
    std::map<Key, std::int64_t> alerts_;      // guarded by lock_
    std::map<std::int64_t, Review> reviews_;  // guarded by lock_
    std::deque<Ready_> ready_;                // guarded by lock_
    std::string drillPrefix_;                 // guarded by lock_
    std::function<void()> listener_;          // guarded by lock_ (copied out to call)
};

}  // namespace pelmora::dispatch
