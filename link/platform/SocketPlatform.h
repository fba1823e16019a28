// What the link needs of the operating system beyond Asio: a write that gives
// up at a deadline, the abortive close, the listening port's bind rule and the
// process's descriptor limit. Each platform has its own twin of the primitives
// (PosixSocketPlatform.cpp, WinsockSocketPlatform.cpp); what is built on them
// (SocketPlatform.cpp) is the same for both. Nothing else in the link
// calls the socket layer directly.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <system_error>

namespace dovrik::platform {

#if defined(_WIN32)
using NativeSocket = std::uintptr_t;  // SOCKET
#else
using NativeSocket = int;
#endif

enum class WriteOutcome { Written, Closed, Failed, TimedOut, NotWritten };

// Writes all `length` bytes to a non-blocking socket, waiting for room in its
// send buffer until `deadline`. Closed as soon as `closing` is seen set while
// waiting; Failed on a socket error; when the deadline passes first, TimedOut
// if part of the bytes went out, NotWritten if none did.
WriteOutcome WriteUntil(NativeSocket socket, const std::uint8_t* data, std::size_t length,
                        std::chrono::steady_clock::time_point deadline,
                        const std::atomic<bool>& closing);

// Makes the socket's close reset the connection at once (the peer sees a
// reset, unsent bytes are dropped) instead of an orderly shutdown.
void SetAbortiveClose(NativeSocket socket);

// Sets the listening socket's bind rule, before binding: a restart binds the
// port again although connections of the last run may still wait out their
// close, yet a port another socket listens on stays refused.
std::error_code SetListenerBindRule(NativeSocket socket);

// True when connections wait in the listening socket's backlog with no posted
// accept left to take them, on a platform where Asio's wait for readability
// cannot tell (Windows: Asio waits there with a zero-byte receive, which a
// listening socket refuses). Always false where that wait tells. Never blocks.
bool UnannouncedPeersWaiting(NativeSocket listener);

// Raises the process's soft limit of open descriptors to its hard limit and
// returns the soft limit then in force (the largest size_t where there is no
// such limit).
std::size_t RaiseDescriptorLimit();

// Descriptors the process holds now; 0 where they are not bounded or cannot
// be counted.
std::size_t OpenDescriptorCount();

// True for an accept that failed because the process or the system has no
// descriptor left.
bool IsOutOfDescriptors(const std::error_code& error);

// The primitives under WriteUntil and IsOutOfDescriptors.
namespace detail {

// One non-blocking send. The number of bytes taken (more than 0); 0 when the
// send buffer is full; -1 on a socket error.
long SendSome(NativeSocket socket, const std::uint8_t* data, std::size_t length);

// Waits at most `limit` for room in the socket's send buffer.
void WaitWritable(NativeSocket socket, std::chrono::milliseconds limit);

// True for the system's codes of "no descriptor left".
bool IsOutOfDescriptorsCode(int code);

}  // namespace detail

}  // namespace dovrik::platform
