#include "WarningDetail.h"

#include <algorithm>
#include <tuple>
#include <unordered_set>

#include "CsvCells.h"

namespace pelmora::store {

namespace {

// Up to this many terminals are looked up one by one; more take the
// registry whole, which is one read.
constexpr std::size_t kLookedUpOneByOne = 64;

}  // namespace

std::optional<WarningDetail> LoadWarningDetail(Store& store, std::int64_t id) {
    std::optional<Warning> warning = store.FindWarning(id);
    if (!warning) return std::nullopt;
    WarningDetail detail;
    detail.warning = std::move(*warning);
    detail.outcomes = store.OutcomesOf(id);
    const auto order = [](const Outcome& a, const Outcome& b) {
        return std::tie(a.deviceId, a.attempt) < std::tie(b.deviceId, b.attempt);
    };
    if (!std::is_sorted(detail.outcomes.begin(), detail.outcomes.end(), order))
        std::sort(detail.outcomes.begin(), detail.outcomes.end(), order);
    const std::size_t count = detail.outcomes.size();
    detail.latest.assign(count, 0);
    std::vector<std::uint32_t> reached;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t device = detail.outcomes[i].deviceId;
        if (i + 1 == count || detail.outcomes[i + 1].deviceId != device) {
            detail.latest[i] = 1;
            reached.push_back(device);
        }
    }
    if (reached.size() <= kLookedUpOneByOne) {
        for (const std::uint32_t device : reached) {
            if (auto t = store.FindTerminal(device))
                detail.terminals.emplace(device, std::move(*t));
        }
    } else {
        const std::unordered_set<std::uint32_t> wanted(reached.begin(), reached.end());
        detail.terminals.reserve(reached.size());
        for (Terminal& t : store.Terminals()) {
            if (wanted.count(t.deviceId) != 0) detail.terminals.emplace(t.deviceId, std::move(t));
        }
    }
    return detail;
}

std::map<std::string, int> LatestCounts(const WarningDetail& detail) {
    std::map<std::string, int> counts;
    for (std::size_t i = 0; i < detail.outcomes.size(); ++i) {
        if (detail.latest[i]) ++counts[detail.outcomes[i].word];
    }
    return counts;
}

std::vector<std::uint32_t> NotSucceeded(const WarningDetail& detail) {
    std::vector<std::uint32_t> devices;
    for (std::size_t i = 0; i < detail.outcomes.size(); ++i) {
        if (detail.latest[i] && detail.outcomes[i].word != kSucceededWord)
            devices.push_back(detail.outcomes[i].deviceId);
    }
    return devices;
}

std::string WarningCsv(const WarningDetail& detail) {
    using csv::Cell, csv::TextCell;
    std::string out = csv::kByteOrderMark;
    out += "设备ID,名称,区划代码,区划名称,SIM卡号,次数,最后一次,结果,时间,详情\r\n";
    static const Terminal kUnknown;
    for (std::size_t i = 0; i < detail.outcomes.size(); ++i) {
        const Outcome& o = detail.outcomes[i];
        const auto known = detail.terminals.find(o.deviceId);
        const Terminal& t = known == detail.terminals.end() ? kUnknown : known->second;
        csv::AppendRow(out, {TextCell(csv::DeviceId(o.deviceId)), Cell(t.name),
                             TextCell(t.regionCode), Cell(t.regionName), TextCell(t.sim),
                             std::to_string(o.attempt), detail.latest[i] ? "是" : "", Cell(o.word),
                             csv::LocalTime(o.time), Cell(o.detail)});
    }
    return out;
}

}  // namespace pelmora::store
