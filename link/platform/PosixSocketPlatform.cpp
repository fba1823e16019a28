#include "SocketPlatform.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <limits>

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
        const ssize_t n = ::send(socket, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return WriteOutcome::Failed;
        if (closing.load()) return WriteOutcome::Closed;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero()) return WriteOutcome::TimedOut;
        pollfd p{socket, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(std::min(left, kClosingCheck).count()));
    }
    return WriteOutcome::Written;
}

void SetAbortiveClose(NativeSocket socket) {
    const linger option{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

std::size_t RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > std::numeric_limits<std::size_t>::max()) {
        return std::numeric_limits<std::size_t>::max();
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}

bool IsOutOfDescriptors(const std::error_code& error) {
    // Compared by address: this runs when the process may have no descriptor
    // left, where even a sanitizer's check of a virtual call can fail.
    const std::error_category* category = &error.category();
    const bool systemError =
        category == &asio::system_category() || category == &std::system_category();
    return systemError && (error.value() == EMFILE || error.value() == ENFILE);
}

}  // namespace dovrik::platform
