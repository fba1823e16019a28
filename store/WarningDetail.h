// One warning of the record opened whole, as the history view shows it:
// every terminal's outcomes, its latest attempt marked, the counts of the
// latest words, the terminals it did not reach, and the outcomes as CSV.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Store.h"

namespace pelmora::store {

// The word of a terminal that took the job (the engine's own).
inline constexpr std::string_view kSucceededWord = "成功";

struct WarningDetail {
    Warning warning;
    // By terminal, then attempt.
    std::vector<Outcome> outcomes;
    // For each outcome: whether it is its terminal's latest attempt.
    std::vector<char> latest;
    // The registry's entries of the terminals reached, those it knows.
    std::unordered_map<std::uint32_t, Terminal> terminals;
};

// Empty when the store holds no record with this id.
std::optional<WarningDetail> LoadWarningDetail(Store& store, std::int64_t id);

// How many terminals ended (so far) with each word, by their latest attempt.
std::map<std::string, int> LatestCounts(const WarningDetail& detail);
// The terminals whose latest outcome is not success, in order.
std::vector<std::uint32_t> NotSucceeded(const WarningDetail& detail);
// Every outcome as one CSV row (UTF-8 with a byte-order mark, the columns
// named in Chinese in the first row).
std::string WarningCsv(const WarningDetail& detail);

}  // namespace pelmora::store
