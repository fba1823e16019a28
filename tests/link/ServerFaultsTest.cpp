// What the network and the callers can throw at the server: silent peers,
// floods, resets, races between closes, stops in mid-traffic, and a worker
// thread that dies.
#include <algorithm>
#include <mutex>
#include <string>
#include <thread>

#include <asio/read.hpp>
#include <asio/write.hpp>

#include "ServerFixture.h"

namespace dovrik::testing {
namespace {

using namespace std::chrono_literals;
using sim::TerminalState;
using Bytes = std::vector<std::uint8_t>;

// A registered terminal on a plain socket with a tiny receive window, so that
// what the centre sends it fills the socket quickly.
struct RawTerminal {
    RawTerminal(std::uint16_t port, std::uint32_t id) : socket(io) {
        socket.open(asio::ip::tcp::v4());
        socket.set_option(asio::socket_base::receive_buffer_size(4096));
        socket.connect({asio::ip::address_v4::loopback(), port});
        asio::write(socket, asio::buffer(sim::RegistrationMessage(Terminal(id))));
    }
    asio::io_context io;
    asio::ip::tcp::socket socket;
};

TEST_F(ServerTest, SilentPeersDoNotLockRealTerminalsOut) {
    constexpr std::size_t kSilent = 1000;
    // A hundred at a time: a thousand connecting at once would overflow the
    // listen queue, and the kernel's SYN cookies may then lose some of them
    // before the service sees them.
    for (std::size_t batch = 100; batch <= kSilent; batch += 100) {
        while (sim_->Count() < batch) sim_->AddSilent();
        ASSERT_TRUE(Eventually([&] { return server_.PendingPeerCount() == batch; }));
    }
    // A waiting peer holds no receive buffer.
    EXPECT_LE(server_.BuffersInUse(), 4u);

    const auto start = std::chrono::steady_clock::now();
    sim_->Add(Terminal(77));
    ASSERT_TRUE(sim::TerminalSimulator::WaitUntil([&] { return Position(77) == 0; }, 1s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(server_.opened.load(), 1);
}

TEST_F(ServerTest, SilentPeersAreDroppedAfterTheLimitWithoutHooks) {
    EngineTimings timings;
    timings.round = 20ms;
    timings.silentPeerLimit = 200ms;
    server_.SetTimings(timings);
    std::vector<std::size_t> silent;
    for (int i = 0; i < 50; ++i) silent.push_back(sim_->AddSilent());
    ASSERT_TRUE(Eventually([&] { return server_.PendingPeerCount() == 50; }));
    const std::size_t real = Register(88);

    ASSERT_TRUE(Eventually([&] { return server_.PendingPeerCount() == 0; }));
    for (std::size_t i : silent) {
        EXPECT_TRUE(Eventually([&] { return sim_->State(i) == TerminalState::Closed; }));
    }
    EXPECT_EQ(server_.opened.load(), 1);
    EXPECT_EQ(server_.closed.load() + server_.failed.load(), 0);
    // The registered terminal is no peer in waiting and stays.
    EXPECT_EQ(sim_->State(real), TerminalState::Registered);
    EXPECT_EQ(server_.GetModemCount(), 1);
}

TEST_F(ServerTest, PeerThatClosesBeforeSpeakingReachesNoHook) {
    const std::size_t quiet = sim_->AddSilent();
    ASSERT_TRUE(Eventually([&] { return server_.PendingPeerCount() == 1; }));
    sim_->Close(quiet);
    ASSERT_TRUE(Eventually([&] { return server_.PendingPeerCount() == 0; }));
    EXPECT_EQ(server_.opened.load() + server_.closed.load() + server_.failed.load(), 0);
}

TEST_F(ServerTest, FloodingPeerStaysWithinTheQueueBound) {
    server_.SetQueueLimit(100);
    const std::size_t flooder = Register(61);
    const std::size_t calm = Register(62);
    for (int i = 0; i < 64; ++i)
        sim_->SendRaw(flooder, Bytes(128 * 1024, static_cast<std::uint8_t>(i)));
    ASSERT_TRUE(Eventually([&] { return sim_->TotalSentWireBytes() >= 64u * 128 * 1024; }));
    EXPECT_LE(server_.QueuedCount(), 101u);
    // The server still serves everyone else.
    Drain();
    sim_->SendText(calm, "still here");
    EXPECT_TRUE(Eventually([&] {
        for (const _PACKET& p : Drain()) {
            if (p.deviceId == 62) return true;
        }
        return false;
    }));
    EXPECT_EQ(server_.GetModemCount(), 2);
}

TEST_F(ServerTest, AbruptResetsAndHalfMessagesAreForgotten) {
    std::vector<std::size_t> index;
    for (std::uint32_t id = 1; id <= 40; ++id) index.push_back(sim_->Add(Terminal(id)));
    ASSERT_TRUE(Eventually([&] { return server_.GetModemCount() == 40; }));
    for (std::size_t i = 0; i < index.size(); ++i) {
        sim_->SendText(index[i], "partial AT+LRMPH");
        if (i % 2 == 0) {
            sim_->Reset(index[i]);
        } else {
            sim_->Close(index[i]);
        }
    }
    ASSERT_TRUE(Eventually([&] { return server_.GetModemCount() == 0; }));
    EXPECT_TRUE(Eventually([&] { return server_.OpenConnectionCount() == 0; }));
}

TEST_F(ServerTest, CloseByIdRacingThePeersOwnClose) {
    for (std::uint32_t round = 0; round < 100; ++round) {
        const std::uint32_t id = 1000 + round;
        const std::size_t index = Register(id);
        std::thread closer([&] { server_.CloseConnectionByDeviceId(id); });
        sim_->Reset(index);
        closer.join();
    }
    EXPECT_TRUE(Eventually([&] { return server_.GetModemCount() == 0; }));
    EXPECT_TRUE(Eventually([&] { return server_.OpenConnectionCount() == 0; }));
}

TEST_F(ServerTest, StopWhileTerminalsSendAndTheCentreSends) {
    std::vector<std::size_t> index;
    for (std::uint32_t id = 1; id <= 30; ++id) index.push_back(sim_->Add(Terminal(id)));
    ASSERT_TRUE(Eventually([&] { return server_.GetModemCount() == 30; }));
    std::atomic<bool> running{true};
    std::thread terminals([&] {
        while (running) {
            for (std::size_t i : index) sim_->SendText(i, "status report");
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread centre([&] {
        const Bytes line = {'A', 'T', '+', 'S', 'H', 'O', 'W', '\r'};
        while (running) {
            for (std::uint32_t id = 1; id <= 30; ++id) server_.SendData(id, 8, line.data());
        }
    });
    std::thread drainer([&] {
        _PACKET p;
        while (running) server_.GetNextData(&p);
    });
    std::this_thread::sleep_for(100ms);
    server_.StopService();
    EXPECT_EQ(server_.GetModemCount(), 0);
    ASSERT_EQ(server_.StartService(0), 1);
    running = false;
    terminals.join();
    centre.join();
    drainer.join();
}

TEST_F(ServerTest, BlockedSendEndsWhenTheConnectionIsClosed) {
    // A terminal that stops reading fills the socket buffers until the
    // centre's send blocks; closing the terminal must free the sender.
    asio::io_context io;
    asio::ip::tcp::socket peer(io);
    peer.open(asio::ip::tcp::v4());
    peer.set_option(asio::socket_base::receive_buffer_size(4096));
    peer.connect({asio::ip::address_v4::loopback(), server_.LocalPort()});
    const Bytes registration = sim::RegistrationMessage(Terminal(99));
    asio::write(peer, asio::buffer(registration));
    ASSERT_TRUE(Eventually([&] { return Position(99) == 0; }));

    std::atomic<int> sends{0};
    std::atomic<int> lastResult{1};
    std::thread sender([&] {
        const Bytes chunk(4096, 0x41);
        while (lastResult == 1) {
            lastResult = server_.SendData(99, 4096, chunk.data());
            ++sends;
        }
    });
    // Wait until the sender is stuck.
    int seen = -1;
    while (seen != sends.load()) {
        seen = sends.load();
        std::this_thread::sleep_for(50ms);
    }
    server_.CloseConnectionByDeviceId(99);
    sender.join();
    EXPECT_EQ(lastResult.load(), 0);
    char text[64];
    server_.CopyLastError(text, sizeof text);
    const std::string error = text;
    EXPECT_TRUE(error == kErrorSendFailed || error == kErrorModemBroken) << error;
}

TEST_F(ServerTest, ConcurrentSendsToOneTerminalArriveWhole) {
    RawTerminal peer(server_.LocalPort(), 98);
    ASSERT_TRUE(Eventually([&] { return Position(98) == 0; }));
    constexpr int kSenders = 2;
    constexpr int kMessages = 2000;
    constexpr std::size_t kSize = 4000;  // no byte needs escaping, so wire = plain
    auto message = [](int sender, int number) {
        Bytes bytes(kSize, static_cast<std::uint8_t>(0x10 + sender));
        bytes[0] = static_cast<std::uint8_t>(sender);
        bytes[1] = static_cast<std::uint8_t>(number % 200);
        return bytes;
    };
    Bytes stream(kSenders * kMessages * kSize);
    asio::error_code readError;
    std::thread reader([&] { asio::read(peer.socket, asio::buffer(stream), readError); });
    std::atomic<int> failures{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int m = 0; m < kMessages; ++m) {
                const Bytes bytes = message(s, m);
                if (server_.SendData(98, kSize, bytes.data()) != 1) ++failures;
            }
        });
    }
    for (auto& t : senders) t.join();
    if (failures > 0) server_.CloseConnectionByDeviceId(98);  // frees the reader
    reader.join();
    ASSERT_EQ(failures.load(), 0);
    ASSERT_FALSE(readError) << readError.message();
    std::vector<int> next(kSenders, 0);
    for (std::size_t at = 0; at < stream.size(); at += kSize) {
        const int sender = stream[at];
        ASSERT_LT(sender, kSenders) << "at byte " << at;
        const Bytes expected = message(sender, next[sender]++);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), stream.begin() + at))
            << "message " << next[sender] - 1 << " of sender " << sender << " torn at byte " << at;
    }
}

TEST_F(ServerTest, DyingWorkerShutsTheServerDownUntilStopped) {
    std::mutex lock;
    std::vector<std::string> messages;
    server_.SetOperatorMessageSink([&](const std::string& text) {
        std::lock_guard guard(lock);
        messages.push_back(text);
    });
    const std::size_t index = Register(71);
    server_.InjectWorkerFault();
    ASSERT_TRUE(Eventually([&] { return sim_->State(index) == TerminalState::Closed; }));
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard guard(lock);
        return messages.size() == 2;
    }));
    EXPECT_EQ(messages[0], kWorkerExitMessage);
    EXPECT_EQ(messages[1], kEngineFailureMessage);

    // Still counted as running until stopped.
    EXPECT_EQ(server_.StartService(0), 0);
    char text[64];
    server_.CopyLastError(text, sizeof text);
    EXPECT_STREQ(text, kErrorServerStarted);
    server_.StopService();
    ASSERT_EQ(server_.StartService(0), 1);
    sim_ = MakeSimulator();
    Register(72);
}

}  // namespace
}  // namespace dovrik::testing
