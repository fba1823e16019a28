#include "Targets.h"

#include <algorithm>

namespace pelmora::dispatch {

std::vector<std::uint32_t> ResolveTargets(
    const std::unordered_map<std::uint32_t, store::Terminal>& registry,
    const TargetChoice& choice) {
    std::vector<std::uint32_t> out(choice.devices);
    if (!choice.regions.empty() || !choice.tags.empty()) {
        for (const auto& [id, entry] : registry) {
            // clang before 16 lets no lambda capture a structured binding.
            const store::Terminal& terminal = entry;
            const bool inRegion = std::any_of(
                choice.regions.begin(), choice.regions.end(), [&](const std::string& code) {
                    // "": the terminals without a region.
                    return code.empty() ? terminal.regionCode.empty()
                                        : terminal.regionCode.starts_with(code);
                });
            bool tagged = false;
            if (!inRegion && !choice.tags.empty() && !terminal.tags.empty()) {
                const auto own = store::SplitList(terminal.tags);
                tagged = std::any_of(own.begin(), own.end(), [&](const std::string& tag) {
                    return std::find(choice.tags.begin(), choice.tags.end(), tag) !=
                           choice.tags.end();
                });
            }
            if (inRegion || tagged) out.push_back(id);
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

TargetCounts CountTargets(const std::vector<std::uint32_t>& targets,
                          const std::unordered_map<std::uint32_t, store::Terminal>& registry,
                          const std::function<bool(std::uint32_t)>& online) {
    TargetCounts counts;
    for (const std::uint32_t id : targets) {
        if (online && online(id)) {
            ++counts.online;
            continue;
        }
        const auto found = registry.find(id);
        if (found != registry.end() && found->second.lastSeen != 0)
            ++counts.offline;
        else
            ++counts.never;
    }
    return counts;
}

}  // namespace pelmora::dispatch
