#include "LinkProtocol.h"

#include <cstring>
#include <utility>

namespace dovrik {

namespace {
constexpr std::uint8_t kEscapedEscape = 0xED;     // 0xFD 0xED stands for 0xFD
constexpr std::uint8_t kEscapedHeartbeat = 0xEE;  // 0xFD 0xEE stands for 0xFE
constexpr std::size_t kSimOffset = 4;
constexpr std::size_t kSimLength = 11;
constexpr std::size_t kTerminatorOffset = 15;
constexpr std::size_t kAddressOffset = 16;
}  // namespace

std::optional<Registration> ParseRegistration(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count < kRegistrationMinLength || bytes[kTerminatorOffset] != 0) {
        return std::nullopt;
    }
    Registration r;
    r.deviceId = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                 static_cast<std::uint32_t>(bytes[2]) << 16 |
                 static_cast<std::uint32_t>(bytes[3]) << 24;
    std::memcpy(r.simNumber.data(), bytes + kSimOffset, kSimLength);
    r.simNumber[kSimLength] = '\0';
    std::memcpy(r.address.data(), bytes + kAddressOffset, r.address.size());
    return r;
}

std::optional<std::size_t> EscapeForSend(const std::uint8_t* in, std::size_t count,
                                         std::uint8_t* out) {
    std::size_t written = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = in[i];
        const bool pair = b == kEscapeByte || b == kHeartbeatByte;
        if (written + (pair ? 2 : 1) > kMaxWireMessage) return std::nullopt;
        if (pair) {
            out[written++] = kEscapeByte;
            out[written++] = (b == kEscapeByte) ? kEscapedEscape : kEscapedHeartbeat;
        } else {
            out[written++] = b;
        }
    }
    return written;
}

std::size_t Unescape(const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    std::size_t produced = 0;
    std::size_t i = 0;
    while (i + 1 < count) {
        if (in[i] == kEscapeByte && in[i + 1] == kEscapedEscape) {
            out[produced++] = kEscapeByte;
            i += 2;
        } else if (in[i] == kEscapeByte && in[i + 1] == kEscapedHeartbeat) {
            out[produced++] = kHeartbeatByte;
            i += 2;
        } else {
            out[produced++] = in[i++];
        }
    }
    if (i < count) out[produced++] = in[i];  // the last byte, not consumed by a pair
    return produced;
}

namespace {

// True when one of the eight bytes of `word` is 0xFD or more: an escape
// byte, a heartbeat, or 0xFF. For each byte b, (b & 0x7F) + 3 carries into
// the top bit exactly when b & 0x7F >= 0x7D, and never into the next byte.
bool HasReservedByte(std::uint64_t word) {
    constexpr std::uint64_t kLow = 0x7F7F7F7F7F7F7F7Full;
    constexpr std::uint64_t kThree = 0x0303030303030303ull;
    constexpr std::uint64_t kTop = 0x8080808080808080ull;
    return (word & ((word & kLow) + kThree) & kTop) != 0;
}

}  // namespace

std::size_t StreamDecoder::Decode(const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    std::size_t produced = 0;
    std::size_t i = 0;
    while (i < count) {
        // Most bytes are plain: copy them eight at a time.
        if (!heldEscape_) {
            std::uint64_t word = 0;
            while (i + sizeof word <= count) {
                std::memcpy(&word, in + i, sizeof word);
                if (HasReservedByte(word)) break;
                std::memcpy(out + produced, &word, sizeof word);
                produced += sizeof word;
                i += sizeof word;
            }
            if (i == count) break;
        }
        const std::uint8_t b = in[i++];
        if (std::exchange(heldEscape_, false)) {
            if (b == kEscapedEscape) {
                out[produced++] = kEscapeByte;
                continue;
            }
            if (b == kEscapedHeartbeat) {
                out[produced++] = kHeartbeatByte;
                continue;
            }
            out[produced++] = kEscapeByte;  // a stray escape byte stays as it is
        }
        if (b == kHeartbeatByte) continue;
        if (b == kEscapeByte) {
            heldEscape_ = true;
        } else {
            out[produced++] = b;
        }
    }
    return produced;
}

std::size_t StreamDecoder::Flush(std::uint8_t* out) {
    if (!std::exchange(heldEscape_, false)) return 0;
    out[0] = kEscapeByte;
    return 1;
}

}  // namespace dovrik
