// Shared pieces of the benchmark programs: a load process of raw terminals,
// a bare epoll reader to compare against, and process measurements.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace bench {

// Raises the descriptor limit to the hard maximum; returns the new limit.
long RaiseDescriptorLimit();
// Resident set size of this process, in bytes.
long long ResidentBytes();
// User plus system CPU time of this process, in seconds.
double CpuSeconds();
double Median(std::vector<double> values);
// Entries of a folder without "." and "..": /proc/self/fd gives the open
// descriptors, /proc/self/task the threads. -1 when it cannot be read.
int CountEntries(const char* folder);
// A port nobody listens on right now.
std::uint16_t FreePort();
// The steady clock in nanoseconds. It is the machine's monotonic clock, so
// the readings of a parent and its child can be compared.
std::uint64_t SteadyNanoseconds();

// A forked child process, spoken to through two pipes of 64-bit words. Fork
// it before this process starts any thread.
class ChildProcess final {
  public:
    using Body = std::function<int(ChildProcess& parent)>;
    explicit ChildProcess(const Body& body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Send(std::uint64_t word);
    std::uint64_t Receive();
    int Wait();

  private:
    int pid_ = -1;
    int readFd_ = -1;
    int writeFd_ = -1;
};

// Raw non-blocking terminals driven by one epoll loop: cheap enough that the
// load costs the machine as little as possible.
class LoadTerminals final {
  public:
    LoadTerminals(std::uint16_t port, int count, std::uint32_t firstId);
    ~LoadTerminals();
    LoadTerminals(const LoadTerminals&) = delete;
    LoadTerminals& operator=(const LoadTerminals&) = delete;

    // Connects every terminal at once and sends each its registration.
    // Returns the number registered before the timeout.
    int ConnectAll(std::chrono::milliseconds timeout);
    // The same for the next `count` terminals not connected yet; it returns
    // once they are all connected, or at the timeout.
    int ConnectNext(std::size_t count, std::chrono::milliseconds timeout);
    // Sends `message` round-robin from all terminals at `perSecond` messages a
    // second in total, for `duration`. Returns the number of messages sent.
    std::uint64_t Pace(const std::vector<std::uint8_t>& message, double perSecond,
                       std::chrono::milliseconds duration);
    // The same with several messages, taken in turn.
    std::uint64_t Pace(const std::vector<std::vector<std::uint8_t>>& messages, double perSecond,
                       std::chrono::milliseconds duration);
    // Writes `message` over and over from every terminal, as fast as the sockets
    // take it, for `duration`: a writable socket gets up to `perWrite` messages
    // in one send, and each stream stays whole messages back to back. Returns
    // the number of bytes written.
    std::uint64_t Flood(const std::vector<std::uint8_t>& message, int perWrite,
                        std::chrono::milliseconds duration);
    // Reads until `bytes` have arrived in total or the timeout passes.
    std::uint64_t ReadUntil(std::uint64_t bytes, std::chrono::milliseconds timeout);
    void CloseAll();

  private:
    std::uint16_t port_;
    std::uint32_t firstId_;
    std::vector<int> sockets_;
    std::size_t connected_ = 0;  // sockets_[0, connected_) have been connected
    int epoll_ = -1;
    std::uint64_t received_ = 0;
};

// Words a RegisteringChild understands besides its own.
inline constexpr std::uint64_t kStepwiseWord = 0x57E9;      // as "go": connect batch by batch
inline constexpr std::uint64_t kCloseAllWord = 0xC105EA11;  // close every terminal

// The body of a child that registers a fleet at a word from its parent: it
// raises its own descriptor limit, takes the port, makes `terminals` sockets
// (IDs from `firstId`) and says so, connects them all on "go" and answers
// with the number registered. On kCloseAllWord it closes them all and answers
// with SteadyNanoseconds() when it began and when it ended; any other word
// makes it leave. RegisterStepwise drives it batch by batch instead.
int RegisteringChild(ChildProcess& parent, int terminals, std::uint32_t firstId);

// Has a RegisteringChild (told its port, its sockets made) connect its
// terminals in batches of half the listen backlog, each batch once the server
// has taken all but the last one: `taken` counts the terminals the server has
// registered. So the connections the server has not taken yet never overflow
// its backlog. Returns the number of registrations the load sent.
std::uint64_t RegisterStepwise(ChildProcess& child, int terminals, int listenBacklog,
                               const std::function<long long()>& taken);

// The least a server can do: accept, read, and close when the peer does. It
// counts first messages, bytes and peers that left. One thread, one epoll.
class BareReader final {
  public:
    explicit BareReader(std::uint16_t port);
    ~BareReader();

    std::uint64_t FirstMessages() const { return firstMessages_.load(); }
    std::uint64_t Bytes() const { return bytes_.load(); }
    std::uint64_t Closed() const { return closed_.load(); }

  private:
    void Run();

    int listener_ = -1;
    int epoll_ = -1;
    int wake_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> firstMessages_{0};
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<std::uint64_t> closed_{0};
    std::thread thread_;
};

// Waits, polling every millisecond, until the condition holds or the timeout
// passes; returns the elapsed seconds, or a negative value on timeout.
double TimeUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace bench
