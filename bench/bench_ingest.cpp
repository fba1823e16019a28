// Ingest: 1,000 terminals send 100-byte messages at a paced total rate; one
// thread drains Dovrik with DSGetNextData. The same load is then read by a
// bare epoll reader that keeps nothing. For each rate the program prints
// what each side delivered and what it cost in CPU time, and Dovrik's share
// of the bare reader's rate. While Dovrik ingests, another thread walks the
// terminal table to show that table reads never wait behind receives.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
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
    std::atomic<std::uint64_t> bytes{0};
    std::thread drainer([&] {
        _PACKET packet;
        while (running) {
            if (DSGetNextData(&packet, 0)) {
                bytes += packet.length;
            } else {
                std::this_thread::sleep_for(200us);
            }
        }
    });
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
    AwaitQuiet([&] { return bytes.load(); });
    const double cpu = bench::CpuSeconds() - cpuBefore;
    running = false;
    drainer.join();
    walker.join();
    child.Send(0);
    child.Wait();
    DSStopService();
    const double messages = static_cast<double>(bytes.load()) / static_cast<double>(size);
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

}  // namespace

int main(int argc, char** argv) {
    int terminals = 1000;
    std::size_t size = 100;
    int seconds = 3;
    std::vector<double> rates = {50000, 200000, 800000};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--terminals" && i + 1 < argc) {
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
                "Defaults: 1000 terminals, 100-byte messages, 3 s per rate, rates "
                "50000,200000,800000 msg/s.\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (terminals < 1 || size < 1 || size > 4096 || seconds < 1 || rates.empty()) return 2;
    bench::RaiseDescriptorLimit();

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
