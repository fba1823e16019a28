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

inline constexpr std::size_t kMaxWireMessage = 4096;  // one message sent, counted on the wire
inline constexpr std::size_t kRegistrationMinLength = 21;
inline constexpr std::uint8_t kHeartbeatByte = 0xFE;
inline constexpr std::uint8_t kEscapeByte = 0xFD;
// The most bytes one queued packet carries. Callers skip a packet of 4096
// bytes as one that was cut off, so the stream is never cut into one.
inline constexpr std::size_t kMaxPacketData = 4095;

struct Registration {
    std::uint32_t deviceId = 0;
    std::array<char, 12> simNumber{};  // 11 characters and a NUL
    std::array<std::uint8_t, 4> address{};
};

// Reads the first message of a connection. Empty when it is shorter than 21
// bytes or its byte 15 is not the SIM number's terminator 0x00.
std::optional<Registration> ParseRegistration(const std::uint8_t* bytes, std::size_t count);

// Escapes `count` plain bytes into `out`, which holds kMaxWireMessage bytes,
// and returns the number of bytes written. Empty when the escaped form would
// be longer than kMaxWireMessage: a message is sent whole or not at all.
std::optional<std::size_t> EscapeForSend(const std::uint8_t* in, std::size_t count,
                                         std::uint8_t* out);

// Un-escapes `count` bytes of one message into `out`, which must hold `count`
// bytes. A 0xFD that does not start a known pair is kept as it is. Returns
// the number of plain bytes, never more than `count`.
std::size_t Unescape(const std::uint8_t* in, std::size_t count, std::uint8_t* out);

// Un-escapes what one connection receives after its registration, receive
// by receive. TCP keeps no message boundaries: a receive may hold several
// messages, part of one, or heartbeats between them, so every byte counts
// whatever receive it came in. Escaping keeps 0xFE out of every message, so a
// plain 0xFE on the wire is always a heartbeat and never reaches the output.
// A 0xFD at the end of a receive may start a pair whose second byte comes in
// the next one; it is held until then. Each plain byte comes from at most
// one received byte, the held one included, so `count` + 1 bytes of room
// always take a whole receive.
class StreamDecoder final {
  public:
    struct Step {
        std::size_t consumed;  // received bytes used
        std::size_t produced;  // plain bytes written
    };
    // Decodes received bytes into `out` until they are used up or `room`
    // (at least 2) would not hold the next plain bytes.
    Step Decode(const std::uint8_t* in, std::size_t count, std::uint8_t* out, std::size_t room);
    // At the end of the stream: writes the held 0xFD, if any, as it is.
    // Returns 0 or 1.
    std::size_t Flush(std::uint8_t* out);
    void Reset() { heldEscape_ = false; }

  private:
    bool heldEscape_ = false;
};

}  // namespace dovrik
