// Shared pieces of the benchmark programs: a load process of raw terminals,
// a bare epoll reader to compare against, and process measurements.
#pragma once

#include <atomic>
#include <chrono>
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
    // Sends `message` round-robin from all terminals at `perSecond` messages a
    // second in total, for `duration`. Returns the number of messages sent.
    std::uint64_t Pace(const std::vector<std::uint8_t>& message, double perSecond,
                       std::chrono::milliseconds duration);
    // The same with several messages, taken in turn.
    std::uint64_t Pace(const std::vector<std::vector<std::uint8_t>>& messages, double perSecond,
                       std::chrono::milliseconds duration);
    // Reads until `bytes` have arrived in total or the timeout passes.
    std::uint64_t ReadUntil(std::uint64_t bytes, std::chrono::milliseconds timeout);
    void CloseAll();

  private:
    std::uint16_t port_;
    std::uint32_t firstId_;
    std::vector<int> sockets_;
    int epoll_ = -1;
    std::uint64_t received_ = 0;
};

// The body of a child that registers a fleet at a word from its parent: it
// raises its own descriptor limit, takes the port, makes `terminals` sockets
// (IDs from `firstId`) and says so, connects them all on "go", answers with
// the number registered, and leaves on "stop".
int RegisteringChild(ChildProcess& parent, int terminals, std::uint32_t firstId);

// The least a server can do: accept and read, nothing else. It counts first
// messages and bytes. One thread, one epoll.
class BareReader final {
  public:
    explicit BareReader(std::uint16_t port);
    ~BareReader();

    std::uint64_t FirstMessages() const { return firstMessages_.load(); }
    std::uint64_t Bytes() const { return bytes_.load(); }

  private:
    void Run();

    int listener_ = -1;
    int epoll_ = -1;
    int wake_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> firstMessages_{0};
    std::atomic<std::uint64_t> bytes_{0};
    std::thread thread_;
};

// Waits, polling every millisecond, until the condition holds or the timeout
// passes; returns the elapsed seconds, or a negative value on timeout.
double TimeUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace bench
