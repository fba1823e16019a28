#include "CommandLine.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace dovrik::cli {

namespace {
std::atomic<bool> stopRequested{false};
extern "C" void OnStopSignal(int) {
    stopRequested = true;
}
}  // namespace

std::optional<long long> ParseInteger(std::string_view text, long long min, long long max,
                                      int base) {
    if (text.empty() || text.size() > 32) return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), &end, base);
    if (errno != 0 || end != copy.c_str() + copy.size() || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    const auto value = ParseInteger(text, 1, 65535);
    if (!value) return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

std::string Printable(const std::uint8_t* data, std::size_t count) {
    std::string text;
    text.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            text.push_back(static_cast<char>(b));
        } else if (b == '\r') {
            text += "\\r";
        } else if (b == '\n') {
            text += "\\n";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            text += hex;
        }
    }
    return text;
}

void InstallStopSignals() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() {
    return stopRequested.load();
}

}  // namespace dovrik::cli
