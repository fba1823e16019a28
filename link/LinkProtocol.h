// The terminal link protocol as the library sees it: the registration message
// that opens a connection, the one-byte heartbeat, and the byte stuffing that
// keeps 0xFD and 0xFE out of every other message. Pure functions, no sockets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Dovrik.h"

namespace dovrik {

inline constexpr std::size_t kMaxWireMessage = 4096;  // both directions, counted on the wire
inline constexpr std::size_t kRegistrationMinLength = 21;
inline constexpr std::uint8_t kHeartbeatByte = 0xFE;
inline constexpr std::uint8_t kEscapeByte = 0xFD;

struct Registration {
    std::uint32_t deviceId = 0;
    std::array<char, 12> simNumber{};  // 11 characters and a NUL
    std::array<std::uint8_t, 4> address{};
};

// Reads the first message of a connection. Empty when it is shorter than 21
// bytes or its byte 15 is not the SIM number's terminator 0x00.
std::optional<Registration> ParseRegistration(const std::uint8_t* bytes, std::size_t count);

// A receive of exactly the byte 0xFE.
bool IsHeartbeat(const std::uint8_t* bytes, std::size_t count);

// What a receive on a registered connection is. A heartbeat and a receive of
// more than kMaxWireMessage bytes only prove the terminal alive; anything else
// (one byte or more) is a message to un-escape and queue.
enum class ReceiveKind { Heartbeat, TooLong, Message };
ReceiveKind ClassifyReceive(const std::uint8_t* bytes, std::size_t count);

// The queued form of a receive: its un-escaped bytes, a NUL after them, their
// count and valid = 1. False, with the packet untouched, unless the receive
// is a message.
bool MakePacket(std::uint32_t deviceId, std::uint32_t receiveTime, const std::uint8_t* bytes,
                std::size_t count, _PACKET& packet);

// Escapes `count` plain bytes into `out`, which holds kMaxWireMessage bytes.
// Output stops at kMaxWireMessage bytes, even in the middle of a pair.
// Returns the number of bytes written.
std::size_t EscapeForSend(const std::uint8_t* in, std::size_t count, std::uint8_t* out);

// Un-escapes `count` received bytes into `out`, which must hold `count` bytes.
// A 0xFD that does not start a known pair is kept as it is. Returns the number
// of plain bytes, never more than `count`.
std::size_t Unescape(const std::uint8_t* in, std::size_t count, std::uint8_t* out);

}  // namespace dovrik
