#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "LinkProtocol.h"

using dovrik::EscapeForSend;
using dovrik::kMaxWireMessage;
using dovrik::ParseRegistration;
using dovrik::Unescape;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The escaped message; empty when it is not sent at all.
std::optional<Bytes> Escape(const Bytes& plain) {
    Bytes out(kMaxWireMessage);
    const auto written = EscapeForSend(plain.data(), plain.size(), out.data());
    if (!written) return std::nullopt;
    out.resize(*written);
    return out;
}

// What a connection's stream yields when it arrives in these receives,
// decoded into pieces of at most `room` bytes.
Bytes Decoded(const std::vector<Bytes>& receives, std::size_t room = 4095) {
    dovrik::StreamDecoder decoder;
    Bytes out;
    Bytes piece(room);
    for (const Bytes& r : receives) {
        for (std::size_t used = 0; used < r.size();) {
            const auto step = decoder.Decode(r.data() + used, r.size() - used, piece.data(), room);
            EXPECT_GT(step.consumed, 0u);
            if (step.consumed == 0) return out;
            used += step.consumed;
            out.insert(out.end(), piece.begin(), piece.begin() + static_cast<long>(step.produced));
        }
    }
    std::uint8_t last = 0;
    if (decoder.Flush(&last) > 0) out.push_back(last);
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
    EXPECT_EQ(*Escape({0xFD, 0xFE, 0x41}), (Bytes{0xFD, 0xED, 0xFD, 0xEE, 0x41}));
    EXPECT_EQ(*Escape({}), Bytes{});
    EXPECT_EQ(*Escape({0x00, 0xED, 0xEE, 0xFF}), (Bytes{0x00, 0xED, 0xEE, 0xFF}));
}

TEST(LinkEscaping, SendsAMessageWholeOrNotAtAll) {
    // 2048 pairs fill one message exactly; one byte more is not sent at all,
    // rather than cut.
    const auto full = Escape(Bytes(2048, 0xFE));
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(full->size(), 4096u);
    EXPECT_FALSE(Escape(Bytes(3000, 0xFE)).has_value());
    EXPECT_FALSE(Escape(Bytes(4097, 0x41)).has_value());
    EXPECT_EQ(Escape(Bytes(4096, 0x41))->size(), 4096u);
    Bytes plain(4095, 0x41);
    plain.push_back(0xFD);  // its pair would end past the limit
    EXPECT_FALSE(Escape(plain).has_value());
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
    EXPECT_EQ(Plain(*Escape(plain)), plain);
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

TEST(LinkStream, WhereTcpCutsTheStreamChangesNothing) {
    // Heartbeats between, before and after messages never reach the output.
    EXPECT_EQ(Decoded({{0xFE, 0x41, 0xFE, 0xFE, 0x42, 0xFE}}), (Bytes{0x41, 0x42}));
    EXPECT_EQ(Decoded({{0xFE}, {0xFE}}), Bytes{});
    // A pair cut between two receives is still one byte.
    EXPECT_EQ(Decoded({{0x41, 0xFD}, {0xED, 0x42}}), (Bytes{0x41, 0xFD, 0x42}));
    EXPECT_EQ(Decoded({{0xFD}, {0xEE}}), Bytes{0xFE});
    // A stray escape byte stays, also before a heartbeat and at the very end.
    EXPECT_EQ(Decoded({{0xFD}, {0xFE, 0x41}}), (Bytes{0xFD, 0x41}));
    EXPECT_EQ(Decoded({{0x41, 0xFD}}), (Bytes{0x41, 0xFD}));
    EXPECT_EQ(Decoded({{0xFD, 0xFD}, {0xED}}), (Bytes{0xFD, 0xFD}));
    // Escaped messages back to back, cut anywhere, come out whole and in order.
    Bytes plain;
    for (int i = 0; i < 600; ++i) plain.push_back(static_cast<std::uint8_t>(i * 7));
    Bytes wire = *Escape(plain);
    wire.push_back(0xFE);
    const Bytes second = *Escape(plain);
    wire.insert(wire.end(), second.begin(), second.end());
    Bytes twice = plain;
    twice.insert(twice.end(), plain.begin(), plain.end());
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        const Bytes a(wire.begin(), wire.begin() + static_cast<long>(cut));
        const Bytes b(wire.begin() + static_cast<long>(cut), wire.end());
        ASSERT_EQ(Decoded({a, b}), twice) << "cut at " << cut;
    }
    // Nor does the room of the pieces it is decoded into.
    for (std::size_t room : {2, 3, 17, 1000}) EXPECT_EQ(Decoded({wire}, room), twice) << room;
}
