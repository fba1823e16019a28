// The eight DS functions of the shared library, called as a program calls
// them, against simulated terminals on loopback.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "Dovrik.h"
#include "LoopbackPort.h"
#include "TerminalSimulator.h"

namespace {

using namespace std::chrono_literals;
using dovrik::sim::TerminalSimulator;
using Bytes = std::vector<std::uint8_t>;

std::string LastError() {
    char text[128];
    std::memset(text, 0x7F, sizeof text);
    DSGetLastError(text, sizeof text);
    return text;
}

bool Eventually(const std::function<bool()>& condition) {
    return TerminalSimulator::WaitUntil(condition, 10s);
}

using testsupport::FreePort;

constexpr std::size_t kRegistrationBytes = 21;  // as the simulated terminals send it

class DsFunctions : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = FreePort();
        ASSERT_EQ(DSStartService(port_), 1);
        TerminalSimulator::Options options;
        options.port = port_;
        sim_ = std::make_unique<TerminalSimulator>(options);
    }
    void TearDown() override {
        sim_.reset();
        DSStopService();
        _PACKET p;
        while (DSGetNextData(&p, 0)) {
        }
    }

    std::size_t Register(std::uint32_t id) {
        dovrik::sim::TerminalSpec setup;
        setup.deviceId = id;
        setup.simNumber = "13800138000";
        setup.address = {192, 168, 0, 7};
        const int before = DSGetModemCount();
        const std::size_t index = sim_->Add(setup);
        EXPECT_TRUE(Eventually([&] { return DSGetModemCount() == before + 1; }));
        return index;
    }

    std::uint16_t port_ = 0;
    std::unique_ptr<TerminalSimulator> sim_;
};

TEST(DsLastError, CopiesWithinTheBufferAndAlwaysTerminates) {
    DSStartService(FreePort());
    EXPECT_EQ(DSSendData(0x42, 1, reinterpret_cast<const std::uint8_t*>("x")), 0);
    const std::string full = "The connection with modem has broken\xA3\xA1";
    EXPECT_EQ(LastError(), full);

    char one[1] = {'z'};
    DSGetLastError(one, 1);
    EXPECT_EQ(one[0], '\0');

    char five[5];
    std::memset(five, 'z', sizeof five);
    DSGetLastError(five, 5);
    EXPECT_STREQ(five, "The ");

    DSGetLastError(nullptr, 10);  // refused quietly
    DSGetLastError(five, 0);
    DSStopService();
}

TEST_F(DsFunctions, EmptyQueueAndPositionPastTheEndLeaveBuffersUntouched) {
    _PACKET packet;
    std::memset(&packet, 0x5A, sizeof packet);
    EXPECT_EQ(DSGetNextData(&packet, 0), 0);
    EXPECT_EQ(packet.deviceId, 0x5A5A5A5Au);

    Register(0x01020304);
    ModemInfo info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(DSGetModemByPosition(1, &info), 0);
    EXPECT_EQ(info.deviceId, 0x5A5A5A5Au);
    ASSERT_EQ(DSGetModemByPosition(0, &info), 1);
    EXPECT_EQ(info.deviceId, 0x01020304u);
    EXPECT_STREQ(info.simNumber, "13800138000");
    EXPECT_EQ(info.ipAddress[0], 192);
    EXPECT_EQ(info.ipAddress[3], 7);
}

TEST_F(DsFunctions, TakesMessagesOldestFirst) {
    // Each terminal says one thing and hangs up. Once it has left the table
    // its message is queued, so all of them wait together before the first
    // is taken.
    const std::vector<std::string> texts = {"first", "second", "third", "fourth"};
    std::size_t written = 0;
    for (std::uint32_t n = 0; n < texts.size(); ++n) {
        const std::size_t index = Register(0xCAFE00 + n);
        sim_->SendText(index, texts[n]);
        written += kRegistrationBytes + texts[n].size();
        ASSERT_TRUE(Eventually([&] { return sim_->TotalSentWireBytes() >= written; }));
        sim_->Close(index);
        ASSERT_TRUE(Eventually([&] { return DSGetModemCount() == 0; }));
    }
    _PACKET packet;
    for (std::uint32_t n = 0; n < texts.size(); ++n) {
        ASSERT_EQ(DSGetNextData(&packet, 0), 1);
        EXPECT_EQ(packet.deviceId, 0xCAFE00 + n);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet.data), packet.length), texts[n]);
    }
    EXPECT_EQ(DSGetNextData(&packet, 0), 0);
}

TEST_F(DsFunctions, SendReachesTheTerminalEscapedAndWholeOrNotAtAll) {
    const std::size_t index = Register(0xBEEF);
    const Bytes line = {'A', 'T', '+', 'S', 'H', 'O', 'W', '\r', 0xFE};
    ASSERT_EQ(DSSendData(0xBEEF, static_cast<std::uint16_t>(line.size()), line.data()), 1);
    ASSERT_TRUE(Eventually([&] { return sim_->Received(index) == line; }));
    EXPECT_EQ(sim_->ReceivedWireBytes(index), line.size() + 1);

    // Longer than one message on the wire: refused, and nothing of it is sent.
    for (const Bytes& tooLong : {Bytes(3000, 0xFE), Bytes(5000, 'T'), Bytes(4097, 'A')}) {
        EXPECT_EQ(DSSendData(0xBEEF, static_cast<std::uint16_t>(tooLong.size()), tooLong.data()),
                  0);
        EXPECT_EQ(LastError(), "Send failed!");
    }
    EXPECT_EQ(DSSendData(0xBEEF, 0, nullptr), 1);
    const Bytes full(4096, 'F');
    ASSERT_EQ(DSSendData(0xBEEF, 4096, full.data()), 1);
    ASSERT_TRUE(
        Eventually([&] { return sim_->ReceivedWireBytes(index) == line.size() + 1 + 4096; }));
    EXPECT_EQ(sim_->Received(index).back(), 'F');
    EXPECT_EQ(DSGetModemCount(), 1);
}

// Drains packets until `bytes` have arrived; their data, in order.
Bytes DrainBytes(std::uint32_t deviceId, std::size_t bytes) {
    Bytes got;
    _PACKET packet;
    Eventually([&] {
        while (DSGetNextData(&packet, 0)) {
            EXPECT_EQ(packet.deviceId, deviceId);
            EXPECT_GT(packet.length, 0);
            EXPECT_LT(packet.length, 4096);
            got.insert(got.end(), packet.data, packet.data + packet.length);
        }
        return got.size() >= bytes;
    });
    return got;
}

TEST_F(DsFunctions, EveryByteReachesTheQueueHoweverTcpBundlesIt) {
    const std::size_t index = Register(0xB0B);
    auto message = [](std::size_t size, std::uint8_t seed) {
        Bytes m(size);
        for (std::size_t i = 0; i < size; ++i) m[i] = static_cast<std::uint8_t>(seed + i * 13);
        return m;
    };
    // Each case in one write: messages back to back, with heartbeats around.
    const std::vector<std::vector<Bytes>> cases = {
        {message(3000, 1), message(3000, 2)},
        {message(1024, 3), message(1024, 4), message(1024, 5), message(1024, 6), message(1024, 7)},
        {Bytes(4096, 'X'), {}},
        std::vector<Bytes>(20, message(700, 8)),
    };
    for (const auto& messages : cases) {
        Bytes wire;
        Bytes plain;
        for (const Bytes& m : messages) {
            const Bytes escaped = dovrik::sim::EscapeStream(m);
            wire.insert(wire.end(), escaped.begin(), escaped.end());
            wire.push_back(0xFE);
            plain.insert(plain.end(), m.begin(), m.end());
        }
        sim_->SendRaw(index, wire);
        EXPECT_EQ(DrainBytes(0xB0B, plain.size()), plain);
    }
    // An escape pair cut between two receives.
    sim_->SendRaw(index, {'a', 0xFD});
    EXPECT_EQ(DrainBytes(0xB0B, 1), Bytes{'a'});
    sim_->SendRaw(index, {0xEE, 'b'});
    EXPECT_EQ(DrainBytes(0xB0B, 2), (Bytes{0xFE, 'b'}));
}

TEST_F(DsFunctions, PacketsCarryNothingPastTheirData) {
    const std::size_t talker = Register(0x1111);
    const std::size_t other = Register(0x2222);
    _PACKET packet;
    for (int round = 0; round < 5; ++round) {
        sim_->SendText(talker, std::string(3000, 'L'));
        sim_->SendText(other, "hi");
        std::size_t seen = 0;
        ASSERT_TRUE(Eventually([&] {
            std::memset(&packet, 0xAA, sizeof packet);
            if (!DSGetNextData(&packet, 0)) return false;
            seen += packet.length;
            for (std::size_t i = packet.length; i < sizeof packet.data; ++i) {
                EXPECT_EQ(packet.data[i], 0) << "byte " << i << " of " << packet.length;
                if (packet.data[i] != 0) break;
            }
            return seen == 3002;
        }));
    }
}

TEST_F(DsFunctions, SendToAVanishedTerminalReportsTheBrokenConnection) {
    const std::size_t index = Register(0xD00D);
    sim_->Close(index);
    ASSERT_TRUE(Eventually([&] { return DSGetModemCount() == 0; }));
    EXPECT_EQ(DSSendData(0xD00D, 1, reinterpret_cast<const std::uint8_t*>("x")), 0);
    EXPECT_EQ(LastError(), "The connection with modem has broken\xA3\xA1");
}

TEST_F(DsFunctions, CloseByIdRemovesTheTerminalAndIgnoresUnknownIds) {
    const std::size_t index = Register(0x10);
    Register(0x11);
    DSCloseConnectionByDeviceID(0x10);
    EXPECT_EQ(DSGetModemCount(), 1);
    ModemInfo info;
    ASSERT_EQ(DSGetModemByPosition(0, &info), 1);
    EXPECT_EQ(info.deviceId, 0x11u);
    EXPECT_TRUE(
        Eventually([&] { return sim_->State(index) == dovrik::sim::TerminalState::Closed; }));
    DSCloseConnectionByDeviceID(0x12345);
    EXPECT_EQ(DSGetModemCount(), 1);
}

TEST_F(DsFunctions, StartTwiceAndOnABusyPortFailWithTheirTexts) {
    EXPECT_EQ(DSStartService(port_), 0);
    EXPECT_EQ(LastError(), "Server has started!");
    DSStopService();

    asio::io_context io;
    asio::ip::tcp::acceptor holder(io, {asio::ip::address_v4::any(), 0});
    EXPECT_EQ(DSStartService(holder.local_endpoint().port()), 0);
    EXPECT_EQ(LastError(), "Binding socket failed\xA3\xA1");
    EXPECT_EQ(DSStartService(port_), 1);
}

TEST_F(DsFunctions, StopKeepsQueuedMessagesAndStoppedFunctionsStillAnswer) {
    Register(0x77);
    const std::size_t talker = Register(0x78);
    sim_->SendText(talker, "before stop");
    _PACKET packet;
    // The talker hangs up after its message; once it has left the table the
    // message is queued, and nothing has taken it.
    ASSERT_TRUE(
        Eventually([&] { return sim_->TotalSentWireBytes() >= 2 * kRegistrationBytes + 11; }));
    sim_->Close(talker);
    ASSERT_TRUE(Eventually([&] { return DSGetModemCount() == 1; }));
    DSStopService();
    DSStopService();
    EXPECT_EQ(DSGetModemCount(), 0);
    ModemInfo info;
    EXPECT_EQ(DSGetModemByPosition(0, &info), 0);
    EXPECT_EQ(DSSendData(0x77, 1, reinterpret_cast<const std::uint8_t*>("x")), 0);
    DSCloseConnectionByDeviceID(0x77);
    ASSERT_EQ(DSGetNextData(&packet, 0), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(packet.data), "before stop");
    EXPECT_EQ(DSStartService(port_), 1);
}

}  // namespace
