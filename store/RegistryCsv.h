// The registry as CSV: UTF-8 with a byte-order mark, one terminal per row,
// the columns named in the first row in Chinese or English.
//
// Import reads 设备ID/device_id (required), 名称/name, 区划代码/region_code,
// 区划名称/region_name, 纬度/latitude, 经度/longitude, 标签/tags (separated by
// ';') and 备注/note; other columns are passed by. Export writes those and
// what the link saw. Device IDs and SIM numbers are written as ="…" so that a
// spreadsheet keeps them as text, and a cell that starts with =, +, - or @
// gets a leading apostrophe so that it is never run as a formula; import
// undoes both.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Store.h"

namespace pelmora::store {

struct CsvProblem {
    std::size_t line = 0;  // in the file; the header is line 1
    std::string reason;    // UTF-8
};

struct CsvImport {
    // The rows read, with the operator's fields set and the columns the file
    // named (a column it does not name leaves the registry's value).
    std::vector<Terminal> rows;
    std::vector<CsvProblem> problems;
    bool hasName = false, hasRegionCode = false, hasRegionName = false, hasLatitude = false,
         hasLongitude = false, hasTags = false, hasNote = false;
};

// Files larger than this are refused whole.
inline constexpr std::size_t kMaxCsvBytes = 64 * 1024 * 1024;

CsvImport ParseRegistryCsv(std::string_view text);
// The registry's terminals with the rows' fields put in: a terminal not yet
// in the registry is added, never seen online.
std::vector<Terminal> MergeImport(const std::vector<Terminal>& registry, const CsvImport& import);
std::string RegistryCsv(const std::vector<Terminal>& terminals);

}  // namespace pelmora::store
