#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "LinkProtocol.h"

using dovrik::EscapeForSend;
using dovrik::kMaxWireMessage;
using dovrik::ParseRegistration;
using dovrik::Unescape;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Escape(const Bytes& plain) {
    Bytes out(kMaxWireMessage);
    out.resize(EscapeForSend(plain.data(), plain.size(), out.data()));
    return out;
}

Bytes Plain(const Bytes& wire) {
    Bytes out(wire.size());
    out.resize(Unescape(wire.data(), wire.size(), out.data()));
    return out;
}

Bytes Registration(std::size_t length, std::uint8_t terminator = 0) {
    Bytes m(length, 0x33);
    m[0] = 0x78;
    m[1] = 0x56;
    m[2] = 0x34;
    m[3] = 0x12;
    for (int i = 0; i < 11; ++i) m[4 + i] = static_cast<std::uint8_t>('0' + i % 10);
    m[15] = terminator;
    m[16] = 192;
    m[17] = 168;
    m[18] = 1;
    m[19] = 20;
    return m;
}

}  // namespace

TEST(LinkEscaping, EscapesBothReservedBytesAndPassesOthers) {
    EXPECT_EQ(Escape({0xFD, 0xFE, 0x41}), (Bytes{0xFD, 0xED, 0xFD, 0xEE, 0x41}));
    EXPECT_EQ(Escape({}), Bytes{});
    EXPECT_EQ(Escape({0x00, 0xED, 0xEE, 0xFF}), (Bytes{0x00, 0xED, 0xEE, 0xFF}));
}

TEST(LinkEscaping, CutsOutputAtTheWireLimit) {
    // 3000 bytes of 0xFE become 2048 whole pairs.
    const Bytes wire = Escape(Bytes(3000, 0xFE));
    ASSERT_EQ(wire.size(), 4096u);
    for (std::size_t i = 0; i < wire.size(); i += 2) {
        ASSERT_EQ(wire[i], 0xFD);
        ASSERT_EQ(wire[i + 1], 0xEE);
    }
    EXPECT_EQ(Escape(Bytes(4097, 0x41)).size(), 4096u);
    EXPECT_EQ(Escape(Bytes(65535, 0x41)).size(), 4096u);

    // A pair that does not fit whole leaves only its first byte.
    Bytes plain(4095, 0x41);
    plain.push_back(0xFD);
    const Bytes cut = Escape(plain);
    ASSERT_EQ(cut.size(), 4096u);
    EXPECT_EQ(cut.back(), 0xFD);
}

TEST(LinkEscaping, UnescapesPairsAndKeepsStrayEscapeBytes) {
    EXPECT_EQ(Plain({0xFD, 0xED, 0xFD, 0xEE, 0x41}), (Bytes{0xFD, 0xFE, 0x41}));
    EXPECT_EQ(Plain({0xFD, 0x41}), (Bytes{0xFD, 0x41}));
    EXPECT_EQ(Plain({0xFD}), (Bytes{0xFD}));
    EXPECT_EQ(Plain({0x41, 0xFD}), (Bytes{0x41, 0xFD}));
    EXPECT_EQ(Plain({0xFD, 0xFD, 0xED}), (Bytes{0xFD, 0xFD}));
    EXPECT_EQ(Plain({0xFE, 0x41}), (Bytes{0xFE, 0x41}));
    EXPECT_EQ(Plain({}), Bytes{});
}

TEST(LinkEscaping, RoundTripsEveryByteValue) {
    Bytes plain;
    for (int i = 0; i < 256; ++i) plain.push_back(static_cast<std::uint8_t>(i));
    for (int i = 0; i < 256; ++i) plain.push_back(static_cast<std::uint8_t>(255 - i));
    EXPECT_EQ(Plain(Escape(plain)), plain);
}

TEST(Registration, AcceptsTwentyOneBytesWithTerminator) {
    const Bytes m = Registration(21);
    const auto r = ParseRegistration(m.data(), m.size());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->deviceId, 0x12345678u);
    EXPECT_STREQ(r->simNumber.data(), "01234567890");
    EXPECT_EQ(r->address[0], 192);
    EXPECT_EQ(r->address[3], 20);
}

TEST(Registration, RefusesShortOrUnterminatedMessages) {
    const Bytes shortMessage = Registration(20);
    EXPECT_FALSE(ParseRegistration(shortMessage.data(), shortMessage.size()));
    const Bytes unterminated = Registration(21, 0x31);
    EXPECT_FALSE(ParseRegistration(unterminated.data(), unterminated.size()));
    EXPECT_FALSE(ParseRegistration(nullptr, 0));
}

TEST(Registration, IgnoresEverythingAfterTheAddress) {
    Bytes m = Registration(8128);
    const auto r = ParseRegistration(m.data(), m.size());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->deviceId, 0x12345678u);
}

TEST(Heartbeat, IsExactlyOneFeByte) {
    const std::uint8_t fe[] = {0xFE, 0x41};
    EXPECT_TRUE(dovrik::IsHeartbeat(fe, 1));
    EXPECT_FALSE(dovrik::IsHeartbeat(fe, 2));
    const std::uint8_t other[] = {0xFD};
    EXPECT_FALSE(dovrik::IsHeartbeat(other, 1));
}

TEST(Receive, OnlyMessagesUpToTheWireLimitAreQueued) {
    using dovrik::ClassifyReceive;
    using dovrik::ReceiveKind;
    Bytes big(dovrik::kMaxWireMessage + 1, 0xFE);
    EXPECT_EQ(ClassifyReceive(big.data(), 1), ReceiveKind::Heartbeat);
    EXPECT_EQ(ClassifyReceive(big.data(), 2), ReceiveKind::Message);  // two heartbeats glued
    EXPECT_EQ(ClassifyReceive(big.data(), dovrik::kMaxWireMessage), ReceiveKind::Message);
    EXPECT_EQ(ClassifyReceive(big.data(), big.size()), ReceiveKind::TooLong);
    const std::uint8_t fd[] = {0xFD};
    EXPECT_EQ(ClassifyReceive(fd, 1), ReceiveKind::Message);
}
