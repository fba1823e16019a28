// The service in a process with few descriptors: silent connections must
// never take the ones that registering terminals need. The terminals' ends
// live in a child process, so only the service's ends count against the
// limit; the limit is lowered for good, so this runs as its own program.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "Dovrik.h"
#include "LoopbackPort.h"
#include "TerminalSimulator.h"

namespace {

using namespace std::chrono_literals;

// Raw terminals in a forked child, driven by commands through two pipes.
class TerminalsChild final {
  public:
    enum Op : std::uint32_t { Register, ConnectSilently, CountClosed, Exit };

    explicit TerminalsChild(std::uint16_t port) : port_(port) {
        int down[2];
        int up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(down[1]);
            ::close(up[0]);
            in_ = down[0];
            out_ = up[1];
            Serve();
            ::_exit(0);
        }
        ::close(down[0]);
        ::close(up[1]);
        out_ = down[1];
        in_ = up[0];
    }
    ~TerminalsChild() {
        if (pid_ > 0) {
            Ask(Exit, 0);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(in_);
        ::close(out_);
    }
    bool Started() const { return pid_ > 0; }

    // Returns the child's answer: terminals connected, or registered ones closed.
    std::uint32_t Ask(Op op, std::uint32_t count, std::uint32_t firstId = 0) {
        const std::uint32_t command[3] = {op, count, firstId};
        if (::write(out_, command, sizeof command) != sizeof command) return 0;
        std::uint32_t answer = 0;
        return ::read(in_, &answer, sizeof answer) == sizeof answer ? answer : 0;
    }

  private:
    int Connect(bool blocking) const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) return -1;
        if (!blocking) ::fcntl(fd, F_SETFL, O_NONBLOCK);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void Serve() {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        std::vector<int> registered;
        std::vector<int> silent;
        for (;;) {
            std::uint32_t command[3];
            if (::read(in_, command, sizeof command) != sizeof command) return;
            std::uint32_t answer = 0;
            if (command[0] == Register) {
                for (std::uint32_t i = 0; i < command[1]; ++i) {
                    const int fd = Connect(true);
                    if (fd < 0) continue;
                    dovrik::sim::TerminalSpec setup;
                    setup.deviceId = command[2] + i;
                    setup.simNumber = "13900000000";
                    const auto message = dovrik::sim::RegistrationMessage(setup);
                    if (::write(fd, message.data(), message.size()) > 0) ++answer;
                    registered.push_back(fd);
                }
            } else if (command[0] == ConnectSilently) {
                for (std::uint32_t i = 0; i < command[1]; ++i) {
                    const int fd = Connect(false);
                    if (fd >= 0) silent.push_back(fd), ++answer;
                }
            } else if (command[0] == CountClosed) {
                for (int fd : registered) {
                    char byte = 0;
                    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
                    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) ++answer;
                }
            } else {
                return;
            }
            if (::write(out_, &answer, sizeof answer) != sizeof answer) return;
        }
    }

    std::uint16_t port_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

bool Eventually(const std::function<bool()>& condition) {
    return dovrik::sim::TerminalSimulator::WaitUntil(condition, 20s);
}

TEST(DescriptorPressure, SilentConnectionsNeverLockARegisteringTerminalOut) {
    constexpr rlim_t kLimit = 600;
    constexpr std::uint32_t kRegistered = 400;
    const std::uint16_t port = testsupport::FreePort();
    TerminalsChild terminals(port);  // before this process has any thread
    ASSERT_TRUE(terminals.Started());
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < kLimit) GTEST_SKIP() << "the hard descriptor limit is too low";
    limit.rlim_cur = limit.rlim_max = kLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    ASSERT_EQ(DSStartService(port), 1);

    for (std::uint32_t first = 1; first <= kRegistered; first += 100) {
        ASSERT_EQ(terminals.Ask(TerminalsChild::Register, 100, first), 100u);
        ASSERT_TRUE(Eventually([&] { return DSGetModemCount() == static_cast<int>(first + 99); }));
    }
    // More silent connections than descriptors are free, then a terminal
    // that registers: it gets in, and no registered terminal makes room.
    ASSERT_EQ(terminals.Ask(TerminalsChild::ConnectSilently, 400), 400u);
    ASSERT_EQ(terminals.Ask(TerminalsChild::Register, 1, 5000), 1u);
    EXPECT_TRUE(Eventually([&] { return DSGetModemCount() == kRegistered + 1; }));
    ModemInfo last{};
    EXPECT_EQ(DSGetModemByPosition(kRegistered, &last), 1);
    EXPECT_EQ(last.deviceId, 5000u);
    EXPECT_EQ(terminals.Ask(TerminalsChild::CountClosed, 0), 0u);
    DSStopService();
}

}  // namespace
