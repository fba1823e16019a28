// Cells of the CSV files the centre writes (the registry, a warning's
// outcomes): UTF-8, read by spreadsheets. A cell that starts with =, +, -
// or @ gets a leading apostrophe so that it is never run as a formula;
// numbers that must stay text (device IDs, SIM numbers, region codes) are
// written as ="…".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace pelmora::store::csv {

// Put first in a file, so that a spreadsheet reads it as UTF-8.
inline constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// Any text: guarded against formulas, quoted when it holds a comma, a quote
// or a line break.
std::string Cell(std::string text);
// A number kept as text; one that cannot be written so safely is a Cell.
std::string TextCell(const std::string& text);
// "yyyy-mm-dd hh:mm:ss" in local time; empty for 0.
std::string LocalTime(std::int64_t seconds);
// "%08x", as the device list shows it.
std::string DeviceId(std::uint32_t id);
// The cells joined by commas, and the line's end.
void AppendRow(std::string& out, std::initializer_list<std::string> cells);

}  // namespace pelmora::store::csv
