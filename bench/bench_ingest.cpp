// Ingest: 1,000 terminals send 100-byte messages at a paced total rate; one
// thread drains Dovrik with DSGetNextData. The same load is then read by a
// bare epoll reader that keeps nothing. For each rate the program prints
// what each side delivered and what it cost in CPU time, and Dovrik's share
// of the bare reader's rate. While Dovrik ingests, another thread walks the
// terminal table to show that table reads never wait behind receives.
//
// With --flat-out the terminals write unpaced, as fast as their sockets take
// the bytes. Each side's delivered rate and CPU time are then taken over a
// window while the load still writes, after a warm-up, so that neither the
// start nor the backlog left in the sockets at the end counts. Messages are
// counted as bytes handed out over the message size: Dovrik may hand out
// several messages in one packet, or one message in several.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "Dovrik.h"

namespace {

using namespace std::chrono_literals;
using bench::ChildProcess;
using Clock = std::chrono::steady_clock;

struct Result {
    double delivered = 0;      // messages per second
    double cpuPerMessage = 0;  // microseconds of this process
    std::uint64_t sent = 0;
};

constexpr int kFloodPerWrite = 64;  // messages in one send of the flat-out load
constexpr auto kWarmUp = 1s;

// One thread draining Dovrik's queue and counting the bytes handed out; it
// sleeps 200 us whenever the queue is empty.
class Drainer final {
  public:
    Drainer()
        : thread_([this] {
              _PACKET packet;
              while (running_) {
                  if (DSGetNextData(&packet, 0)) {
                      bytes_ += packet.length;
                  } else {
                      std::this_thread::sleep_for(200us);
                  }
              }
          }) {}
    ~Drainer() { Stop(); }
    void Stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }
    std::uint64_t Bytes() const { return bytes_.load(); }

  private:
    std::atomic<bool> running_{true};
    std::atomic<std::uint64_t> bytes_{0};
    std::thread thread_;
};

int LoadChild(ChildProcess& parent, int terminals, std::size_t size, double rate, int seconds) {
    const auto port = static_cast<std::uint16_t>(parent.Receive());
    bench::LoadTerminals load(port, terminals, 0x300000);
    parent.Send(static_cast<std::uint64_t>(load.ConnectAll(60s)));
    parent.Receive();  // go
    const std::vector<std::uint8_t> message(size, 0x41);
    parent.Send(load.Pace(message, rate, std::chrono::seconds(seconds)));
    parent.Receive();  // stop
    return 0;
}

// Waits until `counter` has not moved for 300 ms.
void AwaitQuiet(const std::function<std::uint64_t()>& counter) {
    std::uint64_t last = counter();
    for (;;) {
        std::this_thread::sleep_for(300ms);
        const std::uint64_t now = counter();
        if (now == last) return;
        last = now;
    }
}

Result RunDovrik(ChildProcess& child, int terminals, std::size_t size, int seconds,
                 double& maxWalkMs) {
    const std::uint16_t port = bench::FreePort();
    Result result;
    if (!DSStartService(port)) return result;
    child.Send(port);
    child.Receive();
    bench::TimeUntil([&] { return DSGetModemCount() >= terminals; }, 60s);

    std::atomic<bool> running{true};
    Drainer drainer;
    std::atomic<double> worstWalk{0};
    std::thread walker([&] {
        ModemInfo info;
        while (running) {
            const auto start = Clock::now();
            const int count = DSGetModemCount();
            for (int i = 0; i < count; ++i)
                DSGetModemByPosition(static_cast<std::uint32_t>(i), &info);
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (ms > worstWalk) worstWalk = ms;
            std::this_thread::sleep_for(10ms);
        }
    });
    const double cpuBefore = bench::CpuSeconds();
    child.Send(1);
    result.sent = child.Receive();
    AwaitQuiet([&] { return drainer.Bytes(); });
    const double cpu = bench::CpuSeconds() - cpuBefore;
    running = false;
    drainer.Stop();
    walker.join();
    child.Send(0);
    child.Wait();
    DSStopService();
    const double messages = static_cast<double>(drainer.Bytes()) / static_cast<double>(size);
    result.delivered = messages / seconds;
    result.cpuPerMessage = messages > 0 ? cpu * 1e6 / messages : 0;
    maxWalkMs = std::max(maxWalkMs, worstWalk.load());
    return result;
}

Result RunBare(ChildProcess& child, int terminals, std::size_t size, int seconds) {
    const std::uint16_t port = bench::FreePort();
    Result result;
    bench::BareReader reader(port);
    child.Send(port);
    child.Receive();
    bench::TimeUntil(
        [&] { return reader.FirstMessages() >= static_cast<std::uint64_t>(terminals); }, 60s);
    const double cpuBefore = bench::CpuSeconds();
    child.Send(1);
    result.sent = child.Receive();
    AwaitQuiet([&] { return reader.Bytes(); });
    const double cpu = bench::CpuSeconds() - cpuBefore;
    child.Send(0);
    child.Wait();
    const double messages = static_cast<double>(reader.Bytes()) / static_cast<double>(size);
    result.delivered = messages / seconds;
    result.cpuPerMessage = messages > 0 ? cpu * 1e6 / messages : 0;
    return result;
}

int FloodChild(ChildProcess& parent, int terminals, std::size_t size,
               std::chrono::milliseconds duration) {
    const auto port = static_cast<std::uint16_t>(parent.Receive());
    bench::LoadTerminals load(port, terminals, 0x300000);
    parent.Send(static_cast<std::uint64_t>(load.ConnectAll(60s)));
    parent.Receive();  // go
    const std::vector<std::uint8_t> message(size, 0x41);
    parent.Send(load.Flood(message, kFloodPerWrite, duration));
    parent.Receive();  // stop
    return 0;
}

// Starts the flood and takes the bytes handed out and this process's CPU
// time over the window after the warm-up. `sent` is what the load wrote in
// the whole flood, in messages.
Result MeasureFlood(ChildProcess& child, const std::function<std::uint64_t()>& bytes,
                    std::size_t size, int seconds) {
    Result result;
    child.Send(1);
    std::this_thread::sleep_for(kWarmUp);
    const std::uint64_t bytesBefore = bytes();
    const double cpuBefore = bench::CpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = bench::CpuSeconds() - cpuBefore;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double messages = static_cast<double>(bytes() - bytesBefore) / static_cast<double>(size);
    result.sent = child.Receive() / size;
    result.delivered = messages / elapsed;
    result.cpuPerMessage = messages > 0 ? cpu * 1e6 / messages : HUGE_VAL;
    return result;
}

Result FloodDovrik(ChildProcess& child, int terminals, std::size_t size, int seconds) {
    const std::uint16_t port = bench::FreePort();
    if (!DSStartService(port)) return {};
    child.Send(port);
    child.Receive();
    bench::TimeUntil([&] { return DSGetModemCount() >= terminals; }, 60s);
    Drainer drainer;
    const Result result = MeasureFlood(
        child, [&] { return drainer.Bytes(); }, size, seconds);
    drainer.Stop();
    child.Send(0);
    child.Wait();
    DSStopService();
    _PACKET packet;
    while (DSGetNextData(&packet, 0)) {
        // What stayed queued must not count in the next round.
    }
    return result;
}

Result FloodBare(ChildProcess& child, int terminals, std::size_t size, int seconds) {
    const std::uint16_t port = bench::FreePort();
    bench::BareReader reader(port);
    child.Send(port);
    child.Receive();
    bench::TimeUntil(
        [&] { return reader.FirstMessages() >= static_cast<std::uint64_t>(terminals); }, 60s);
    const Result result = MeasureFlood(
        child, [&] { return reader.Bytes(); }, size, seconds);
    child.Send(0);
    child.Wait();
    return result;
}

int RunFlatOut(int terminals, std::size_t size, int seconds, int rounds) {
    // The load writes through the warm-up, the window and a margin.
    const auto duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        kWarmUp + std::chrono::seconds(seconds) + 500ms);
    const double floodSeconds = std::chrono::duration<double>(duration).count();
    std::vector<std::unique_ptr<ChildProcess>> loads;
    for (int i = 0; i < 2 * rounds; ++i) {
        loads.push_back(std::make_unique<ChildProcess>(
            [=](ChildProcess& p) { return FloodChild(p, terminals, size, duration); }));
    }
    std::printf(
        "Ingest flat out: %d terminals, %zu-byte messages, each socket written %d messages at a "
        "time as fast as it takes them; %.0f s warm-up, then %d s measured; one thread "
        "draining Dovrik\n",
        terminals, size, kFloodPerWrite, std::chrono::duration<double>(kWarmUp).count(), seconds);
    std::printf("%5s | %14s %12s %14s | %14s %12s %14s | %6s %6s\n", "round", "Dovrik msg/s",
                "CPU us/msg", "written msg/s", "bare msg/s", "CPU us/msg", "written msg/s", "rate",
                "CPU");
    std::vector<double> dovrikRate, dovrikCpu, bareRate, bareCpu, rateRatio, cpuRatio;
    for (int r = 0; r < rounds; ++r) {
        const Result bare = FloodBare(*loads[2 * r], terminals, size, seconds);
        const Result dovrik = FloodDovrik(*loads[2 * r + 1], terminals, size, seconds);
        std::printf("%5d | %14.0f %12.3f %14.0f | %14.0f %12.3f %14.0f | %5.2fx %5.2fx\n", r + 1,
                    dovrik.delivered, dovrik.cpuPerMessage,
                    static_cast<double>(dovrik.sent) / floodSeconds, bare.delivered,
                    bare.cpuPerMessage, static_cast<double>(bare.sent) / floodSeconds,
                    dovrik.delivered / bare.delivered, dovrik.cpuPerMessage / bare.cpuPerMessage);
        std::fflush(stdout);
        rateRatio.push_back(dovrik.delivered / bare.delivered);
        cpuRatio.push_back(dovrik.cpuPerMessage / bare.cpuPerMessage);
        dovrikRate.push_back(dovrik.delivered);
        dovrikCpu.push_back(dovrik.cpuPerMessage);
        bareRate.push_back(bare.delivered);
        bareCpu.push_back(bare.cpuPerMessage);
    }
    const double dRate = bench::Median(dovrikRate);
    const double dCpu = bench::Median(dovrikCpu);
    const double bRate = bench::Median(bareRate);
    const double bCpu = bench::Median(bareCpu);
    std::printf(
        "median: Dovrik delivered %.0f msg/s at %.3f us CPU per message; bare reader %.0f msg/s "
        "at %.3f us CPU per message\n",
        dRate, dCpu, bRate, bCpu);
    std::printf(
        "rate: Dovrik %.2fx the bare reader's (target >= 0.9x); CPU per message: Dovrik %.2fx "
        "the bare reader's (target <= 1.5x); medians of the rounds' ratios\n",
        bench::Median(rateRatio), bench::Median(cpuRatio));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int terminals = 1000;
    std::size_t size = 100;
    int seconds = 3;
    std::vector<double> rates = {50000, 200000, 800000};
    bool flatOut = false;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--flat-out") {
            flatOut = true;
        } else if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (arg == "--terminals" && i + 1 < argc) {
            terminals = std::atoi(argv[++i]);
        } else if (arg == "--size" && i + 1 < argc) {
            size = static_cast<std::size_t>(std::atoi(argv[++i]));
        } else if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (arg == "--rates" && i + 1 < argc) {
            rates.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');)
                rates.push_back(std::atof(item.c_str()));
        } else {
            std::printf(
                "Usage: bench_ingest [--terminals N] [--size BYTES] [--seconds S] [--rates "
                "R1,R2,...]\n"
                "       bench_ingest --flat-out [--rounds R] [--terminals N] [--size BYTES] "
                "[--seconds S]\n"
                "Defaults: 1000 terminals, 100-byte messages, 3 s per rate, rates "
                "50000,200000,800000 msg/s;\n"
                "flat out: the load writes unpaced, 3 s measured in each of 3 rounds.\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (terminals < 1 || size < 1 || size > 4096 || seconds < 1 || rates.empty() || rounds < 1)
        return 2;
    bench::RaiseDescriptorLimit();
    if (flatOut) return RunFlatOut(terminals, size, seconds, rounds);

    std::vector<std::unique_ptr<ChildProcess>> loads;
    for (double rate : rates) {
        for (int side = 0; side < 2; ++side) {
            loads.push_back(std::make_unique<ChildProcess>(
                [=](ChildProcess& p) { return LoadChild(p, terminals, size, rate, seconds); }));
        }
    }

    std::printf("Ingest: %d terminals, %zu-byte messages, %d s per rate, one thread draining\n",
                terminals, size, seconds);
    std::printf("%10s | %14s %12s | %14s %12s | %8s %10s\n", "offered/s", "Dovrik msg/s",
                "CPU us/msg", "bare msg/s", "CPU us/msg", "share", "CPU share");
    double maxWalkMs = 0;
    for (std::size_t r = 0; r < rates.size(); ++r) {
        const Result bare = RunBare(*loads[2 * r], terminals, size, seconds);
        const Result dovrik = RunDovrik(*loads[2 * r + 1], terminals, size, seconds, maxWalkMs);
        std::printf(
            "%10.0f | %14.0f %12.2f | %14.0f %12.2f | %7.1f%% %9.1f%%\n", rates[r],
            dovrik.delivered, dovrik.cpuPerMessage, bare.delivered, bare.cpuPerMessage,
            bare.delivered > 0 ? 100.0 * dovrik.delivered / bare.delivered : 0.0,
            dovrik.cpuPerMessage > 0 ? 100.0 * bare.cpuPerMessage / dovrik.cpuPerMessage : 0.0);
        std::fflush(stdout);
    }
    std::printf(
        "share: Dovrik's delivered rate over the bare reader's (target >= 70%%)\n"
        "CPU share: the bare reader's CPU cost per message over Dovrik's\n"
        "slowest table walk of %d positions during ingest: %.3f ms\n",
        terminals, maxWalkMs);
    return 0;
}
