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

bool ReadHex(const std::uint8_t* p, std::size_t digits, std::uint32_t& value) {
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const std::uint8_t c = p[i];
        std::uint32_t v = 0;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10u;
        } else {
            return false;
        }
        value = value << 4 | v;
    }
    return true;
}

struct Header {
    std::uint32_t deviceId, epoch, sequence, length;
};

bool ReadHeader(const std::uint8_t* p, Header& h) {
    return ReadHex(p + 2, 8, h.deviceId) && p[10] == ':' && ReadHex(p + 11, 8, h.epoch) &&
           p[19] == ':' && ReadHex(p + 20, 8, h.sequence) && p[28] == ':' &&
           ReadHex(p + 29, 4, h.length) && p[33] == '>';
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
    next_.reserve(1024);
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

void ReceiveLedger::Take(std::uint32_t deviceId, const std::uint8_t* data, std::size_t length) {
    ++messages_;
    if (data == nullptr) length = 0;
    std::size_t pos = 0;
    int inMessage = 0;
    static constexpr std::uint8_t kMark[] = {'<', 'S'};
    while (pos < length) {
        const std::uint8_t* end = data + length;
        const std::uint8_t* at = std::search(data + pos, end, kMark, kMark + 2);
        if (at == end) {
            otherBytes_ += length - pos;
            break;
        }
        const std::size_t start = static_cast<std::size_t>(at - data);
        otherBytes_ += start - pos;
        Header h{};
        if (length - start < kRecordHeader || !ReadHeader(at, h) ||
            length - start - kRecordHeader < h.length) {
            ++damaged_;  // cut off, or not a record after all
            pos = start + 2;
            continue;
        }
        const std::uint8_t* payload = at + kRecordHeader;
        pos = start + kRecordHeader + h.length;
        bool intact = true;
        for (std::uint32_t i = 0; i < h.length && intact; ++i) {
            intact = payload[i] == PayloadByte(h.deviceId, h.epoch, h.sequence, i);
        }
        if (!intact) {
            ++damaged_;
            continue;
        }
        if (h.deviceId != deviceId) {
            ++misrouted_;
            continue;
        }
        ++inMessage;
        ++records_;
        std::uint32_t& next = Entry(h.deviceId, h.epoch);
        if (h.sequence < next) {
            ++duplicates_;
        } else {
            gaps_ += h.sequence - next;
            next = h.sequence + 1;
        }
    }
    if (inMessage > 1) ++glued_;
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
