// The terminal link protocol as the library sees it: the registration message
// that opens a connection, the one-byte heartbeat, and the byte stuffing that
// keeps 0xFD and 0xFE out of every other message. Pure functions, no sockets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

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

// Escapes `count` plain bytes into `out`, which holds kMaxWireMessage bytes.
// Output stops at kMaxWireMessage bytes, even in the middle of a pair.
// Returns the number of bytes written.
std::size_t EscapeForSend(const std::uint8_t* in, std::size_t count, std::uint8_t* out);

// Un-escapes `count` received bytes into `out`, which must hold `count` bytes.
// A 0xFD that does not start a known pair is kept as it is. Returns the number
// of plain bytes, never more than `count`.
std::size_t Unescape(const std::uint8_t* in, std::size_t count, std::uint8_t* out);

}  // namespace dovrik
