// The binary control frame between centre and terminal: play content, MP3
// play and stop, version query, upgrade parameters, restart, and the
// terminal's status message with its answer.
//
// Wire forms (big-endian numbers; the link escaping comes on top):
//   short (frameCount 1): 02 11 01 | L=n+10 (2) | device ID (4) | command (2)
//                         | 00 00 | n (2) | payload (n) | checksum | 03
//   long  (otherwise):    02 11 01 | L=n+18 (2) | device ID (4) | command (2)
//                         | 00 08 | count | index | timestamp (6) | n (2)
//                         | payload (n) | checksum | 03
// The checksum is the sum modulo 256 of every byte from offset 1 up to the
// last payload byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelmora {

// Command codes. A request has the top bit set; the answer has it cleared.
enum FrameCommand : std::uint16_t {
    kPlayContentRequest = 0x8001,
    kPlayContentAnswer = 0x0001,
    kPlayMp3Request = 0x8101,
    kPlayMp3Answer = 0x0101,
    kStopMp3Request = 0x8102,
    kStopMp3Answer = 0x0102,
    kVersionRequest = 0x8201,
    kVersionAnswer = 0x0201,
    kUpgradeRequest = 0xFF01,
    kUpgradeAnswer = 0x7F01,
    kRestartRequest = 0x81A0,
    kRestartAnswer = 0x01A0,
    kStatusMessage = 0x0202,
    kStatusAnswer = 0x8202,
};

using FrameTimestamp = std::array<std::uint8_t, 6>;  // year % 256, month, day, h, m, s

class CCmdDataObj {
  public:
    static constexpr std::size_t kPayloadCapacity = 2048;
    static constexpr std::size_t kMaxPackedPayload = 1451;
    static constexpr std::size_t kShortOverhead = 17;
    static constexpr std::size_t kLongOverhead = 25;
    static constexpr std::size_t kVersionPayload = 80;
    static constexpr std::uint16_t kLongOptionLength = 8;  // offset 11; 0 in the short form

    CCmdDataObj() = default;
    virtual ~CCmdDataObj() = default;

    void Reset();
    // Stores every field; at most kPayloadCapacity payload bytes are copied.
    void SetFields(std::uint32_t deviceId, std::uint16_t command, std::int32_t frameCount,
                   std::int32_t frameIndex, const FrameTimestamp& timestamp,
                   const std::uint8_t* payload, std::size_t payloadLength);
    // Writes the frame; 0 (nothing written) when the payload is over 1451
    // bytes or the frame does not fit `capacity`.
    std::size_t Pack(std::uint8_t* out, std::size_t capacity) const;

    // -1 unless at least 17 bytes with a good checksum; otherwise stores the
    // header fields and returns the first payload byte as a signed value:
    // offset 15 in the short form, 23 in the long form (option length 8,
    // which needs at least 25 bytes).
    int UnpackResult(const std::uint8_t* bytes, std::size_t count);
    // The same checks and fields; 1 or -1.
    int UnpackHeader(const std::uint8_t* bytes, std::size_t count);
    // 80 for at least 97 bytes, an 80-byte payload and a good checksum; the
    // payload is then copied. -1 otherwise.
    int UnpackVersion(const std::uint8_t* bytes, std::size_t count);

    static std::uint8_t SumBytes(const std::uint8_t* bytes, std::size_t count);

    std::uint8_t startByte = 0x02;
    std::uint16_t protocolWord = 0x1101;
    std::uint8_t endByte = 0x03;
    std::uint32_t deviceId = 0;
    std::uint16_t command = 0;
    std::array<std::uint8_t, kPayloadCapacity> payload{};
    std::int32_t frameCount = 1;
    std::int32_t frameIndex = 0;
    FrameTimestamp timestamp{};
    std::int32_t payloadLength = 0;

  private:
    bool ReadHeader(const std::uint8_t* bytes, std::size_t count);
};

// Packs a frame into a vector: the short form when frameCount is 1.
std::vector<std::uint8_t> PackFrame(std::uint32_t deviceId, std::uint16_t command,
                                    const std::vector<std::uint8_t>& payload,
                                    std::int32_t frameCount = 1, std::int32_t frameIndex = 0,
                                    const FrameTimestamp& timestamp = {});

// The terminal's status message: a short frame of at least 19 bytes whose
// header, answer code 0x0202 and end byte are in place (the checksum is not
// looked at). Its byte 15 tells the power: bit 0 set is battery.
inline constexpr std::size_t kStatusMessageLength = 19;
bool IsStatusMessage(const std::uint8_t* bytes, std::size_t length);

// Cuts whole frames out of a byte stream that may hold partial frames, text
// and several frames at once: a frame is taken by its length field once all
// of it has arrived; bytes that cannot start a frame are skipped; a frame with
// a wrong checksum or end byte is dropped.
class FrameStream {
  public:
    static constexpr std::size_t kMaxFrame =
        CCmdDataObj::kLongOverhead + CCmdDataObj::kPayloadCapacity;

    void Append(const std::uint8_t* bytes, std::size_t count);
    // The next whole, well-formed frame, if one has arrived. The bytes passed
    // by on the way (text, damaged frames) go to `skipped` when given; a tail
    // that may still become a frame stays for the next call.
    std::optional<std::vector<std::uint8_t>> Next(std::string* skipped = nullptr);
    // Everything that is not a frame, up to a tail that may still become one.
    std::string TakeText();
    std::size_t Pending() const { return buffer_.size(); }
    void Clear() { buffer_.clear(); }

  private:
    std::vector<std::uint8_t> buffer_;
};

}  // namespace pelmora
