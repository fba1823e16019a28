#include "TerminalTable.h"

namespace dovrik {

namespace {

constexpr std::size_t LowBit(std::size_t i) {
    return i & (~i + 1);
}

// Dead slots are kept until there are more of them than this and than live
// ones, so that a sweep costs at most as much as the removals before it.
constexpr std::size_t kDeadSlotsKept = 64;

}  // namespace

void TerminalTable::Append(std::uint64_t serial, const ModemInfo& info) {
    slots_.push_back(Slot{serial, info});
    // The new node covers the slots (i - LowBit(i), i]; its sum is its own
    // count plus the nodes that tile the rest of that range.
    const std::size_t i = slots_.size();
    std::uint32_t sum = 1;
    for (std::size_t j = i - 1; j > i - LowBit(i); j -= LowBit(j)) sum += counts_[j - 1];
    counts_.push_back(sum);
    slotOf_[serial] = i - 1;
    ++live_;
}

bool TerminalTable::Remove(std::uint64_t serial) {
    const auto it = slotOf_.find(serial);
    if (it == slotOf_.end()) return false;
    const std::size_t slot = it->second;
    slotOf_.erase(it);
    slots_[slot].serial = 0;
    AddCount(slot, -1);
    --live_;
    const std::size_t dead = slots_.size() - live_;
    if (dead > kDeadSlotsKept && dead > live_) Sweep();
    return true;
}

ModemInfo* TerminalTable::Find(std::uint64_t serial) {
    const auto it = slotOf_.find(serial);
    return it == slotOf_.end() ? nullptr : &slots_[it->second].info;
}

const ModemInfo* TerminalTable::At(std::size_t position) const {
    if (position >= live_) return nullptr;
    // Descends the tree to the slot with `position` live slots before it.
    std::size_t node = 0;
    std::size_t step = 1;
    while (step * 2 <= counts_.size()) step *= 2;
    std::size_t before = position;
    for (; step > 0; step /= 2) {
        const std::size_t next = node + step;
        if (next <= counts_.size() && counts_[next - 1] <= before) {
            node = next;
            before -= counts_[next - 1];
        }
    }
    return &slots_[node].info;  // node is the 0-based slot: the 1-based node + 1, less 1
}

void TerminalTable::Clear() {
    slots_.clear();
    counts_.clear();
    slotOf_.clear();
    live_ = 0;
}

void TerminalTable::AddCount(std::size_t slot, int delta) {
    for (std::size_t i = slot + 1; i <= counts_.size(); i += LowBit(i)) {
        counts_[i - 1] = static_cast<std::uint32_t>(static_cast<int>(counts_[i - 1]) + delta);
    }
}

void TerminalTable::Sweep() {
    std::vector<Slot> kept;
    kept.reserve(live_);
    for (const Slot& s : slots_) {
        if (s.serial != 0) kept.push_back(s);
    }
    Clear();
    for (const Slot& s : kept) Append(s.serial, s.info);
}

}  // namespace dovrik
