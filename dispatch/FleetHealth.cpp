#include "FleetHealth.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "CommandJob.h"

namespace pelmora::dispatch {

namespace {

// The lengths of the administrative levels: province, city, county, town,
// village.
constexpr std::size_t kLevels[] = {2, 4, 6, 9, 12};
// How many of the latest warning records the failed flags are taken from at
// the start.
constexpr std::size_t kFailureRecords = 20;

const char* const kSucceeded = "成功";
const char* const kCancelled = "已取消";
const char* const kNotFinal = "等待";

bool IsLevel(std::size_t length) {
    return std::find(std::begin(kLevels), std::end(kLevels), length) != std::end(kLevels);
}

bool IsRegularCode(const std::string& code) {
    return IsLevel(code.size()) &&
           std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

const char* const FleetHealth::kNoRegionName = "未设区划";

FleetHealth::FleetHealth(const RegistryKeeper& keeper) : keeper_(keeper) {
    Rebuild();
}

void FleetHealth::LoadFailures(store::Store& store) {
    SetFailures(LatestWarningOutcomes(store));
}

std::vector<store::Outcome> FleetHealth::LatestWarningOutcomes(store::Store& store) {
    return store.LatestOutcomes(
        {static_cast<int>(CommandKind::SendPlayContent), static_cast<int>(CommandKind::PlayMp3)},
        kFailureRecords);
}

void FleetHealth::SetFailures(const std::vector<store::Outcome>& latest) {
    for (const store::Outcome& o : latest) {
        if (told_.count(o.deviceId) != 0) continue;
        if (o.word == kSucceeded) {
            failed_.erase(o.deviceId);
        } else if (o.word != kCancelled && o.word != kNotFinal) {
            failed_[o.deviceId] = o.word;
        }
        Apply(o.deviceId);
    }
}

void FleetHealth::Rebuild() {
    built_ = false;  // every node is new: none is noted as changed
    const auto& terminals = keeper_.Terminals();
    // Every terminal by its code, then its device ID. In that order the
    // codes that share a prefix come together, and a walk of the tree (a
    // node, then its children by code) visits the nodes in the order of
    // their codes.
    std::vector<std::pair<const std::string*, std::uint32_t>> byCode;
    byCode.reserve(terminals.size());
    for (const auto& [id, t] : terminals) byCode.emplace_back(&t.regionCode, id);
    std::sort(byCode.begin(), byCode.end(), [](const auto& a, const auto& b) {
        const int order = a.first->compare(*b.first);
        return order != 0 ? order < 0 : a.second < b.second;
    });

    // The nodes' codes in order: every level prefix of a regular code, and
    // any other code as it is.
    std::vector<std::string> regular, odd;
    std::string last[std::size(kLevels)];
    for (std::size_t i = 0; i < byCode.size(); ++i) {
        const std::string& code = *byCode[i].first;
        if (code.empty() || (i > 0 && code == *byCode[i - 1].first)) continue;
        if (!IsRegularCode(code)) {
            odd.push_back(code);
            continue;
        }
        for (std::size_t level = 0; level < std::size(kLevels); ++level) {
            const std::size_t length = kLevels[level];
            if (length > code.size()) break;
            if (last[level].size() == length && code.compare(0, length, last[level]) == 0) continue;
            last[level] = code.substr(0, length);
            regular.push_back(last[level]);
        }
    }
    std::vector<std::string> codes;
    codes.reserve(regular.size() + odd.size());
    std::merge(std::make_move_iterator(regular.begin()), std::make_move_iterator(regular.end()),
               std::make_move_iterator(odd.begin()), std::make_move_iterator(odd.end()),
               std::back_inserter(codes));
    noRegion_ = !byCode.empty() && byCode.front().first->empty();

    // Parents: the node at the level above, or for an odd code the deepest
    // level prefix there is. Since the nodes come in the order of their
    // codes, the last node made at a level is the one that can be a prefix.
    nodes_.assign(codes.size() + (noRegion_ ? 1 : 0), Node{});
    top_.clear();
    int lastAt[std::size(kLevels)];
    std::fill(std::begin(lastAt), std::end(lastAt), -1);
    const auto attach = [this](int index, int parent) {
        Node& node = nodes_[static_cast<std::size_t>(index)];
        node.parent = parent;
        std::vector<int>& siblings =
            parent < 0 ? top_ : nodes_[static_cast<std::size_t>(parent)].children;
        node.row = static_cast<int>(siblings.size());
        siblings.push_back(index);
    };
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const int index = static_cast<int>(i);
        nodes_[i].code = std::move(codes[i]);
        const std::string& code = nodes_[i].code;
        int parent = -1;
        if (IsRegularCode(code)) {
            const auto level = static_cast<std::size_t>(
                std::find(std::begin(kLevels), std::end(kLevels), code.size()) -
                std::begin(kLevels));
            if (level > 0) parent = lastAt[level - 1];
            lastAt[level] = index;
        } else {
            for (std::size_t level = std::size(kLevels); level-- > 0;) {
                const int candidate = lastAt[level];
                if (kLevels[level] >= code.size() || candidate < 0) continue;
                if (code.compare(0, kLevels[level],
                                 nodes_[static_cast<std::size_t>(candidate)].code) == 0) {
                    parent = candidate;
                    break;
                }
            }
        }
        attach(index, parent);
    }
    if (noRegion_) {
        nodes_.back().name = kNoRegionName;
        attach(static_cast<int>(nodes_.size() - 1), -1);
    }

    // The terminals in the same order: those without a region last. Each
    // sits at the node of its code; a node's name is the first region name
    // given for its code.
    terminals_.clear();
    terminals_.reserve(byCode.size());
    const std::size_t none =
        static_cast<std::size_t>(std::find_if(byCode.begin(), byCode.end(),
                                              [](const auto& e) { return !e.first->empty(); }) -
                                 byCode.begin());
    for (std::size_t i = none; i < byCode.size(); ++i) terminals_.push_back(byCode[i].second);
    for (std::size_t i = 0; i < none; ++i) terminals_.push_back(byCode[i].second);
    slots_.clear();
    slots_.reserve(terminals_.size());
    std::size_t at = 0;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        Node& n = nodes_[i];
        n.first = at;
        for (; at < terminals_.size(); ++at) {
            const std::uint32_t id = terminals_[at];
            const store::Terminal& t = terminals.at(id);
            if (t.regionCode != n.code) break;
            if (n.name.empty()) n.name = t.regionName;
            Slot slot = StateOf(id, t);
            slot.node = static_cast<int>(i);
            slots_.emplace(id, slot);
            Move(slot.node, slot, +1);
        }
        n.below = at;
        if (n.name.empty()) n.name = n.code;
    }
    // Children come after their parents: from the last node back, each
    // node's range ends where its last child's does.
    for (std::size_t i = nodes_.size(); i-- > 0;) {
        Node& n = nodes_[i];
        n.end =
            n.children.empty() ? n.below : nodes_[static_cast<std::size_t>(n.children.back())].end;
    }

    changed_.assign(nodes_.size(), 0);
    changedNodes_.clear();
    builtRevision_ = keeper_.Revision();
    built_ = true;
}

FleetHealth::Slot FleetHealth::StateOf(std::uint32_t deviceId, const store::Terminal& t) const {
    Slot slot;
    slot.online = keeper_.Online(deviceId);
    slot.seen = slot.online || t.lastSeen != 0;
    slot.battery = t.power == store::kPowerBattery;
    slot.failed = failed_.count(deviceId) != 0;
    return slot;
}

void FleetHealth::Move(int node, const Slot& slot, int sign) {
    for (int at = node; at >= 0;) {
        const auto index = static_cast<std::size_t>(at);
        Counts& c = nodes_[index].counts;
        c.total += sign;
        c.online += slot.online ? sign : 0;
        c.offline += !slot.online && slot.seen ? sign : 0;
        c.neverSeen += !slot.online && !slot.seen ? sign : 0;
        c.battery += slot.battery ? sign : 0;
        c.failed += slot.failed ? sign : 0;
        if (built_ && !changed_[index]) {
            changed_[index] = 1;
            changedNodes_.push_back(at);
        }
        at = nodes_[index].parent;
    }
}

void FleetHealth::Apply(std::uint32_t deviceId) {
    const auto slot = slots_.find(deviceId);
    if (slot == slots_.end()) return;
    const auto& terminals = keeper_.Terminals();
    const auto t = terminals.find(deviceId);
    if (t == terminals.end()) return;
    Slot now = StateOf(deviceId, t->second);
    now.node = slot->second.node;
    const Slot& was = slot->second;
    if (now.online == was.online && now.seen == was.seen && now.battery == was.battery &&
        now.failed == was.failed)
        return;
    Move(was.node, was, -1);
    Move(now.node, now, +1);
    slot->second = now;
}

std::vector<int> FleetHealth::TakeChangedNodes() {
    std::vector<int> taken;
    taken.swap(changedNodes_);
    for (const int node : taken) changed_[static_cast<std::size_t>(node)] = 0;
    std::sort(taken.begin(), taken.end());
    return taken;
}

int FleetHealth::Find(const std::string& code) const {
    if (code.empty()) return noRegion_ ? static_cast<int>(nodes_.size()) - 1 : -1;
    const auto sorted = nodes_.end() - (noRegion_ ? 1 : 0);
    const auto it =
        std::lower_bound(nodes_.begin(), sorted, code,
                         [](const Node& n, const std::string& c) { return n.code < c; });
    return it != sorted && it->code == code ? static_cast<int>(it - nodes_.begin()) : -1;
}

FleetHealth::Counts FleetHealth::CountsOf(const std::string& code) const {
    const int node = Find(code);
    return node < 0 ? Counts{} : NodeAt(node).counts;
}

std::vector<std::uint32_t> FleetHealth::TerminalsIn(
    const std::vector<std::string>& regionCodes) const {
    std::vector<std::uint32_t> found;
    for (const std::string& code : regionCodes) {
        const int node = Find(code);
        if (node < 0) continue;
        const Node& n = NodeAt(node);
        found.insert(found.end(), terminals_.begin() + static_cast<std::ptrdiff_t>(n.first),
                     terminals_.begin() + static_cast<std::ptrdiff_t>(n.end));
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

std::string FleetHealth::NameOf(std::uint32_t deviceId) const {
    const auto& terminals = keeper_.Terminals();
    const auto it = terminals.find(deviceId);
    return it == terminals.end() ? std::string() : it->second.name;
}

void FleetHealth::Note(std::uint32_t deviceId, TerminalChange change, std::int64_t now) {
    if (change == TerminalChange::Offline) {
        AddChange(now, deviceId, "离线");
    } else if (change == TerminalChange::Power) {
        const auto& terminals = keeper_.Terminals();
        const auto it = terminals.find(deviceId);
        if (it != terminals.end() && it->second.power == store::kPowerBattery)
            AddChange(now, deviceId, "电池供电");
    }
    Apply(deviceId);
}

void FleetHealth::Outcomes(const std::vector<store::Outcome>& outcomes) {
    for (const store::Outcome& o : outcomes) {
        if (o.word == kCancelled || o.word == kNotFinal) continue;
        told_.insert(o.deviceId);
        if (o.word == kSucceeded) {
            failed_.erase(o.deviceId);
        } else {
            failed_[o.deviceId] = o.word;
            AddChange(o.time, o.deviceId, "预警失败:" + o.word);
        }
        Apply(o.deviceId);
    }
}

void FleetHealth::AddChange(std::int64_t time, std::uint32_t deviceId, std::string what) {
    pending_.push_back({time, deviceId, std::move(what)});
}

FleetHealth::Published FleetHealth::Publish() {
    Published published;
    if (pending_.empty()) return published;
    unseen_ = static_cast<int>(std::min<std::size_t>(
        static_cast<std::size_t>(unseen_) + pending_.size(), std::numeric_limits<int>::max()));
    // What the list cannot hold goes before it is shown: the oldest listed
    // first, then the oldest of the new.
    const std::size_t total = changes_.size() + pending_.size();
    const std::size_t excess = total > kMaxChanges ? total - kMaxChanges : 0;
    published.dropped = std::min(excess, changes_.size());
    const std::size_t skipped = excess - published.dropped;
    changes_.erase(changes_.begin(),
                   changes_.begin() + static_cast<std::ptrdiff_t>(published.dropped));
    for (std::size_t i = skipped; i < pending_.size(); ++i)
        changes_.push_back(std::move(pending_[i]));
    published.added = pending_.size() - skipped;
    pending_.clear();
    return published;
}

void FleetHealth::ClearChanges() {
    changes_.clear();
    unseen_ = 0;
}

}  // namespace pelmora::dispatch
