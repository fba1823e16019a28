// The fleet's health by region: a tree of the administrative divisions the
// registry's terminals name (2 digits a province, 4 a city, 6 a county, 9 a
// town, 12 a village), each node counting the terminals at it and below:
// online, offline, never online, on battery power, and those whose latest
// warning failed. Beside it the list of changes the operator should notice
// ("变化"): a terminal gone offline, switched to battery power, or failing a
// warning.
//
// A terminal's change moves the counts of its node and that node's
// ancestors only; the tree is built again only when the registry's revision
// moves on (a terminal added, regions edited, an import), and then by the
// owner, who calls Rebuild when Stale() says so, so that the views over the
// tree are told before it changes. Window thread; no Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "RegistryKeeper.h"
#include "Store.h"

namespace pelmora::dispatch {

class FleetHealth {
  public:
    struct Counts {
        int total = 0;
        int online = 0;
        int offline = 0;    // seen online once, not now
        int neverSeen = 0;  // never online
        int battery = 0;    // on battery power (the latest report)
        int failed = 0;     // their latest warning failed
        bool operator==(const Counts&) const = default;
    };

    struct Node {
        std::string code;           // "" for the terminals without a region
        std::string name;           // UTF-8: a terminal's region name for this code, else the code
        int parent = -1;            // -1 at the top
        int row = 0;                // the place among its parent's children
        std::vector<int> children;  // ordered by code
        Counts counts;
        // The terminals of the node and below are terminals_[first, end);
        // those of the node itself come first, up to `below`.
        std::size_t first = 0, below = 0, end = 0;
    };

    struct Change {
        std::int64_t time = 0;  // seconds since 1970
        std::uint32_t deviceId = 0;
        std::string what;  // "离线", "电池供电" or "预警失败:<outcome word>"
        bool operator==(const Change&) const = default;
    };

    static constexpr std::size_t kMaxChanges = 1000;
    // The name of the node of the terminals without a region code.
    static const char* const kNoRegionName;

    explicit FleetHealth(const RegistryKeeper& keeper);

    // Sets the failed flags from the store: each terminal's latest outcome in
    // the latest play-content and MP3 records. No change is listed. The
    // reading may take a while for a large record: LatestWarningOutcomes
    // (any thread) then SetFailures do the same in two steps. A terminal
    // told of by Outcomes meanwhile keeps what it was told.
    void LoadFailures(store::Store& store);
    static std::vector<store::Outcome> LatestWarningOutcomes(store::Store& store);
    void SetFailures(const std::vector<store::Outcome>& latest);

    // --- the tree ---
    // The registry's revision moved on since the tree was built.
    bool Stale() const { return builtRevision_ != keeper_.Revision(); }
    void Rebuild();
    // Takes the terminal's state from the registry again and moves the
    // counts of its node and that node's ancestors. A terminal the tree does
    // not know yet waits for the next Rebuild.
    void Apply(std::uint32_t deviceId);
    // The nodes whose counts changed since the last call (or the last
    // Rebuild), in index order.
    std::vector<int> TakeChangedNodes();

    // In the order of their codes, the one without a region last (which is
    // also the order of a walk of the tree): a node comes after its parent.
    const std::vector<Node>& Nodes() const { return nodes_; }
    const Node& NodeAt(int index) const { return nodes_[static_cast<std::size_t>(index)]; }
    // The nodes at the top, ordered by code, the one without a region last.
    const std::vector<int>& TopNodes() const { return top_; }
    // The node of this code; -1 when there is none.
    int Find(const std::string& code) const;
    // A node's counts, with what lies below it; zero for an unknown code.
    Counts CountsOf(const std::string& code) const;
    // The terminals of these nodes and of the nodes below them, sorted and
    // each once. Unknown codes add nothing.
    std::vector<std::uint32_t> TerminalsIn(const std::vector<std::string>& regionCodes) const;
    // The registry's name of a terminal (UTF-8); empty when it has none.
    std::string NameOf(std::uint32_t deviceId) const;

    // --- what happens to terminals ---
    // What the registry keeper tells: the counts follow, and a terminal gone
    // offline or switched to battery power is listed.
    void Note(std::uint32_t deviceId, TerminalChange change, std::int64_t now);
    // Outcomes of play-content and MP3 jobs: a word other than 成功 and 已取消
    // marks the terminal failed and is listed, a later 成功 clears it.
    void Outcomes(const std::vector<store::Outcome>& outcomes);
    bool Failed(std::uint32_t deviceId) const { return failed_.count(deviceId) != 0; }

    // --- the changes ---
    // Oldest first; at most kMaxChanges, the oldest dropped first. Changes
    // join the list at Publish, so that a view is told of them in one go.
    const std::deque<Change>& Changes() const { return changes_; }
    struct Published {
        std::size_t added = 0;    // at the end of Changes()
        std::size_t dropped = 0;  // from its front
    };
    Published Publish();
    // Changes listed since the operator last saw the list.
    int Unseen() const { return unseen_; }
    void MarkSeen() { unseen_ = 0; }
    // The operator has seen them ("已查看"): the list is emptied.
    void ClearChanges();

  private:
    struct Slot {
        int node = -1;
        bool online = false, seen = false, battery = false, failed = false;
    };
    Slot StateOf(std::uint32_t deviceId, const store::Terminal& t) const;
    void Move(int node, const Slot& from, int sign);
    void AddChange(std::int64_t time, std::uint32_t deviceId, std::string what);

    const RegistryKeeper& keeper_;
    std::uint64_t builtRevision_ = 0;
    bool built_ = false;
    std::vector<Node> nodes_;
    std::vector<int> top_;
    bool noRegion_ = false;  // the last node is that of the terminals without a region
    // Every terminal once, grouped by node in the order of a walk of the tree.
    std::vector<std::uint32_t> terminals_;
    std::unordered_map<std::uint32_t, Slot> slots_;
    std::vector<char> changed_;  // by node
    std::vector<int> changedNodes_;
    // Terminals whose latest warning failed, with the word.
    std::unordered_map<std::uint32_t, std::string> failed_;
    // Terminals Outcomes told of: SetFailures leaves them as they are.
    std::unordered_set<std::uint32_t> told_;
    std::deque<Change> changes_;
    std::vector<Change> pending_;  // listed at the next Publish
    int unseen_ = 0;
};

}  // namespace pelmora::dispatch
