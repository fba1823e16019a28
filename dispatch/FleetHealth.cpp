#include "FleetHealth.h"

#include <algorithm>
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

// The longest of the code's level prefixes, shorter than the code, that
// `known` holds; empty when none.
std::string ParentCode(const std::string& code, const std::unordered_set<std::string>& known) {
    for (auto it = std::rbegin(kLevels); it != std::rend(kLevels); ++it) {
        if (*it >= code.size()) continue;
        std::string prefix = code.substr(0, *it);
        if (known.count(prefix) != 0) return prefix;
    }
    return {};
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
    std::vector<std::uint32_t> ids;
    ids.reserve(terminals.size());
    for (const auto& [id, t] : terminals) ids.push_back(id);
    std::sort(ids.begin(), ids.end());

    // Every level prefix of a regular code is a node; any other code is a
    // node of its own under the longest of those it starts with.
    std::unordered_set<std::string> regular;
    std::unordered_set<std::string> odd;
    bool noRegion = false;
    for (const auto& [id, t] : terminals) {
        const std::string& code = t.regionCode;
        if (code.empty()) {
            noRegion = true;
        } else if (IsRegularCode(code)) {
            for (const std::size_t length : kLevels) {
                if (length > code.size()) break;
                regular.insert(code.substr(0, length));
            }
        } else {
            odd.insert(code);
        }
    }
    std::vector<std::string> codes(regular.begin(), regular.end());
    codes.insert(codes.end(), odd.begin(), odd.end());
    std::sort(codes.begin(), codes.end());

    nodes_.assign(codes.size() + (noRegion ? 1 : 0), Node{});
    top_.clear();
    byCode_.clear();
    byCode_.reserve(nodes_.size());
    for (std::size_t i = 0; i < codes.size(); ++i) {
        byCode_.emplace(codes[i], static_cast<int>(i));
        nodes_[i].code = codes[i];
    }
    if (noRegion) {
        Node& none = nodes_.back();
        none.name = kNoRegionName;
        byCode_.emplace(std::string(), static_cast<int>(nodes_.size() - 1));
    }
    // In the order of their codes, so that each node's children are too.
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        Node& node = nodes_[i];
        const std::string parent =
            noRegion && i + 1 == nodes_.size() ? std::string() : ParentCode(node.code, regular);
        if (parent.empty()) {
            node.parent = -1;
            node.row = static_cast<int>(top_.size());
            top_.push_back(static_cast<int>(i));
        } else {
            Node& up = nodes_[static_cast<std::size_t>(byCode_.at(parent))];
            node.parent = byCode_.at(parent);
            node.row = static_cast<int>(up.children.size());
            up.children.push_back(static_cast<int>(i));
        }
    }

    // Each terminal at the node of its code; a node's name is the first
    // region name given for its code.
    std::vector<std::vector<std::uint32_t>> own(nodes_.size());
    slots_.clear();
    slots_.reserve(ids.size());
    for (const std::uint32_t id : ids) {
        const store::Terminal& t = terminals.at(id);
        const int node = byCode_.at(t.regionCode);
        Node& n = nodes_[static_cast<std::size_t>(node)];
        if (n.name.empty() && !t.regionName.empty()) n.name = t.regionName;
        own[static_cast<std::size_t>(node)].push_back(id);
        Slot slot = StateOf(id, t);
        slot.node = node;
        slots_.emplace(id, slot);
        Move(node, slot, +1);
    }
    for (Node& n : nodes_)
        if (n.name.empty()) n.name = n.code;

    // The terminals in the order of a walk of the tree, so that those of a
    // node and below lie together.
    terminals_.clear();
    terminals_.reserve(ids.size());
    std::vector<std::pair<int, bool>> walk;  // node, whether its children are done
    for (auto it = top_.rbegin(); it != top_.rend(); ++it) walk.emplace_back(*it, false);
    while (!walk.empty()) {
        const auto [index, done] = walk.back();
        walk.pop_back();
        Node& n = nodes_[static_cast<std::size_t>(index)];
        if (done) {
            n.end = terminals_.size();
            continue;
        }
        n.first = terminals_.size();
        const auto& mine = own[static_cast<std::size_t>(index)];
        terminals_.insert(terminals_.end(), mine.begin(), mine.end());
        n.below = terminals_.size();
        walk.emplace_back(index, true);
        for (auto child = n.children.rbegin(); child != n.children.rend(); ++child)
            walk.emplace_back(*child, false);
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
    const auto it = byCode_.find(code);
    return it == byCode_.end() ? -1 : it->second;
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
