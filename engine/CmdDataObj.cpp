#include "CmdDataObj.h"

#include <algorithm>
#include <cstring>

namespace pelmora {

namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 8 | p[1];
}

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// The sum of bytes 1 .. count-3 must equal byte count-2.
bool ChecksumHolds(const std::uint8_t* bytes, std::size_t count) {
    return CCmdDataObj::SumBytes(bytes + 1, count - 3) == bytes[count - 2];
}

constexpr std::uint8_t kStart = 0x02;
constexpr std::uint8_t kProtocolHigh = 0x11;
constexpr std::uint8_t kProtocolLow = 0x01;
constexpr std::uint8_t kEnd = 0x03;
// Where the payload starts in each form.
constexpr std::size_t kShortPayloadAt = 15;
constexpr std::size_t kLongPayloadAt = 23;

}  // namespace

void CCmdDataObj::Reset() {
    *this = CCmdDataObj();
}

void CCmdDataObj::SetFields(std::uint32_t id, std::uint16_t code, std::int32_t count,
                            std::int32_t index, const FrameTimestamp& stamp,
                            const std::uint8_t* bytes, std::size_t length) {
    deviceId = id;
    command = code;
    frameCount = count;
    frameIndex = index;
    timestamp = stamp;
    const std::size_t kept = std::min(length, kPayloadCapacity);
    if (kept > 0 && bytes != nullptr) std::memcpy(payload.data(), bytes, kept);
    payloadLength = static_cast<std::int32_t>(kept);
}

std::size_t CCmdDataObj::Pack(std::uint8_t* out, std::size_t capacity) const {
    const auto n = static_cast<std::size_t>(std::max(payloadLength, 0));
    const bool shortForm = frameCount == 1;
    const std::size_t total = n + (shortForm ? kShortOverhead : kLongOverhead);
    if (n > kMaxPackedPayload || total > capacity || out == nullptr) return 0;

    out[0] = startByte;
    Put16(out + 1, protocolWord);
    Put16(out + 3, static_cast<std::uint32_t>(total - 7));
    Put32(out + 5, deviceId);
    Put16(out + 9, command);
    std::size_t at = 11;
    if (shortForm) {
        Put16(out + at, 0);
        at += 2;
    } else {
        Put16(out + at, kLongOptionLength);
        out[at + 2] = static_cast<std::uint8_t>(frameCount);
        out[at + 3] = static_cast<std::uint8_t>(frameIndex);
        std::memcpy(out + at + 4, timestamp.data(), timestamp.size());
        at += 10;
    }
    Put16(out + at, static_cast<std::uint32_t>(n));
    at += 2;
    if (n > 0) std::memcpy(out + at, payload.data(), n);
    at += n;
    out[at] = SumBytes(out + 1, at - 1);
    out[at + 1] = endByte;
    return at + 2;
}

bool CCmdDataObj::ReadHeader(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count < kShortOverhead || !ChecksumHolds(bytes, count)) return false;
    startByte = bytes[0];
    protocolWord = static_cast<std::uint16_t>(Get16(bytes + 1));
    deviceId = Get32(bytes + 5);
    command = static_cast<std::uint16_t>(Get16(bytes + 9));
    return true;
}

int CCmdDataObj::UnpackResult(const std::uint8_t* bytes, std::size_t count) {
    if (!ReadHeader(bytes, count)) return -1;
    // The answer's own option length tells its form: a long-form answer
    // carries count, index and timestamp before its payload, and reading the
    // short form's offset there would take the year for the result.
    if (Get16(bytes + 11) == kLongOptionLength) {
        if (count < kLongOverhead) return -1;
        return static_cast<std::int8_t>(bytes[kLongPayloadAt]);
    }
    return static_cast<std::int8_t>(bytes[kShortPayloadAt]);
}

int CCmdDataObj::UnpackHeader(const std::uint8_t* bytes, std::size_t count) {
    return ReadHeader(bytes, count) ? 1 : -1;
}

int CCmdDataObj::UnpackVersion(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count < kShortOverhead + kVersionPayload ||
        bytes[14] != kVersionPayload) {
        return -1;
    }
    if (!ReadHeader(bytes, count)) return -1;
    std::memcpy(payload.data(), bytes + 15, kVersionPayload);
    payloadLength = static_cast<std::int32_t>(kVersionPayload);
    return static_cast<int>(kVersionPayload);
}

std::uint8_t CCmdDataObj::SumBytes(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

std::vector<std::uint8_t> PackFrame(std::uint32_t deviceId, std::uint16_t command,
                                    const std::vector<std::uint8_t>& payload,
                                    std::int32_t frameCount, std::int32_t frameIndex,
                                    const FrameTimestamp& timestamp) {
    CCmdDataObj frame;
    frame.SetFields(deviceId, command, frameCount, frameIndex, timestamp, payload.data(),
                    payload.size());
    std::vector<std::uint8_t> out(payload.size() + CCmdDataObj::kLongOverhead);
    out.resize(frame.Pack(out.data(), out.size()));
    return out;
}

void FrameStream::Append(const std::uint8_t* bytes, std::size_t count) {
    buffer_.insert(buffer_.end(), bytes, bytes + count);
}

std::optional<std::vector<std::uint8_t>> FrameStream::Next(std::string* skipped) {
    std::size_t at = 0;
    const auto skip = [&] {
        if (skipped != nullptr) skipped->push_back(static_cast<char>(buffer_[at]));
        ++at;
    };
    std::optional<std::vector<std::uint8_t>> found;
    while (at < buffer_.size()) {
        const std::size_t left = buffer_.size() - at;
        const std::uint8_t* p = buffer_.data() + at;
        // A frame starts with 02 11 01; a shorter tail that may still become
        // one is kept.
        if (p[0] != kStart || (left > 1 && p[1] != kProtocolHigh) ||
            (left > 2 && p[2] != kProtocolLow)) {
            skip();
            continue;
        }
        if (left < 5) break;
        const std::size_t total = Get16(p + 3) + 7;
        if (total < CCmdDataObj::kShortOverhead || total > kMaxFrame) {
            skip();
            continue;
        }
        if (left < total) break;
        if (p[total - 1] != kEnd || !ChecksumHolds(p, total)) {
            skip();  // not a frame after all, or a damaged one
            continue;
        }
        found.emplace(p, p + total);
        at += total;
        break;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(at));
    return found;
}

std::string FrameStream::TakeText() {
    std::string text;
    while (Next(&text)) {
    }
    return text;
}

bool IsStatusMessage(const std::uint8_t* p, std::size_t length) {
    return p != nullptr && length >= kStatusMessageLength && p[0] == 0x02 && p[1] == 0x11 &&
           p[2] == 0x01 && p[10] == 0x02 && p[11] == 0x00 && p[13] == 0x00 && p[14] == 0x02 &&
           p[18] == 0x03;
}

}  // namespace pelmora
