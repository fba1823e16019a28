#include "CsvCells.h"

#include <cstdio>
#include <ctime>

namespace pelmora::store::csv {

std::string Cell(std::string text) {
    const bool formula =
        !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@');
    if (formula) text.insert(text.begin(), '\'');
    const bool quote = text.find_first_of(",\"\r\n") != std::string::npos;
    if (!quote) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string TextCell(const std::string& text) {
    if (text.empty()) return text;
    // A spreadsheet keeps ="…" as text: device IDs like 0001e240 would be
    // read as numbers otherwise. A quote, comma or line break inside would
    // break the formula, so such text is written as a plain cell.
    if (text.find_first_of(",\"\r\n") != std::string::npos) return Cell(text);
    return "=\"" + text + "\"";
}

std::string LocalTime(std::int64_t seconds) {
    if (seconds == 0) return {};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) return {};
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return buffer;
}

std::string DeviceId(std::uint32_t id) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x", id);
    return buffer;
}

void AppendRow(std::string& out, std::initializer_list<std::string> cells) {
    bool first = true;
    for (const std::string& cell : cells) {
        if (!first) out += ',';
        out += cell;
        first = false;
    }
    out += "\r\n";
}

}  // namespace pelmora::store::csv
