// The bookkeeping of the soak run: the data messages its terminals send and
// the ledger that checks, per connection, that the centre got every one of
// them exactly once and in order.
//
// A message is one record: "<S" device ID ":" epoch ":" sequence ":" length
// ">" in fixed-width hexadecimal, then `length` payload bytes computed from
// the first three, so a damaged or misrouted record is recognised. The epoch
// numbers the connections of one terminal; the sequence starts at 0 on each.
//
// The link reads each connection as one byte stream and queues it in packets
// of 1 to 4095 bytes, so a packet may hold several records, status messages
// next to them, or only part of a record: the rest comes in that terminal's
// next packets, with other terminals' packets in between. The ledger reads
// each terminal's packets as one stream: it skips anything up to the next
// "<S", and keeps the record a packet ended inside (its header, and how much
// of its payload matched) until the terminal's next packet. Payload bytes are
// checked as they arrive, so nothing more of a record is kept.
//
// A record that does not go on where its packet ended broke off. A connection
// closed, reset or replaced in the middle of a record does that; the record is
// then an undelivered one of a closed connection, like any other record that
// connection had not delivered. So the ledger waits for the terminal's next
// record header: of a newer connection, the broken record counts as cut off;
// of the same or an older one, as damaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace soak {

inline constexpr std::size_t kRecordHeader = 2 + 8 + 1 + 8 + 1 + 8 + 1 + 4 + 1;  // 34
inline constexpr std::size_t kMaxPayload = 0xFFFF;

std::vector<std::uint8_t> MakeRecord(std::uint32_t deviceId, std::uint32_t epoch,
                                     std::uint32_t sequence, std::size_t payloadLength);

// One connection as the terminal side saw it when the run ended.
struct SentEpoch {
    std::uint32_t deviceId = 0;
    std::uint32_t epoch = 0;
    std::uint32_t sent = 0;  // records handed to the connection
    // Still connected at the end: every record must have arrived. A connection
    // that was closed, reset or replaced may have lost the records it had not
    // delivered yet, but never one before a record that arrived.
    bool stayedConnected = false;
};

struct LedgerVerdict {
    std::uint64_t received = 0;     // records taken in order
    std::uint64_t lost = 0;         // missing records of connections that stayed
    std::uint64_t lostAtClose = 0;  // undelivered tails of closed connections
    std::uint64_t unknown = 0;      // records of a connection the terminals never had
    std::uint64_t beyondSent = 0;   // more records than the terminal sent
    bool Clean() const { return lost == 0 && unknown == 0 && beyondSent == 0; }
};

class ReceiveLedger {
  public:
    // Makes room now for the streams of the IDs firstId to firstId + count - 1
    // and their first `epochs` connections, so that taking their messages
    // allocates nothing (the soak run measures the memory of the process the
    // ledger lives in).
    void Reserve(std::uint32_t firstId, std::uint32_t count, std::uint32_t epochs);

    // One message as the centre dequeued it: the terminal's stream goes on
    // from where its previous message ended.
    void Take(std::uint32_t deviceId, const std::uint8_t* data, std::size_t length);

    // Faults seen while taking messages.
    std::uint64_t Duplicates() const { return duplicates_; }  // a sequence number seen before
    std::uint64_t Gaps() const { return gaps_; }              // records skipped over
    std::uint64_t Misrouted() const { return misrouted_; }    // another terminal's record
    // A bad header or payload, or a record that broke off within a connection.
    std::uint64_t Damaged() const { return damaged_; }
    bool FaultFree() const {
        return duplicates_ == 0 && gaps_ == 0 && misrouted_ == 0 && damaged_ == 0;
    }

    std::uint64_t Records() const { return records_; }
    std::uint64_t Messages() const { return messages_; }
    std::uint64_t MessagesWithSeveralRecords() const { return glued_; }
    std::uint64_t OtherBytes() const { return otherBytes_; }
    std::uint64_t SplitRecords() const { return split_; }  // records taken from several packets
    // Records that broke off because a newer connection of their terminal
    // followed; Check counts them with the closed connection's undelivered ones.
    std::uint64_t CutOff() const { return cutOff_; }

    // Compares what arrived with what the terminals sent.
    LedgerVerdict Check(const std::vector<SentEpoch>& sent) const;

  private:
    struct Header {
        std::uint32_t deviceId, epoch, sequence, length;
    };
    // Where one terminal's stream stands between two of its packets.
    struct Stream {
        std::uint8_t header[kRecordHeader] = {};
        std::size_t headerBytes = 0;  // of the record under way; 0 between records
        Header record{};              // read once its header is complete
        std::uint32_t payloadRead = 0;
        std::uint32_t epoch = 0;  // of the terminal's latest record header
        // A record broke off; whether it was cut off or damaged is known at the
        // terminal's next record header.
        bool brokeOff = false;
        std::uint32_t brokeOffEpoch = 0;
    };
    Stream& StreamOf(std::uint32_t deviceId);
    // The record under way stopped matching at data[pos]; it began at
    // data[start], or in an earlier packet when `carried`. Returns where to
    // read on.
    std::size_t BreakOff(Stream& s, bool carried, std::size_t pos, std::size_t start);
    // The record under way has its whole header.
    void HeaderRead(Stream& s, std::uint32_t deviceId);
    // The record under way is complete.
    void RecordRead(Stream& s, std::uint32_t deviceId, bool carried);

    static std::uint64_t Key(std::uint32_t deviceId, std::uint32_t epoch) {
        return static_cast<std::uint64_t>(deviceId) << 32 | epoch;
    }
    static constexpr std::size_t kNotDense = static_cast<std::size_t>(-1);
    std::size_t DenseIndex(std::uint32_t deviceId, std::uint32_t epoch) const;
    // The next expected sequence of a connection: 0 before its first record.
    std::uint32_t& Entry(std::uint32_t deviceId, std::uint32_t epoch);
    std::uint32_t Got(std::uint32_t deviceId, std::uint32_t epoch) const;
    // Calls f(deviceId, epoch, next) for every connection that has had a record.
    template <typename F>
    void ForEachConnection(F f) const;

    // Reserved: [(deviceId - denseFirst_) * denseEpochs_ + epoch]; the rest in the map.
    std::vector<std::uint32_t> dense_;
    std::uint32_t denseFirst_ = 0;
    std::uint32_t denseCount_ = 0;
    std::uint32_t denseEpochs_ = 0;
    std::unordered_map<std::uint64_t, std::uint32_t> next_;
    // Reserved: [deviceId - denseFirst_]; the rest in the map.
    std::vector<Stream> denseStreams_;
    std::unordered_map<std::uint32_t, Stream> streams_;
    std::uint64_t duplicates_ = 0;
    std::uint64_t gaps_ = 0;
    std::uint64_t misrouted_ = 0;
    std::uint64_t damaged_ = 0;
    std::uint64_t records_ = 0;
    std::uint64_t messages_ = 0;
    std::uint64_t glued_ = 0;
    std::uint64_t otherBytes_ = 0;
    std::uint64_t split_ = 0;
    std::uint64_t cutOff_ = 0;
};

}  // namespace soak
