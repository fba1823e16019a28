// Small helpers shared by the command-line tools.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dovrik::cli {

// Whole-string conversions; empty when the text is not a number in range.
std::optional<long long> ParseInteger(std::string_view text, long long min, long long max,
                                      int base = 10);
std::optional<std::uint16_t> ParsePort(std::string_view text);

// Bytes as text: printable ASCII as is, anything else as \xNN.
std::string Printable(const std::uint8_t* data, std::size_t count);

// Sets a flag on SIGINT and SIGTERM.
void InstallStopSignals();
bool StopRequested();

}  // namespace dovrik::cli
