#include "SoakLedger.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

namespace soak {

namespace {

std::uint8_t PayloadByte(std::uint32_t deviceId, std::uint32_t epoch, std::uint32_t sequence,
                         std::size_t i) {
    // Every byte value turns up, 0xFD and 0xFE included, so the link's byte
    // stuffing is used all the time.
    return static_cast<std::uint8_t>(deviceId * 31u + epoch * 17u + sequence * 13u +
                                     static_cast<std::uint32_t>(i) * 7u);
}

// Whether `c` may be byte `at` of a record header.
bool FitsHeader(std::size_t at, std::uint8_t c) {
    switch (at) {
        case 0:
            return c == '<';
        case 1:
            return c == 'S';
        case 10:
        case 19:
        case 28:
            return c == ':';
        case kRecordHeader - 1:
            return c == '>';
        default:
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    }
}

std::uint32_t Hex(const std::uint8_t* p, std::size_t digits) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        value = value << 4 | static_cast<std::uint32_t>(p[i] <= '9' ? p[i] - '0' : p[i] - 'a' + 10);
    }
    return value;
}

}  // namespace

std::vector<std::uint8_t> MakeRecord(std::uint32_t deviceId, std::uint32_t epoch,
                                     std::uint32_t sequence, std::size_t payloadLength) {
    payloadLength = std::min(payloadLength, kMaxPayload);
    char header[kRecordHeader + 1];
    std::snprintf(header, sizeof header, "<S%08x:%08x:%08x:%04x>", deviceId, epoch, sequence,
                  static_cast<unsigned>(payloadLength));
    std::vector<std::uint8_t> record(header, header + kRecordHeader);
    record.reserve(kRecordHeader + payloadLength);
    for (std::size_t i = 0; i < payloadLength; ++i) {
        record.push_back(PayloadByte(deviceId, epoch, sequence, i));
    }
    return record;
}

void ReceiveLedger::Reserve(std::uint32_t firstId, std::uint32_t count, std::uint32_t epochs) {
    denseFirst_ = firstId;
    denseCount_ = count;
    denseEpochs_ = epochs;
    // Written now, so the pages are resident from the start.
    dense_.assign(static_cast<std::size_t>(count) * epochs, 0);
    denseStreams_.assign(count, Stream{});
    next_.reserve(1024);
    streams_.reserve(1024);
}

std::size_t ReceiveLedger::DenseIndex(std::uint32_t deviceId, std::uint32_t epoch) const {
    const std::uint32_t offset = deviceId - denseFirst_;
    if (deviceId < denseFirst_ || offset >= denseCount_ || epoch >= denseEpochs_) return kNotDense;
    return static_cast<std::size_t>(offset) * denseEpochs_ + epoch;
}

std::uint32_t& ReceiveLedger::Entry(std::uint32_t deviceId, std::uint32_t epoch) {
    const std::size_t i = DenseIndex(deviceId, epoch);
    return i != kNotDense ? dense_[i] : next_[Key(deviceId, epoch)];
}

std::uint32_t ReceiveLedger::Got(std::uint32_t deviceId, std::uint32_t epoch) const {
    const std::size_t i = DenseIndex(deviceId, epoch);
    if (i != kNotDense) return dense_[i];
    const auto it = next_.find(Key(deviceId, epoch));
    return it == next_.end() ? 0 : it->second;
}

template <typename F>
void ReceiveLedger::ForEachConnection(F f) const {
    for (std::size_t i = 0; i < dense_.size(); ++i) {
        if (dense_[i] == 0) continue;
        f(denseFirst_ + static_cast<std::uint32_t>(i / denseEpochs_),
          static_cast<std::uint32_t>(i % denseEpochs_), dense_[i]);
    }
    for (const auto& [key, got] : next_) {
        f(static_cast<std::uint32_t>(key >> 32), static_cast<std::uint32_t>(key), got);
    }
}

ReceiveLedger::Stream& ReceiveLedger::StreamOf(std::uint32_t deviceId) {
    const std::uint32_t offset = deviceId - denseFirst_;
    if (deviceId >= denseFirst_ && offset < denseStreams_.size()) return denseStreams_[offset];
    return streams_[deviceId];
}

void ReceiveLedger::Take(std::uint32_t deviceId, const std::uint8_t* data, std::size_t length) {
    ++messages_;
    if (data == nullptr) length = 0;
    Stream& s = StreamOf(deviceId);
    const std::uint64_t recordsBefore = records_;
    bool carried = s.headerBytes > 0;  // the record under way began in an earlier message
    std::size_t start = 0;             // where it began otherwise
    std::size_t pos = 0;
    while (pos < length) {
        if (s.headerBytes == 0) {
            const void* at = std::memchr(data + pos, '<', length - pos);
            const std::size_t next =
                at == nullptr
                    ? length
                    : static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - data);
            otherBytes_ += next - pos;
            if (next == length) break;
            carried = false;
            start = next;
            s.header[0] = '<';
            s.headerBytes = 1;
            pos = next + 1;
            continue;
        }
        if (s.headerBytes < kRecordHeader) {
            while (pos < length && s.headerBytes < kRecordHeader &&
                   FitsHeader(s.headerBytes, data[pos])) {
                s.header[s.headerBytes++] = data[pos++];
            }
            if (s.headerBytes < kRecordHeader) {
                if (pos == length) break;  // the header goes on in the next packet
                pos = BreakOff(s, carried, pos, start);
                continue;
            }
            HeaderRead(s, deviceId);
        }
        const Header& h = s.record;
        while (pos < length && s.payloadRead < h.length &&
               data[pos] == PayloadByte(h.deviceId, h.epoch, h.sequence, s.payloadRead)) {
            ++pos;
            ++s.payloadRead;
        }
        if (s.payloadRead == h.length) {
            RecordRead(s, deviceId, carried);
        } else if (pos < length) {
            pos = BreakOff(s, carried, pos, start);
        }
    }
    if (records_ - recordsBefore > 1) ++glued_;
}

std::size_t ReceiveLedger::BreakOff(Stream& s, bool carried, std::size_t pos, std::size_t start) {
    const bool lone = s.headerBytes == 1;  // a '<' without 'S' began no record
    s.headerBytes = 0;
    if (lone) {
        ++otherBytes_;
        return pos;
    }
    if (!carried) {
        ++damaged_;
        return start + 1;
    }
    // This message may be where a newer connection's stream begins, its first
    // bytes only happening to match: one that matched the payload may be the
    // '<' of that connection's first record. It is read again from its start;
    // what matched holds no other "<S" (header bytes are no '<', and payload
    // bytes step by 7, never from '<' to 'S').
    s.brokeOff = true;
    s.brokeOffEpoch = s.epoch;
    return 0;
}

void ReceiveLedger::HeaderRead(Stream& s, std::uint32_t deviceId) {
    // Every byte was checked on its way in.
    Header& h = s.record;
    h.deviceId = Hex(s.header + 2, 8);
    h.epoch = Hex(s.header + 11, 8);
    h.sequence = Hex(s.header + 20, 8);
    h.length = Hex(s.header + 29, 4);
    s.payloadRead = 0;
    if (h.deviceId != deviceId) return;  // misrouted: says nothing of this stream
    if (s.brokeOff) {
        if (h.epoch > s.brokeOffEpoch) {
            ++cutOff_;
        } else {
            ++damaged_;
        }
        s.brokeOff = false;
    }
    s.epoch = h.epoch;
}

void ReceiveLedger::RecordRead(Stream& s, std::uint32_t deviceId, bool carried) {
    s.headerBytes = 0;
    const Header& h = s.record;
    if (h.deviceId != deviceId) {
        ++misrouted_;
        return;
    }
    ++records_;
    if (carried) ++split_;
    std::uint32_t& next = Entry(h.deviceId, h.epoch);
    if (h.sequence < next) {
        ++duplicates_;
    } else {
        gaps_ += h.sequence - next;
        next = h.sequence + 1;
    }
}

LedgerVerdict ReceiveLedger::Check(const std::vector<SentEpoch>& sent) const {
    LedgerVerdict v;
    std::unordered_set<std::uint64_t> known;
    known.reserve(sent.size());
    for (const SentEpoch& s : sent) {
        const std::uint64_t key = Key(s.deviceId, s.epoch);
        known.insert(key);
        const std::uint32_t got = Got(s.deviceId, s.epoch);
        v.received += std::min(got, s.sent);
        if (got > s.sent) {
            v.beyondSent += got - s.sent;
        } else if (s.stayedConnected) {
            v.lost += s.sent - got;
        } else {
            v.lostAtClose += s.sent - got;
        }
    }
    ForEachConnection([&](std::uint32_t deviceId, std::uint32_t epoch, std::uint32_t got) {
        if (known.count(Key(deviceId, epoch)) == 0) v.unknown += got;
    });
    return v;
}

}  // namespace soak
