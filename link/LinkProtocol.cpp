#include "LinkProtocol.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Where the run of plain bytes at `from` ends: at the first byte of 0xFD or
// more (an escape byte, a heartbeat, or 0xFF, which is plain but rare), or
// at `to`.
std::size_t PlainRunEnd(const std::uint8_t* in, std::size_t from, std::size_t to) {
    std::size_t end = from;
#if defined(__SSE2__)
    // A byte is 0xFD or more when the larger of it and 0xFD is itself.
    const __m128i reserved = _mm_set1_epi8(static_cast<char>(kEscapeByte));
    while (end + 16 <= to) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + end));
        const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(bytes, reserved), bytes));
        if (hits != 0)
            return end + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
        end += 16;
    }
#endif
    while (end < to && in[end] < kEscapeByte) ++end;
    return end;
}

}  // namespace

StreamDecoder::Step StreamDecoder::Decode(const std::uint8_t* in, std::size_t count,
                                          std::uint8_t* out, std::size_t room) {
    std::size_t produced = 0;
    std::size_t i = 0;
    while (i < count) {
        // Most bytes are plain: copy their run at once.
        if (!heldEscape_) {
            const std::size_t end = PlainRunEnd(in, i, i + std::min(count - i, room - produced));
            std::memcpy(out + produced, in + i, end - i);
            produced += end - i;
            i = end;
            if (i == count) break;
        }
        // The next byte writes two plain bytes at most.
        if (room - produced < 2) break;
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
    return {i, produced};
}

std::size_t StreamDecoder::Flush(std::uint8_t* out) {
    if (!std::exchange(heldEscape_, false)) return 0;
    out[0] = kEscapeByte;
    return 1;
}

}  // namespace dovrik
