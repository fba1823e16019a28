#include "SocketPlatform.h"

#include <algorithm>

#include <asio/error_code.hpp>

namespace dovrik::platform {

namespace {

using Clock = std::chrono::steady_clock;

// How often a writer waiting for room looks whether its connection was closed.
constexpr std::chrono::milliseconds kClosingCheck{100};

}  // namespace

WriteOutcome WriteUntil(NativeSocket socket, const std::uint8_t* data, std::size_t length,
                        Clock::time_point deadline, const std::atomic<bool>& closing) {
    std::size_t sent = 0;
    while (sent < length) {
        const long n = detail::SendSome(socket, data + sent, length - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0) return WriteOutcome::Failed;
        if (closing.load()) return WriteOutcome::Closed;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero()) {
            return sent > 0 ? WriteOutcome::TimedOut : WriteOutcome::NotWritten;
        }
        detail::WaitWritable(socket, std::min(left, kClosingCheck));
    }
    return WriteOutcome::Written;
}

bool IsOutOfDescriptors(const std::error_code& error) {
    // Compared by address: this runs when the process may have no descriptor
    // left, where even a sanitizer's check of a virtual call can fail.
    const std::error_category* category = &error.category();
    const bool systemError =
        category == &asio::system_category() || category == &std::system_category();
    return systemError && detail::IsOutOfDescriptorsCode(error.value());
}

}  // namespace dovrik::platform
