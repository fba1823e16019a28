#include "RegistryCsv.h"

#include "CsvCells.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace pelmora::store {

namespace {

constexpr std::size_t kMaxCell = 4096;

enum Column { kDeviceId, kName, kRegionCode, kRegionName, kLatitude, kLongitude, kTags, kNote };

const std::pair<const char*, Column> kHeaders[] = {
    {"设备ID", kDeviceId},     {"device_id", kDeviceId},
    {"名称", kName},           {"name", kName},
    {"区划代码", kRegionCode}, {"region_code", kRegionCode},
    {"区划名称", kRegionName}, {"region_name", kRegionName},
    {"纬度", kLatitude},       {"latitude", kLatitude},
    {"经度", kLongitude},      {"longitude", kLongitude},
    {"标签", kTags},           {"tags", kTags},
    {"备注", kNote},           {"note", kNote},
};

bool ValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
        } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string Trim(std::string_view text) {
    std::size_t first = 0, last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return std::string(text.substr(first, last - first));
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Undoes what export does to keep a cell as text: ="…" and a leading
// apostrophe before a formula character.
std::string Unguard(const std::string& cell) {
    if (cell.size() >= 3 && cell[0] == '=' && cell[1] == '"' && cell.back() == '"')
        return cell.substr(2, cell.size() - 3);
    if (cell.size() >= 2 && cell[0] == '\'' &&
        (cell[1] == '=' || cell[1] == '+' || cell[1] == '-' || cell[1] == '@'))
        return cell.substr(1);
    return cell;
}

struct Row {
    std::size_t line = 0;
    std::vector<std::string> cells;
};

// Splits RFC 4180 text into rows, each with the line it starts on. False
// (with the line) for a quote left open.
bool SplitRows(std::string_view text, std::vector<Row>& rows, std::size_t& badLine) {
    std::size_t line = 1;
    std::size_t i = 0;
    while (i < text.size()) {
        Row row;
        row.line = line;
        std::string cell;
        bool quoted = false;
        bool ended = false;
        while (i < text.size() && !ended) {
            const char c = text[i];
            if (quoted) {
                if (c == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        cell += '"';
                        i += 2;
                        continue;
                    }
                    quoted = false;
                } else {
                    if (c == '\n') ++line;
                    cell += c;
                }
                ++i;
                continue;
            }
            if (c == '"' && Trim(cell).empty()) {
                cell.clear();
                quoted = true;
            } else if (c == ',') {
                row.cells.push_back(std::move(cell));
                cell.clear();
            } else if (c == '\r' || c == '\n') {
                if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
                ++line;
                ended = true;
            } else {
                cell += c;
            }
            ++i;
        }
        if (quoted) {
            badLine = row.line;
            return false;
        }
        row.cells.push_back(std::move(cell));
        const bool blank = row.cells.size() == 1 && Trim(row.cells[0]).empty();
        if (!blank) rows.push_back(std::move(row));
    }
    return true;
}

std::optional<double> Coordinate(const std::string& cell, double bound, bool& bad) {
    const std::string text = Trim(cell);
    if (text.empty()) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        std::fabs(value) > bound) {
        bad = true;
        return std::nullopt;
    }
    return value;
}

bool ParseDeviceId(const std::string& text, std::uint32_t& id) {
    if (text.size() != 8) return false;
    std::uint32_t value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return false;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    id = value;
    return true;
}

std::string Number(const std::optional<double>& value) {
    if (!value) return {};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6f", *value);
    return buffer;
}

}  // namespace

CsvImport ParseRegistryCsv(std::string_view text) {
    CsvImport result;
    if (text.size() > kMaxCsvBytes) {
        result.problems.push_back({1, "文件过大(最多64 MB)"});
        return result;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (!ValidUtf8(text)) {
        result.problems.push_back({1, "文件不是UTF-8文本"});
        return result;
    }
    std::vector<Row> rows;
    std::size_t badLine = 0;
    if (!SplitRows(text, rows, badLine)) {
        result.problems.push_back({badLine, "引号没有结束"});
        return result;
    }
    if (rows.empty()) {
        result.problems.push_back({1, "文件是空的"});
        return result;
    }
    // The header: which column is which.
    std::map<std::size_t, Column> columns;
    for (std::size_t i = 0; i < rows[0].cells.size(); ++i) {
        const std::string name = Lower(Trim(rows[0].cells[i]));
        for (const auto& [header, column] : kHeaders) {
            if (name == Lower(header)) columns[i] = column;
        }
    }
    const auto has = [&](Column c) {
        return std::any_of(columns.begin(), columns.end(),
                           [c](const auto& entry) { return entry.second == c; });
    };
    if (!has(kDeviceId)) {
        result.problems.push_back({rows[0].line, "第一行没有“设备ID”(device_id)列"});
        return result;
    }
    result.hasName = has(kName);
    result.hasRegionCode = has(kRegionCode);
    result.hasRegionName = has(kRegionName);
    result.hasLatitude = has(kLatitude);
    result.hasLongitude = has(kLongitude);
    result.hasTags = has(kTags);
    result.hasNote = has(kNote);

    std::unordered_map<std::uint32_t, std::size_t> seen;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const Row& row = rows[r];
        Terminal t;
        std::string problem;
        bool badLatitude = false, badLongitude = false;
        for (const auto& [index, column] : columns) {
            if (index >= row.cells.size()) continue;
            if (row.cells[index].size() > kMaxCell) {
                problem = "单元格过长(最多4096字节)";
                break;
            }
            const std::string cell = Unguard(Trim(row.cells[index]));
            switch (column) {
                case kDeviceId:
                    if (!ParseDeviceId(cell, t.deviceId))
                        problem = "设备ID“" + cell + "”应为8位十六进制数字";
                    break;
                case kName:
                    t.name = cell;
                    break;
                case kRegionCode:
                    t.regionCode = cell;
                    break;
                case kRegionName:
                    t.regionName = cell;
                    break;
                case kLatitude:
                    t.latitude = Coordinate(cell, 90, badLatitude);
                    break;
                case kLongitude:
                    t.longitude = Coordinate(cell, 180, badLongitude);
                    break;
                case kTags:
                    t.tags = cell;
                    break;
                case kNote:
                    t.note = cell;
                    break;
            }
            if (!problem.empty()) break;
        }
        if (problem.empty() && badLatitude) problem = "纬度应为-90到90之间的数";
        if (problem.empty() && badLongitude) problem = "经度应为-180到180之间的数";
        if (problem.empty()) {
            const auto [it, fresh] = seen.emplace(t.deviceId, row.line);
            if (!fresh)
                problem = "设备ID " + csv::DeviceId(t.deviceId) + " 与第" +
                          std::to_string(it->second) + "行重复";
        }
        if (!problem.empty()) {
            result.problems.push_back({row.line, problem});
            continue;
        }
        result.rows.push_back(std::move(t));
    }
    return result;
}

std::vector<Terminal> MergeImport(const std::vector<Terminal>& registry, const CsvImport& import) {
    std::unordered_map<std::uint32_t, const Terminal*> known;
    known.reserve(registry.size());
    for (const Terminal& t : registry) known[t.deviceId] = &t;
    std::vector<Terminal> merged;
    merged.reserve(import.rows.size());
    for (const Terminal& row : import.rows) {
        Terminal t;
        t.deviceId = row.deviceId;
        if (const auto it = known.find(row.deviceId); it != known.end()) t = *it->second;
        if (import.hasName) t.name = row.name;
        if (import.hasRegionCode) t.regionCode = row.regionCode;
        if (import.hasRegionName) t.regionName = row.regionName;
        if (import.hasLatitude) t.latitude = row.latitude;
        if (import.hasLongitude) t.longitude = row.longitude;
        if (import.hasTags) t.tags = row.tags;
        if (import.hasNote) t.note = row.note;
        merged.push_back(std::move(t));
    }
    return merged;
}

std::string RegistryCsv(const std::vector<Terminal>& terminals) {
    using csv::Cell, csv::TextCell, csv::LocalTime;
    std::string out = csv::kByteOrderMark;
    out +=
        "设备ID,名称,区划代码,区划名称,纬度,经度,标签,备注,SIM卡号,最后地址,首次上线,最后上线,"
        "供电,固件版本\r\n";
    for (const Terminal& t : terminals) {
        const char* power = t.power == kPowerMains     ? "主电"
                            : t.power == kPowerBattery ? "备电"
                                                       : "";
        csv::AppendRow(out,
                       {TextCell(csv::DeviceId(t.deviceId)), Cell(t.name), TextCell(t.regionCode),
                        Cell(t.regionName), Number(t.latitude), Number(t.longitude), Cell(t.tags),
                        Cell(t.note), TextCell(t.sim), Cell(t.address), LocalTime(t.firstSeen),
                        LocalTime(t.lastSeen), power, Cell(t.firmware)});
    }
    return out;
}

}  // namespace pelmora::store
