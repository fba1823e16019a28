// The terminals a warning goes to: the union of regions (a code takes every
// terminal whose region code starts with it, so a county takes its towns and
// villages; the empty code those without a region), tags and terminals
// named one by one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Store.h"

namespace pelmora::dispatch {

struct TargetChoice {
    std::vector<std::string> regions;
    std::vector<std::string> tags;
    std::vector<std::uint32_t> devices;
    bool Empty() const { return regions.empty() && tags.empty() && devices.empty(); }
};

// Sorted, each terminal once. Named terminals count even when the registry
// does not know them.
std::vector<std::uint32_t> ResolveTargets(
    const std::unordered_map<std::uint32_t, store::Terminal>& registry, const TargetChoice& choice);

struct TargetCounts {
    int online = 0;
    int offline = 0;  // online once, not now
    int never = 0;    // never seen online
    int Total() const { return online + offline + never; }
};
TargetCounts CountTargets(const std::vector<std::uint32_t>& targets,
                          const std::unordered_map<std::uint32_t, store::Terminal>& registry,
                          const std::function<bool(std::uint32_t)>& online);

}  // namespace pelmora::dispatch
