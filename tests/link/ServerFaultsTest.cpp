// What the network, the callers and the machine can throw at the server:
// silent peers, floods, resets, races between closes, stops in mid-traffic,
// terminals that stop reading, senders on one terminal at once, descriptors
// that run out, threads that cannot be made, and workers that die or hang.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include <asio/read.hpp>
#include <asio/write.hpp>

#include "ServerFixture.h"
#include "platform/SocketPlatform.h"

namespace dovrik::testing {
namespace {

using namespace std::chrono_literals;
using sim::TerminalState;
using Bytes = std::vector<std::uint8_t>;

// Lowers the soft descriptor limit to just above the descriptors open now
// and takes every one left, as a process that has run out; gives them back
// and restores the limit when it ends.
class DescriptorExhaustion final {
  public:
    DescriptorExhaustion() {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            highest = std::max(highest, std::atoi(entry.path().filename().c_str()));
        }
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(highest) + 16;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;) taken_.push_back(fd);
        error_ = errno;
    }
    ~DescriptorExhaustion() {
        for (int fd : taken_) ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorExhaustion(const DescriptorExhaustion&) = delete;
    DescriptorExhaustion& operator=(const DescriptorExhaustion&) = delete;

    int Error() const { return error_; }

  private:
    rlimit saved_{};
    std::vector<int> taken_;
    int error_ = 0;
};

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
    // Both ends of every connection live in this process.
    if (platform::RaiseDescriptorLimit() < 2 * kSilent + 200) {
        GTEST_SKIP() << "the hard descriptor limit is too low";
    }
    // A hundred at a time: a thousand connecting at once would overflow the
    // listen queue, and the kernel's SYN cookies may then lose some of them
    // before the service sees them.
    for (std::size_t batch = 100; batch <= kSilent; batch += 100) {
        while (sim_->Count() < batch) sim_->AddSilent();
        ASSERT_TRUE(Eventually([&] { return server_.PendingPeerCount() == batch; }));
    }
    // A waiting peer holds no receive buffer.
    EXPECT_LE(server_.BuffersInUse(), 4u);

    // The terminal gets in while every silent peer still waits: it is not
    // queued behind them until the scan drops them 300 s later.
    sim_->Add(Terminal(77));
    ASSERT_TRUE(Eventually([&] { return Position(77) == 0; }));
    EXPECT_EQ(server_.PendingPeerCount(), kSilent);
    EXPECT_EQ(server_.opened.load(), 1);
}

TEST_F(ServerTest, PendingPeersPastTheBoundDropTheOldestFirst) {
    server_.SetPendingPeerLimit(3);
    std::vector<std::size_t> silent;
    for (std::size_t i = 0; i < 6; ++i) {
        silent.push_back(sim_->AddSilent());
        // One at a time, so that acceptance follows this order.
        if (i < 3) {
            ASSERT_TRUE(Eventually([&] { return server_.PendingPeerCount() == i + 1; }));
        } else {
            ASSERT_TRUE(
                Eventually([&] { return sim_->State(silent[i - 3]) == TerminalState::Closed; }));
        }
    }
    EXPECT_EQ(server_.PendingPeerCount(), 3u);
    for (std::size_t i = 3; i < 6; ++i) EXPECT_NE(sim_->State(silent[i]), TerminalState::Closed);

    Register(90);  // pushes the oldest silent peer out in turn
    EXPECT_TRUE(Eventually([&] { return sim_->State(silent[3]) == TerminalState::Closed; }));
    EXPECT_EQ(server_.opened.load(), 1);
    EXPECT_EQ(server_.closed.load() + server_.failed.load(), 0);
}

TEST_F(ServerTest, RunningOutOfDescriptorsIsToldOnceAndWaitingTerminalsGetIn) {
    std::mutex lock;
    std::vector<std::string> messages;
    server_.SetOperatorMessageSink([&](const std::string& text) {
        std::lock_guard guard(lock);
        messages.push_back(text);
    });
    auto told = [&] {
        std::lock_guard guard(lock);
        return messages;
    };
    EngineTimings timings;
    timings.round = 5ms;
    server_.SetTimings(timings);
    // One terminal gets in first. Besides, the sanitizers check each kind of
    // virtual call once, through a pipe; the first check must not fall into
    // the time without descriptors.
    Register(39);
    // The terminals' own sockets exist before the process runs out.
    asio::io_context io;
    std::vector<asio::ip::tcp::socket> terminals;
    for (int i = 0; i < 2; ++i) terminals.emplace_back(io).open(asio::ip::tcp::v4());
    {
        DescriptorExhaustion exhaustion;
        ASSERT_EQ(exhaustion.Error(), EMFILE);
        for (std::size_t i = 0; i < terminals.size(); ++i) {
            terminals[i].connect({asio::ip::address_v4::loopback(), server_.LocalPort()});
            const auto id = static_cast<std::uint32_t>(40 + i);
            asio::write(terminals[i], asio::buffer(sim::RegistrationMessage(Terminal(id))));
        }
        ASSERT_TRUE(Eventually([&] { return !told().empty(); }));
        // The accepts posted before it all fail at once; then only probes.
        ASSERT_TRUE(Eventually([&] { return server_.OutstandingAccepts() <= 1; }));
        const auto failed = server_.FailedAccepts();
        const auto rounds = server_.ListenerRounds();
        ASSERT_TRUE(Eventually([&] { return server_.ListenerRounds() >= rounds + 10; }));
        // No spinning: at most the one probe of each round fails.
        EXPECT_LE(server_.FailedAccepts() - failed, server_.ListenerRounds() - rounds + 2);
        EXPECT_EQ(server_.GetModemCount(), 1);
    }
    // Descriptors are free again: the terminals waiting in the backlog get in.
    ASSERT_TRUE(Eventually([&] { return server_.GetModemCount() == 3; }));
    EXPECT_EQ(told(), std::vector<std::string>{kOutOfDescriptorsMessage});
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
    // centre's send waits for room; closing the terminal must free the sender
    // long before its send timeout would.
    EngineTimings timings;
    timings.sendTimeout = std::chrono::hours(1);
    server_.SetTimings(timings);
    RawTerminal peer(server_.LocalPort(), 99);
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
    const std::string error = LastError();
    EXPECT_TRUE(error == kErrorSendFailed || error == kErrorModemBroken) << error;
}

TEST_F(ServerTest, SendToATerminalThatStopsReadingTimesOutAndDropsIt) {
    EngineTimings timings;
    timings.sendTimeout = 20ms;
    server_.SetTimings(timings);
    RawTerminal peer(server_.LocalPort(), 97);
    ASSERT_TRUE(Eventually([&] { return Position(97) == 0; }));

    // The terminal reads nothing: the sends fill its socket until one fails.
    // One that wrote nothing in time leaves the terminal be, so the terminal
    // then reads a little: a later message goes out in part, and is cut off.
    const Bytes chunk(4096, 0x41);
    Bytes sink(64 * 1024);
    bool dropped = false;
    for (int attempt = 0; attempt < 10'000 && !dropped; ++attempt) {
        if (server_.SendData(97, 4096, chunk.data()) == 1) continue;
        dropped = Position(97) == -1;
        if (!dropped) peer.socket.read_some(asio::buffer(sink.data(), 1000));
    }
    ASSERT_TRUE(dropped);
    EXPECT_EQ(LastError(), kErrorSendFailed);
    // Gone at once, as if closed by its ID: no hook, no connection left.
    EXPECT_EQ(Position(97), -1);
    EXPECT_EQ(server_.OpenConnectionCount(), 0u);
    EXPECT_EQ(server_.closed.load() + server_.failed.load(), 0);
    EXPECT_EQ(server_.SendData(97, 1, chunk.data()), 0);
    EXPECT_EQ(LastError(), kErrorModemBroken);
    // The terminal sees a reset after the bytes that made it, never the rest
    // of a message that was cut off.
    asio::error_code error;
    while (!error) peer.socket.read_some(asio::buffer(sink), error);
    EXPECT_EQ(error, asio::error::connection_reset) << error.message();
}

TEST(SendDeadline, TellsAMessageCutOffFromOneNeverStarted) {
    // A socket whose peer reads nothing, with the smallest send buffer.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const int small = 1;
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::fcntl(pair[0], F_SETFL, O_NONBLOCK);
    const std::atomic<bool> open{false};
    const auto now = [] { return std::chrono::steady_clock::now(); };
    const std::uint8_t byte = 'z';
    platform::WriteOutcome outcome = platform::WriteOutcome::Written;
    for (int i = 0; i < 100'000 && outcome == platform::WriteOutcome::Written; ++i) {
        outcome = platform::WriteUntil(pair[0], &byte, 1, now(), open);
    }
    // Full: a single byte is written whole or not at all. Nothing went out,
    // so the stream is intact and the connection may stay.
    EXPECT_EQ(outcome, platform::WriteOutcome::NotWritten);
    // Room for part of a long message: that one is cut, and the connection
    // must go.
    Bytes drain(4096);
    ASSERT_GT(::read(pair[1], drain.data(), drain.size()), 0);
    const Bytes message(256 * 1024, 'm');
    EXPECT_EQ(platform::WriteUntil(pair[0], message.data(), message.size(), now() + 20ms, open),
              platform::WriteOutcome::TimedOut);
    ::close(pair[0]);
    ::close(pair[1]);
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

TEST_F(ServerTest, PeerDroppedWhileItsFirstMessageIsReadNeverRegisters) {
    EngineTimings timings;
    timings.round = 5ms;
    timings.silentPeerLimit = std::chrono::hours(1);
    server_.SetTimings(timings);
    std::atomic<int> drilled{0};
    EngineDrills drills;
    drills.beforeAdmission = [&](const ConnectionPtr&) {
        // The silent-peer scan strikes between the read and the admission.
        EngineTimings dropAll = timings;
        dropAll.silentPeerLimit = 0ms;
        server_.SetTimings(dropAll);
        Eventually([&] { return server_.PendingPeerCount() == 0; });
        ++drilled;
    };
    server_.SetDrills(drills);
    const std::size_t index = sim_->Add(Terminal(5));
    ASSERT_TRUE(Eventually([&] { return sim_->State(index) == TerminalState::Closed; }));
    ASSERT_TRUE(Eventually([&] { return drilled == 1; }));
    EXPECT_EQ(server_.GetModemCount(), 0);
    EXPECT_EQ(server_.opened.load(), 0);
    EXPECT_EQ(server_.OpenConnectionCount(), 0u);
    server_.SetDrills({});
}

TEST_F(ServerTest, ThreadThatCannotBeMadeFailsTheStartAndLeavesItStartable) {
    sim_.reset();
    server_.StopService();
    // The first thread made is the listener, the next four are its workers.
    for (int failing : {1, 2, 5}) {
        std::atomic<int> made{0};
        EngineDrills drills;
        drills.makeThread = [&](std::function<void()> body) {
            if (++made == failing) {
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            }
            return std::thread(std::move(body));
        };
        server_.SetDrills(drills);
        EXPECT_EQ(server_.StartService(0), 0) << "thread " << failing;
        EXPECT_EQ(LastError(), kErrorThreadFailed);
        EXPECT_FALSE(server_.IsStarted());
        server_.SetDrills({});

        ASSERT_EQ(server_.StartService(0), 1);
        sim_ = MakeSimulator();
        Register(static_cast<std::uint32_t>(60 + failing));
        sim_.reset();
        server_.StopService();
    }
}

// Every worker ends up in a hook that does not return, so the stop gives up
// on them and stops the io_context with the shutdown's aborted completions
// still queued, among them the wait of one more terminal that is idle.
void StopWithEveryWorkerStuck(CountingServer& server, sim::TerminalSimulator& sim) {
    EngineTimings timings;
    timings.workerExitWait = 1ms;
    server.SetTimings(timings);
    std::vector<std::size_t> index;
    for (std::uint32_t id = 1; id <= CIOCPServer::kWorkerThreads + 1; ++id) {
        index.push_back(sim.Add(Terminal(id)));
    }
    ASSERT_TRUE(sim::TerminalSimulator::WaitUntil(
        [&] { return server.GetModemCount() == CIOCPServer::kWorkerThreads + 1; }, 10s));
    server.HoldReads();
    index.pop_back();
    for (std::size_t i : index) sim.SendText(i, "stuck");
    ASSERT_TRUE(sim::TerminalSimulator::WaitUntil(
        [&] { return server.HeldReads() == CIOCPServer::kWorkerThreads; }, 10s));
    EngineDrills drills;
    drills.workersAbandoned = [&] { server.ReleaseReads(); };
    server.SetDrills(drills);
    server.StopService();
    server.SetDrills({});
}

TEST_F(ServerTest, WorkersStuckPastTheExitWaitLeaveNothingToTheNextRun) {
    StopWithEveryWorkerStuck(server_, *sim_);
    ASSERT_EQ(server_.StartService(0), 1);
    sim_ = MakeSimulator();
    // More terminals than the initial accepts: the new run's count of
    // outstanding accepts must be its own.
    constexpr std::uint32_t kTerminals = 30;
    for (std::uint32_t id = 100; id < 100 + kTerminals; ++id) sim_->Add(Terminal(id));
    ASSERT_TRUE(Eventually([&] { return server_.GetModemCount() == kTerminals; }));
    EXPECT_LE(server_.OutstandingAccepts(), 100u);
}

TEST(ServerUnload, AfterWorkersWereAbandonedTouchesNothingFreed) {
    // The library unloaded right after such a stop, without a restart.
    auto server = std::make_unique<CountingServer>();
    ASSERT_EQ(server->StartService(0), 1);
    sim::TerminalSimulator::Options options;
    options.port = server->LocalPort();
    sim::TerminalSimulator sim(options);
    StopWithEveryWorkerStuck(*server, sim);
    server.reset();  // the address checker sees any touch of the freed pools
}

}  // namespace
}  // namespace dovrik::testing
