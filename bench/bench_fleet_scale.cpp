// Fleet scale: a fleet of terminals registers from a child process, never
// more of them waiting to be taken than the listen backlog holds; then every
// terminal leaves at once: the child closes all its sockets, oldest
// registration first. The time runs from the child's first close to an empty
// table. Two fleet sizes in one run show how that time grows with the fleet;
// the bare epoll reader, under the same load, gives the floor. The
// resident-set growth per registered terminal is taken in the first run of
// the large fleet, while the process is still fresh.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "Dovrik.h"

namespace {

using namespace std::chrono_literals;
using bench::ChildProcess;

constexpr int kListenBacklog = 200;
constexpr double kProjectedFleet = 100000;

struct Sample {
    double registerSeconds = -1;
    double emptySeconds = -1;   // from the child's first close to an empty table
    double closingSeconds = 0;  // the child's own loop of closes
    double kibPerTerminal = 0;
    double slabKibPerConnection = 0;  // the whole machine's kernel slab, both ends
};

// The kernel's slab memory, from /proc/meminfo, in bytes.
long long SlabBytes() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    long long kib = 0;
    std::string unit;
    while (meminfo >> key >> kib >> unit) {
        if (key == "Slab:") return kib * 1024;
    }
    return 0;
}

// Registers the child's fleet, closes it, and times both. `present` counts
// the registered terminals the server still holds.
Sample Measure(ChildProcess& child, std::uint16_t port, int terminals,
               const std::function<long long()>& present) {
    Sample s;
    const long long residentBefore = bench::ResidentBytes();
    const long long slabBefore = SlabBytes();
    child.Send(port);
    child.Receive();
    const auto start = std::chrono::steady_clock::now();
    bench::RegisterStepwise(child, terminals, kListenBacklog, present);
    if (bench::TimeUntil([&] { return present() >= terminals; }, 60s) >= 0) {
        s.registerSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    std::this_thread::sleep_for(1s);  // let the last completions settle
    s.kibPerTerminal =
        static_cast<double>(bench::ResidentBytes() - residentBefore) / terminals / 1024.0;
    s.slabKibPerConnection = static_cast<double>(SlabBytes() - slabBefore) / terminals / 1024.0;

    child.Send(bench::kCloseAllWord);
    const bool emptied = bench::TimeUntil([&] { return present() == 0; }, 60s) >= 0;
    const std::uint64_t emptyAt = bench::SteadyNanoseconds();
    const std::uint64_t began = child.Receive();
    const std::uint64_t ended = child.Receive();
    s.closingSeconds = static_cast<double>(ended - began) / 1e9;
    if (emptied) s.emptySeconds = static_cast<double>(emptyAt - began) / 1e9;
    child.Send(0);
    child.Wait();
    return s;
}

Sample RunDovrik(ChildProcess& child, int terminals) {
    const std::uint16_t port = bench::FreePort();
    if (!DSStartService(port)) {
        std::printf("DSStartService failed\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(300ms);
    const Sample s = Measure(child, port, terminals, [] { return DSGetModemCount(); });
    DSStopService();
    return s;
}

Sample RunBare(ChildProcess& child, int terminals) {
    const std::uint16_t port = bench::FreePort();
    bench::BareReader reader(port);
    return Measure(child, port, terminals, [&] {
        return static_cast<long long>(reader.FirstMessages()) -
               static_cast<long long>(reader.Closed());
    });
}

double MedianEmpty(const std::vector<Sample>& samples) {
    std::vector<double> times;
    for (const Sample& s : samples) times.push_back(s.emptySeconds < 0 ? 1e9 : s.emptySeconds);
    return bench::Median(times);
}

}  // namespace

int main(int argc, char** argv) {
    int large = 19000;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--terminals" && i + 1 < argc) {
            large = std::atoi(argv[++i]);
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else {
            std::printf(
                "Usage: bench_fleet_scale [--terminals N] [--runs R]\n"
                "N terminals (default 19000) and N/4 register and then all leave, R times\n"
                "(default 3), against Dovrik and against a bare epoll reader.\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    const int small = large / 4;
    if (small < 1 || runs < 1) return 2;
    const long limit = bench::RaiseDescriptorLimit();
    if (limit < large + 100) {
        std::printf("descriptor limit %ld is too low for %d terminals\n", limit, large);
        return 1;
    }

    // Every load process is forked before any thread exists: per run, the
    // large and the small fleet, each for Dovrik and for the bare reader.
    const int sizes[2] = {large, small};
    std::vector<std::unique_ptr<ChildProcess>> loads;
    for (int r = 0; r < runs; ++r) {
        for (int size : sizes) {
            for (int side = 0; side < 2; ++side) {
                loads.push_back(std::make_unique<ChildProcess>([size](ChildProcess& p) {
                    return bench::RegisteringChild(p, size, 0x400000);
                }));
            }
        }
    }

    std::printf(
        "Fleet scale: %d and %d terminals register (%d at a time, never more than the listen "
        "backlog of %d waiting), then all close at once; %d runs\n",
        large, small, kListenBacklog / 2, kListenBacklog, runs);
    std::vector<Sample> dovrik[2];
    std::vector<Sample> bare[2];
    std::size_t next = 0;
    for (int r = 0; r < runs; ++r) {
        for (int k = 0; k < 2; ++k) {
            const Sample d = RunDovrik(*loads[next++], sizes[k]);
            const Sample b = RunBare(*loads[next++], sizes[k]);
            std::printf(
                "run %d, %5d terminals: Dovrik registered in %.3f s, %.2f KiB each, table empty "
                "%.3f s after the first close | bare reader %.3f s, %.2f KiB each, all closes "
                "seen after %.3f s | the load closed all in %.3f s and %.3f s\n",
                r + 1, sizes[k], d.registerSeconds, d.kibPerTerminal, d.emptySeconds,
                b.registerSeconds, b.kibPerTerminal, b.emptySeconds, d.closingSeconds,
                b.closingSeconds);
            std::fflush(stdout);
            dovrik[k].push_back(d);
            bare[k].push_back(b);
        }
    }

    const Sample& fresh = dovrik[0].front();
    const double dovrikLarge = MedianEmpty(dovrik[0]);
    const double dovrikSmall = MedianEmpty(dovrik[1]);
    const double bareLarge = MedianEmpty(bare[0]);
    const double bareSmall = MedianEmpty(bare[1]);
    const double growth = dovrikLarge / dovrikSmall;
    const double bareGrowth = bareLarge / bareSmall;
    std::printf(
        "%d terminals registered: resident-set growth %.2f KiB per terminal in the first run "
        "(target <= 1.5 KiB); kernel slab growth %.2f KiB per connection, both ends, whole "
        "machine\n",
        large, fresh.kibPerTerminal, fresh.slabKibPerConnection);
    for (int k = 0; k < 2; ++k) {
        const double d = k == 0 ? dovrikLarge : dovrikSmall;
        const double b = k == 0 ? bareLarge : bareSmall;
        std::printf(
            "all %d leave: table empty after median %.3f s%s; bare reader %.3f s; Dovrik %.2fx "
            "the bare reader\n",
            sizes[k], d, k == 0 ? " (target <= 0.5 s)" : "", b, d / b);
    }
    std::printf(
        "growth: emptying %d takes %.2fx as long as %d (target <= 5x; linear is 4x); bare "
        "reader %.2fx\n",
        large, growth, small, bareGrowth);

    // The time to empty grows as the fleet size to this power.
    const double exponent = std::log(growth) / std::log(static_cast<double>(large) / small);
    const double projectedExponent = std::max(1.0, exponent);  // never better than linear
    std::printf("per terminal: %.2f KiB resident, %.1f us to leave the table (%d terminals)\n",
                fresh.kibPerTerminal, dovrikLarge * 1e6 / large, large);
    std::printf(
        "projection for %.0f terminals: %.0f MiB resident in the service, %.0f MiB kernel slab "
        "for both ends; table emptied in %.2f s with the time growing as N^%.2f (measured "
        "N^%.2f)\n",
        kProjectedFleet, fresh.kibPerTerminal * kProjectedFleet / 1024.0,
        fresh.slabKibPerConnection * kProjectedFleet / 1024.0,
        dovrikLarge * std::pow(kProjectedFleet / large, projectedExponent), projectedExponent,
        exponent);
    return 0;
}
