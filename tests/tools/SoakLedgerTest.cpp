// The soak run's ledger decides whether the centre lost, doubled or reordered
// a message, so it must find each of those faults and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "SoakLedger.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using soak::MakeRecord;

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

void Take(soak::ReceiveLedger& ledger, std::uint32_t id, const Bytes& message) {
    ledger.Take(id, message.data(), message.size());
}

TEST(SoakLedger, ReadsGluedRecordsAndSkipsWhatRodeAlong) {
    soak::ReceiveLedger ledger;
    const Bytes status = {0x02, 0x11, 0x01, 0x00, 0x0C, 0x07, 0,    0,    0x70, 0x02,
                          0x02, 0x00, 0x01, 0x00, 0x02, 0x01, 0x00, 0x8A, 0x03};
    Take(ledger, 7, Join({Bytes{0xFE}, MakeRecord(7, 0, 0, 300), MakeRecord(7, 0, 1, 0)}));
    Take(ledger, 7, Join({status, MakeRecord(7, 0, 2, 60), Bytes{'<', 0xFE}}));
    Take(ledger, 7, MakeRecord(7, 1, 0, 5));  // the terminal's next connection
    EXPECT_TRUE(ledger.FaultFree());
    EXPECT_EQ(ledger.Records(), 4u);
    EXPECT_EQ(ledger.Messages(), 3u);
    EXPECT_EQ(ledger.MessagesWithSeveralRecords(), 1u);
    EXPECT_EQ(ledger.OtherBytes(), 1u + status.size() + 2u);
    const auto v = ledger.Check({{7, 0, 3, false}, {7, 1, 1, true}});
    EXPECT_TRUE(v.Clean());
    EXPECT_EQ(v.received, 4u);
}

TEST(SoakLedger, FindsEveryKindOfFault) {
    soak::ReceiveLedger ledger;
    Take(ledger, 1, MakeRecord(1, 0, 0, 10));
    Take(ledger, 1, MakeRecord(1, 0, 0, 10));  // twice
    EXPECT_EQ(ledger.Duplicates(), 1u);
    Take(ledger, 1, MakeRecord(1, 0, 3, 10));  // 1 and 2 skipped
    EXPECT_EQ(ledger.Gaps(), 2u);
    Take(ledger, 1, MakeRecord(2, 0, 0, 10));  // another terminal's record
    EXPECT_EQ(ledger.Misrouted(), 1u);
    Bytes damaged = MakeRecord(1, 0, 4, 10);
    damaged.back() ^= 0x40;
    Take(ledger, 1, damaged);
    Bytes cut = MakeRecord(1, 0, 5, 10);
    cut.pop_back();
    Take(ledger, 1, cut);
    Bytes badHeader = MakeRecord(1, 0, 6, 0);
    badHeader[10] = ';';
    Take(ledger, 1, badHeader);
    // The cut record's connection went on without its last byte.
    Take(ledger, 1, MakeRecord(1, 0, 7, 0));
    EXPECT_EQ(ledger.Damaged(), 3u);
    EXPECT_EQ(ledger.CutOff(), 0u);
    EXPECT_FALSE(ledger.FaultFree());
}

// A terminal's packets are one stream: a record goes on in its terminal's
// next packets, whatever other terminals' packets come in between.
TEST(SoakLedger, ReadsRecordsSplitBetweenPackets) {
    const Bytes stream = Join(
        {MakeRecord(3, 0, 0, 40), Bytes{'<', 'x'}, MakeRecord(3, 0, 1, 0), MakeRecord(3, 0, 2, 5)});
    const Bytes other = MakeRecord(4, 0, 0, 7);
    // Cut at i and j: two packets when they meet, three otherwise.
    for (std::size_t i = 1; i < stream.size(); ++i) {
        for (std::size_t j = i; j < stream.size(); ++j) {
            soak::ReceiveLedger ledger;
            ledger.Take(3, stream.data(), i);
            Take(ledger, 4, other);
            if (j > i) ledger.Take(3, stream.data() + i, j - i);
            ledger.Take(3, stream.data() + j, stream.size() - j);
            ASSERT_TRUE(ledger.FaultFree()) << "cut at " << i << " and " << j;
            ASSERT_EQ(ledger.Records(), 4u) << "cut at " << i << " and " << j;
            ASSERT_EQ(ledger.OtherBytes(), 2u) << "cut at " << i << " and " << j;
            ASSERT_TRUE(ledger.Check({{3, 0, 3, true}, {4, 0, 1, true}}).Clean());
        }
    }
    soak::ReceiveLedger ledger;
    ledger.Take(3, stream.data(), 50);       // in the first record's payload
    ledger.Take(3, stream.data() + 50, 50);  // in the second record's header
    ledger.Take(3, stream.data() + 100, stream.size() - 100);
    EXPECT_EQ(ledger.SplitRecords(), 2u);
}

// A connection closed, reset or replaced in the middle of a record leaves it
// undelivered, which is no damage; its terminal's next connection may begin
// with a status message, in the same packet as its first record or not.
TEST(SoakLedger, ARecordCutOffByANewConnectionIsNoDamage) {
    const Bytes first = MakeRecord(5, 0, 0, 3);
    const Bytes cut = MakeRecord(5, 0, 1, 300);  // its payload holds every byte value
    const Bytes status = {0x02, 0x11, 0x01, 0x00, 0x03};
    for (std::size_t c = 2; c < cut.size(); ++c) {
        for (int next = 0; next < 4; ++next) {
            soak::ReceiveLedger ledger;
            Take(ledger, 5, Join({first, Bytes(cut.begin(), cut.begin() + c)}));
            if (next == 2) Take(ledger, 5, status);
            const std::uint32_t epoch = next == 3 ? 0 : 1;  // 3: the same connection went on
            const Bytes record = MakeRecord(5, epoch, epoch == 0 ? 2 : 0, 9);
            Take(ledger, 5, next == 1 ? Join({status, record}) : record);
            if (next == 3) {
                ASSERT_EQ(ledger.Damaged(), 1u) << "cut at " << c;
                ASSERT_EQ(ledger.Gaps(), 1u) << "cut at " << c;
                continue;
            }
            ASSERT_TRUE(ledger.FaultFree()) << "cut at " << c << ", next " << next;
            ASSERT_EQ(ledger.CutOff(), 1u) << "cut at " << c << ", next " << next;
            const auto v = ledger.Check({{5, 0, 2, false}, {5, 1, 1, true}});
            ASSERT_TRUE(v.Clean());
            ASSERT_EQ(v.received, 2u);
            ASSERT_EQ(v.lostAtClose, 1u);
        }
    }
}

class SoakLedgerReserved : public ::testing::TestWithParam<bool> {};

// With a reserved table (IDs 5 and 6, two connections each) terminal 9 and
// the connections past the second are kept apart, and must count the same.
TEST_P(SoakLedgerReserved, OnlyConnectionsThatStayedMustBeComplete) {
    soak::ReceiveLedger ledger;
    if (GetParam()) ledger.Reserve(5, 2, 2);
    Take(ledger, 6, MakeRecord(6, 7, 0, 1));  // a third connection of 6, past the table
    for (std::uint32_t s = 0; s < 3; ++s) Take(ledger, 5, MakeRecord(5, 0, s, 1));
    for (std::uint32_t s = 0; s < 2; ++s) Take(ledger, 5, MakeRecord(5, 1, s, 1));
    Take(ledger, 6, MakeRecord(6, 0, 0, 1));
    Take(ledger, 9, MakeRecord(9, 4, 0, 1));  // a connection nobody reported

    const auto v =
        ledger.Check({{5, 0, 5, false}, {5, 1, 4, true}, {6, 0, 0, true}, {6, 7, 3, true}});
    EXPECT_EQ(v.lostAtClose, 2u);  // the closed connection's last two
    EXPECT_EQ(v.lost, 4u);         // the connected ones' last two each
    EXPECT_EQ(v.beyondSent, 1u);   // terminal 6 sent nothing on its first
    EXPECT_EQ(v.unknown, 1u);
    EXPECT_EQ(v.received, 6u);
    EXPECT_FALSE(v.Clean());
    EXPECT_TRUE(ledger
                    .Check({{5, 0, 3, true},
                            {5, 1, 2, true},
                            {6, 0, 1, true},
                            {6, 7, 1, true},
                            {9, 4, 1, true}})
                    .Clean());
}

INSTANTIATE_TEST_SUITE_P(Table, SoakLedgerReserved, ::testing::Values(false, true));

TEST(SoakLedger, RecordsCarryEveryByteValue) {
    const Bytes r = MakeRecord(0x70000001, 3, 9, 256);
    ASSERT_EQ(r.size(), soak::kRecordHeader + 256);
    std::vector<bool> seen(256);
    for (std::size_t i = soak::kRecordHeader; i < r.size(); ++i) seen[r[i]] = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
}

}  // namespace
