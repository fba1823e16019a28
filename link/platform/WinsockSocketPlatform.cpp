#include "SocketPlatform.h"

#include <winsock2.h>

#include <algorithm>
#include <climits>
#include <limits>

namespace dovrik::platform {

namespace detail {

long SendSome(NativeSocket socket, const std::uint8_t* data, std::size_t length) {
    // The socket is non-blocking (Asio's non_blocking(true)), and Windows has
    // no SIGPIPE to suppress.
    const int chunk = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
    const int n =
        ::send(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(data), chunk, 0);
    if (n > 0) return n;
    if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
    return -1;
}

void WaitWritable(NativeSocket socket, std::chrono::milliseconds limit) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(static_cast<SOCKET>(socket), &writable);
    timeval wait{static_cast<long>(limit.count() / 1000),
                 static_cast<long>((limit.count() % 1000) * 1000)};
    ::select(0, nullptr, &writable, nullptr, &wait);
}

// No socket handle left for the process, or no buffer space for a new one.
bool IsOutOfDescriptorsCode(int code) {
    return code == WSAEMFILE || code == WSAENOBUFS;
}

}  // namespace detail

void SetAbortiveClose(NativeSocket socket) {
    const linger option{1, 0};
    ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&option), sizeof option);
}

std::error_code SetListenerBindRule(NativeSocket socket) {
    // Windows binds a port again past closed connections without any option,
    // while its address reuse would let a second socket take a port another
    // one listens on. Exclusive use refuses that, as the POSIX rule does.
    const BOOL on = TRUE;
    if (::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<const char*>(&on), sizeof on) != 0) {
        return {::WSAGetLastError(), std::system_category()};
    }
    return {};
}

bool UnannouncedPeersWaiting(NativeSocket listener) {
    // A listening socket is readable when a connection waits that no posted
    // accept has taken.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(listener), &readable);
    timeval now{0, 0};
    return ::select(0, &readable, nullptr, nullptr, &now) > 0;
}

std::size_t RaiseDescriptorLimit() {
    // Sockets are handles here, bounded by memory rather than by a limit
    // that a process could raise.
    return std::numeric_limits<std::size_t>::max();
}

std::size_t OpenDescriptorCount() {
    return 0;
}

}  // namespace dovrik::platform
