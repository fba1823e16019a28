#include "SocketPlatform.h"

#include <dirent.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <cerrno>
#include <limits>

namespace dovrik::platform {

namespace detail {

long SendSome(NativeSocket socket, const std::uint8_t* data, std::size_t length) {
    for (;;) {
        const ssize_t n = ::send(socket, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) return static_cast<long>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        return -1;
    }
}

void WaitWritable(NativeSocket socket, std::chrono::milliseconds limit) {
    pollfd p{socket, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(limit.count()));
}

bool IsOutOfDescriptorsCode(int code) {
    return code == EMFILE || code == ENFILE;
}

}  // namespace detail

void SetAbortiveClose(NativeSocket socket) {
    const linger option{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

std::error_code SetListenerBindRule(NativeSocket socket) {
    // Here address reuse only lets a bind through past connections waiting
    // out their close; a listening socket still holds its port.
    const int on = 1;
    if (::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return {errno, std::system_category()};
    }
    return {};
}

bool UnannouncedPeersWaiting(NativeSocket /*listener*/) {
    return false;  // the accept event's wait for readability tells
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

std::size_t OpenDescriptorCount() {
    // Linux lists them; elsewhere they are not counted.
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) return 0;
    std::size_t count = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(folder);
    return count > 0 ? count - 1 : 0;  // less the one the listing itself holds
}

}  // namespace dovrik::platform
