#include "SocketPlatform.h"

#include <algorithm>

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
        if (left <= std::chrono::milliseconds::zero()) return WriteOutcome::TimedOut;
        detail::WaitWritable(socket, std::min(left, kClosingCheck));
    }
    return WriteOutcome::Written;
}

}  // namespace dovrik::platform
