// The registered terminals in order of registration, as DSGetModemByPosition
// walks them. Registration, removal and a lookup by position cost O(log n),
// so a fleet that leaves at once empties the table in linear time.
//
// Records sit in slots in the order they were appended; a removed record
// leaves a dead slot behind, and a Fenwick tree over the slots counts the
// live ones, which turns a position into its slot. Dead slots are swept out
// once they outnumber the live ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "Dovrik.h"

namespace dovrik {

class TerminalTable final {
  public:
    // Appends the record of the connection with this serial number.
    void Append(std::uint64_t serial, const ModemInfo& info);
    // Removes the connection's record; false when it has none.
    bool Remove(std::uint64_t serial);
    // The connection's record, or nullptr. Valid until the next change.
    ModemInfo* Find(std::uint64_t serial);
    // The record at a 0-based position in registration order, or nullptr.
    const ModemInfo* At(std::size_t position) const;
    std::size_t Size() const { return live_; }
    void Clear();

  private:
    struct Slot {
        std::uint64_t serial;  // 0 once removed
        ModemInfo info;
    };

    void Sweep();
    void AddCount(std::size_t slot, int delta);

    std::vector<Slot> slots_;
    std::vector<std::uint32_t> counts_;  // Fenwick tree of live slots, 1-based
    std::unordered_map<std::uint64_t, std::size_t> slotOf_;
    std::size_t live_ = 0;
};

}  // namespace dovrik
