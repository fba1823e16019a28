// Stop and start under load: the service is started, 1,000 terminals (in a
// child process) connect at once, and the service is stopped again, cycle
// after cycle. Each cycle must register every terminal; threads, open
// descriptors and memory must come back to where they were.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "Dovrik.h"

namespace {

using namespace std::chrono_literals;
using bench::ChildProcess;

constexpr std::uint64_t kQuit = 0;

}  // namespace

int main(int argc, char** argv) {
    int cycles = 100;
    int terminals = 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cycles" && i + 1 < argc) {
            cycles = std::atoi(argv[++i]);
        } else if (arg == "--terminals" && i + 1 < argc) {
            terminals = std::atoi(argv[++i]);
        } else {
            std::printf(
                "Usage: bench_stop_start [--cycles N] [--terminals T]   (defaults 100, 1000)\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (cycles < 1 || terminals < 1) return 2;
    bench::RaiseDescriptorLimit();
    const std::uint16_t port = bench::FreePort();
    // The child connects a fresh set of terminals whenever asked; the old set
    // was cut off by the stop.
    ChildProcess load([&](ChildProcess& parent) {
        for (;;) {
            if (parent.Receive() == kQuit) return 0;
            bench::LoadTerminals storm(port, terminals, 0x600000);
            parent.Send(static_cast<std::uint64_t>(storm.ConnectAll(30s)));
            parent.Receive();  // the stop has happened
        }
    });

    int failedCycles = 0;
    double worstSeconds = 0;
    int threadsBase = 0;
    int descriptorsBase = 0;
    long long rssBase = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (!DSStartService(port)) {
            std::printf("cycle %d: DSStartService failed\n", cycle + 1);
            return 1;
        }
        load.Send(1);
        const double seconds =
            bench::TimeUntil([&] { return DSGetModemCount() >= terminals; }, 30s);
        load.Receive();
        if (seconds < 0) ++failedCycles;
        worstSeconds = std::max(worstSeconds, seconds);
        DSStopService();
        load.Send(1);
        _PACKET packet;
        while (DSGetNextData(&packet, 0)) {
        }
        if (cycle == 1) {  // after warm-up: pools and allocator settled
            threadsBase = bench::CountEntries("/proc/self/task");
            descriptorsBase = bench::CountEntries("/proc/self/fd");
            rssBase = bench::ResidentBytes();
        }
    }
    load.Send(kQuit);
    load.Wait();
    const int threads = bench::CountEntries("/proc/self/task");
    const int descriptors = bench::CountEntries("/proc/self/fd");
    const long long rss = bench::ResidentBytes();
    std::printf(
        "Stop and start under load: %d cycles, %d terminals connecting at once each cycle\n",
        cycles, terminals);
    std::printf(
        "cycles where not every terminal registered within 30 s: %d; slowest cycle %.2f s\n",
        failedCycles, worstSeconds);
    std::printf(
        "after cycle 2 / at the end: threads %d / %d, open descriptors %d / %d, RSS %.1f / %.1f "
        "MiB\n",
        threadsBase, threads, descriptorsBase, descriptors, rssBase / 1048576.0, rss / 1048576.0);
    return failedCycles == 0 && threads <= threadsBase && descriptors <= descriptorsBase ? 0 : 1;
}
