// The terminal server over real loopback TCP: registration, heartbeat, data,
// the terminal table and the receive queue.
#include <cstring>
#include <string>
#include <thread>

#include "ServerFixture.h"

namespace dovrik::testing {
namespace {

using sim::TerminalState;
using Bytes = std::vector<std::uint8_t>;

TEST_F(ServerTest, RegistrationFillsTheTableFromTheFirstMessage) {
    Register(0x0A0B0C0D);
    const ModemInfo info = Info(0x0A0B0C0D);
    EXPECT_EQ(info.deviceId, 0x0A0B0C0Du);
    EXPECT_STREQ(info.simNumber, "13912345678");
    EXPECT_EQ(info.ipAddress[0], 10);
    EXPECT_EQ(info.ipAddress[3], 0x0D);
    EXPECT_EQ(info.loginTime, now_.load());
    EXPECT_EQ(info.lastUpdateTime, info.loginTime);
    // Nothing of the registration is queued.
    EXPECT_TRUE(Drain().empty());
}

TEST_F(ServerTest, MalformedFirstMessagesCloseTheConnectionWithoutRegistering) {
    Bytes twenty = sim::RegistrationMessage(Terminal(1));
    twenty.resize(20);
    Bytes unterminated = sim::RegistrationMessage(Terminal(2));
    unterminated[15] = 0x31;
    Bytes junk(64 * 1024, 0xAB);  // oversized garbage
    const std::size_t a = sim_->AddWithFirstMessage(Terminal(1), twenty);
    const std::size_t b = sim_->AddWithFirstMessage(Terminal(2), unterminated);
    const std::size_t c = sim_->AddWithFirstMessage(Terminal(3), junk);
    EXPECT_TRUE(Eventually([&] {
        return sim_->State(a) == TerminalState::Closed && sim_->State(b) == TerminalState::Closed &&
               sim_->State(c) == TerminalState::Closed;
    }));
    EXPECT_EQ(server_.GetModemCount(), 0);
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(server_.closed.load() + server_.failed.load(), 0);

    // The server goes on registering well-formed terminals.
    Register(4);
    EXPECT_EQ(server_.GetModemCount(), 1);
}

TEST_F(ServerTest, ExactlyTwentyOneBytesRegister) {
    const std::size_t index =
        sim_->AddWithFirstMessage(Terminal(7), sim::RegistrationMessage(Terminal(7)));
    ASSERT_TRUE(Eventually([&] { return Position(7) == 0; }));
    // The simulator marks its terminal when its write completes, which may
    // come after the server has listed it.
    EXPECT_TRUE(Eventually([&] { return sim_->State(index) == TerminalState::Registered; }));
}

TEST_F(ServerTest, DataRidingWithTheRegistrationIsLost) {
    Bytes first = sim::RegistrationMessage(Terminal(9));
    const std::string extra = "AT+SHOW\r";
    first.insert(first.end(), extra.begin(), extra.end());
    const std::size_t index = sim_->AddWithFirstMessage(Terminal(9), first);
    ASSERT_TRUE(Eventually([&] { return Position(9) == 0; }));
    sim_->SendText(index, "next");
    const _PACKET p = NextPacket();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data), p.length), "next");
    EXPECT_TRUE(Drain().empty());
}

TEST_F(ServerTest, DataIsUnescapedStampedAndTerminated) {
    const std::size_t index = Register(0x11223344);
    now_ += 5;
    sim_->SendRaw(index, {0xFD, 0xED, 0xFD, 0xEE, 0x41, 0xFD});
    const _PACKET p = NextPacket();
    EXPECT_EQ(p.deviceId, 0x11223344u);
    EXPECT_EQ(p.receiveTime, now_.load());
    EXPECT_EQ(DataOf(p), (Bytes{0xFD, 0xFE, 0x41}));
    EXPECT_EQ(p.data[p.length], 0);
    EXPECT_EQ(p.valid, 1);
    EXPECT_EQ(Info(0x11223344).lastUpdateTime, now_.load());
    // The stray escape byte at the end waits for what follows it; when the
    // terminal hangs up, nothing does, and it is the last byte of its stream.
    sim_->Close(index);
    EXPECT_EQ(DataOf(NextPacket()), Bytes{0xFD});
}

TEST_F(ServerTest, HeartbeatOnlyRefreshesTheUpdateTime) {
    const std::size_t index = Register(21);
    const std::uint32_t login = Info(21).loginTime;
    now_ += 60;
    sim_->SendHeartbeat(index);
    ASSERT_TRUE(Eventually([&] { return Info(21).lastUpdateTime == now_.load(); }));
    EXPECT_EQ(Info(21).loginTime, login);
    EXPECT_TRUE(Drain().empty());

    // A plain FE is a heartbeat wherever it sits in a receive.
    sim_->SendRaw(index, {0xFE, 0x41});
    EXPECT_EQ(DataOf(NextPacket()), (Bytes{0x41}));
}

TEST_F(ServerTest, LongReceivesAreQueuedWholeInPacketsCallersKeep) {
    const std::size_t index = Register(22);
    now_ += 30;
    sim_->SendRaw(index, Bytes(4097, 0x41));
    ASSERT_TRUE(Eventually([&] { return Info(22).lastUpdateTime == now_.load(); }));
    std::size_t bytes = 0;
    while (bytes < 4097) {
        const _PACKET p = NextPacket();
        ASSERT_GT(p.length, 0);
        // Never 4096: callers skip a packet of that length as cut off.
        ASSERT_LE(p.length, 4095);
        EXPECT_EQ(p.data[p.length - 1], 0x41);
        EXPECT_EQ(p.data[p.length], 0);
        bytes += p.length;
    }
    EXPECT_EQ(bytes, 4097u);
}

TEST_F(ServerTest, QueueDropsMessagesBeyondItsLimitYetRefreshes) {
    server_.SetQueueLimit(3);
    const std::size_t index = Register(23);
    for (int i = 0; i < 4; ++i) {
        sim_->SendText(index, std::string("m").append(std::to_string(i)));
        ASSERT_TRUE(
            Eventually([&] { return server_.QueuedCount() == static_cast<std::size_t>(i + 1); }));
    }
    // Four waiting: more than three, so the fifth is dropped.
    now_ += 9;
    const int readsBefore = server_.reads.load();
    sim_->SendText(index, "dropped");
    ASSERT_TRUE(Eventually([&] { return server_.reads.load() == readsBefore + 1; }));
    EXPECT_EQ(server_.QueuedCount(), 4u);
    EXPECT_EQ(Info(23).lastUpdateTime, now_.load());
    const auto packets = Drain();
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(packets[3].data)), "m3");
}

TEST_F(ServerTest, ListKeepsRegistrationOrderAndShiftsOnRemoval) {
    Register(1);
    const std::size_t second = Register(2);
    Register(3);
    EXPECT_EQ(Position(1), 0);
    EXPECT_EQ(Position(2), 1);
    EXPECT_EQ(Position(3), 2);
    ModemInfo untouched{};
    untouched.deviceId = 0xDEAD;
    EXPECT_EQ(server_.GetModemByPosition(3, &untouched), 0);
    EXPECT_EQ(untouched.deviceId, 0xDEADu);

    sim_->Close(second);
    ASSERT_TRUE(Eventually([&] { return server_.GetModemCount() == 2; }));
    EXPECT_EQ(Position(1), 0);
    EXPECT_EQ(Position(3), 1);
    EXPECT_EQ(server_.closed.load(), 1);
}

TEST_F(ServerTest, ReRegistrationReplacesTheOldConnection) {
    const std::size_t first = Register(5);
    Register(6);
    now_ += 100;
    const std::size_t second = sim_->Add(Terminal(5, "13000000000"));
    ASSERT_TRUE(Eventually([&] { return sim_->State(first) == TerminalState::Closed; }));
    ASSERT_TRUE(Eventually([&] { return Position(5) == 1; }));
    EXPECT_EQ(server_.GetModemCount(), 2);
    EXPECT_EQ(Info(5).loginTime, now_.load());
    EXPECT_STREQ(Info(5).simNumber, "13000000000");
    // No hook ran for the replaced connection, and sends reach the new one.
    EXPECT_EQ(server_.closed.load() + server_.failed.load(), 0);
    const std::uint8_t hello[] = {'h', 'i'};
    EXPECT_EQ(server_.SendData(5, 2, hello), 1);
    EXPECT_TRUE(Eventually([&] { return sim_->Received(second) == Bytes{'h', 'i'}; }));
    EXPECT_TRUE(sim_->Received(first).empty());
}

TEST_F(ServerTest, BrokenConnectionLeavesTheListButItsMessagesStay) {
    const std::size_t index = Register(31);
    sim_->SendText(index, "before the break");
    ASSERT_TRUE(Eventually([&] { return server_.QueuedCount() == 1; }));
    sim_->Reset(index);
    ASSERT_TRUE(Eventually([&] { return server_.GetModemCount() == 0; }));
    EXPECT_EQ(server_.SendData(31, 1, reinterpret_cast<const std::uint8_t*>("x")), 0);
    const auto packets = Drain();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].deviceId, 31u);
}

TEST_F(ServerTest, SendEscapesAndSendsOnlyWholeMessages) {
    const std::size_t index = Register(41);
    const Bytes plain = {0xFD, 0xFE, 0x41};
    ASSERT_EQ(server_.SendData(41, 3, plain.data()), 1);
    ASSERT_TRUE(Eventually([&] { return sim_->ReceivedWireBytes(index) == 5; }));
    EXPECT_EQ(sim_->Received(index), plain);

    // Longer than one message once escaped: refused, nothing sent, and the
    // terminal stays.
    const Bytes many(3000, 0xFE);
    EXPECT_EQ(server_.SendData(41, 3000, many.data()), 0);
    EXPECT_EQ(LastError(), kErrorSendFailed);
    const Bytes full(2048, 0xFE);
    ASSERT_EQ(server_.SendData(41, 2048, full.data()), 1);
    ASSERT_TRUE(Eventually([&] { return sim_->ReceivedWireBytes(index) == 5 + 4096; }));
    EXPECT_EQ(Position(41), 0);
}

TEST_F(ServerTest, CloseByIdDropsTheTerminalWithoutHooks) {
    const std::size_t index = Register(51);
    Register(52);
    server_.CloseConnectionByDeviceId(51);
    EXPECT_EQ(Position(51), -1);
    EXPECT_EQ(Position(52), 0);
    ASSERT_TRUE(Eventually([&] { return sim_->State(index) == TerminalState::Closed; }));
    server_.CloseConnectionByDeviceId(51);  // unknown now: ignored
    server_.CloseConnectionByDeviceId(999);
    EXPECT_EQ(server_.GetModemCount(), 1);
    EXPECT_EQ(server_.closed.load() + server_.failed.load(), 0);
}

TEST_F(ServerTest, DeliversEachTerminalsMessagesInOrderUnderLoad) {
    constexpr int kTerminals = 20;
    constexpr int kMessages = 200;
    std::vector<std::size_t> index;
    for (int t = 0; t < kTerminals; ++t) index.push_back(Register(100 + t));
    std::thread senders([&] {
        for (int m = 0; m < kMessages; ++m) {
            for (int t = 0; t < kTerminals; ++t) sim_->SendText(index[t], std::to_string(m) + ";");
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    std::vector<std::string> got(kTerminals);
    std::size_t expectedBytes = 0;
    for (int m = 0; m < kMessages; ++m) expectedBytes += (std::to_string(m) + ";").size();
    auto complete = [&] {
        for (const _PACKET& p : Drain())
            got[p.deviceId - 100].append(reinterpret_cast<const char*>(p.data), p.length);
        for (const auto& text : got) {
            if (text.size() < expectedBytes) return false;
        }
        return true;
    };
    const bool done = Eventually(complete);
    senders.join();
    ASSERT_TRUE(done);
    std::string expected;
    for (int m = 0; m < kMessages; ++m) expected += std::to_string(m) + ";";
    for (const auto& text : got) EXPECT_EQ(text, expected);
}

TEST_F(ServerTest, StopClosesEveryoneKeepsTheQueueAndStartsAgain) {
    std::vector<std::size_t> index;
    for (std::uint32_t id = 1; id <= 5; ++id) index.push_back(Register(id));
    sim_->SendText(index[0], "kept");
    ASSERT_TRUE(Eventually([&] { return server_.QueuedCount() == 1; }));

    const std::uint16_t port = server_.LocalPort();
    server_.StopService();
    EXPECT_FALSE(server_.IsStarted());
    EXPECT_EQ(server_.GetModemCount(), 0);
    EXPECT_EQ(server_.SendData(1, 1, reinterpret_cast<const std::uint8_t*>("x")), 0);
    for (std::size_t i : index) {
        EXPECT_TRUE(Eventually([&] { return sim_->State(i) == TerminalState::Closed; }));
    }
    server_.StopService();  // stopping twice does nothing

    ASSERT_EQ(server_.StartService(port), 1);
    sim_ = MakeSimulator();
    Register(6);
    EXPECT_EQ(server_.GetModemCount(), 1);
    const auto packets = Drain();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(packets[0].data), "kept");
}

TEST_F(ServerTest, SecondStartFailsAndBusyPortFailsToBind) {
    EXPECT_EQ(server_.StartService(0), 0);
    char text[64];
    server_.CopyLastError(text, sizeof text);
    EXPECT_STREQ(text, kErrorServerStarted);

    CountingServer other;
    EXPECT_EQ(other.StartService(server_.LocalPort()), 0);
    other.CopyLastError(text, sizeof text);
    EXPECT_STREQ(text, "Binding socket failed\xA3\xA1");
    EXPECT_FALSE(other.IsStarted());
    EXPECT_EQ(other.StartService(0), 1);
}

}  // namespace
}  // namespace dovrik::testing
