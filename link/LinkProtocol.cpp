#include "LinkProtocol.h"

#include <cstring>

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

bool IsHeartbeat(const std::uint8_t* bytes, std::size_t count) {
    return count == 1 && bytes[0] == kHeartbeatByte;
}

ReceiveKind ClassifyReceive(const std::uint8_t* bytes, std::size_t count) {
    if (IsHeartbeat(bytes, count)) return ReceiveKind::Heartbeat;
    if (count > kMaxWireMessage) return ReceiveKind::TooLong;
    return ReceiveKind::Message;
}

bool MakePacket(std::uint32_t deviceId, std::uint32_t receiveTime, const std::uint8_t* bytes,
                std::size_t count, _PACKET& packet) {
    static_assert(sizeof packet.data > kMaxWireMessage, "room for the message and its NUL");
    if (bytes == nullptr || count == 0 || ClassifyReceive(bytes, count) != ReceiveKind::Message) {
        return false;
    }
    packet.deviceId = deviceId;
    packet.receiveTime = receiveTime;
    const std::size_t plain = Unescape(bytes, count, packet.data);
    packet.data[plain] = 0;
    packet.length = static_cast<std::uint16_t>(plain);
    packet.valid = 1;
    std::memset(packet.reserved, 0, sizeof packet.reserved);
    return true;
}

std::size_t EscapeForSend(const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    std::size_t written = 0;
    for (std::size_t i = 0; i < count && written < kMaxWireMessage; ++i) {
        const std::uint8_t b = in[i];
        if (b == kEscapeByte || b == kHeartbeatByte) {
            out[written++] = kEscapeByte;
            if (written == kMaxWireMessage) break;  // the pair's second byte is cut off
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

}  // namespace dovrik
