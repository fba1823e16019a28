// Registration storm: N terminals connect at once; how long until the table
// lists them all? A bare epoll reader under the same storm gives the floor.
// Then the walk of every table position, as the refresh timer does it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Dovrik.h"

namespace {

using namespace std::chrono_literals;
using bench::ChildProcess;

constexpr std::uint64_t kStop = 0xDEAD;

}  // namespace

int main(int argc, char** argv) {
    int terminals = 10000;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--terminals" && i + 1 < argc) {
            terminals = std::atoi(argv[++i]);
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else {
            std::printf(
                "Usage: bench_registration_storm [--terminals N] [--runs R]\n"
                "N terminals (default 10000) connect at once, R times (default 3).\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (terminals < 1 || runs < 1) return 2;
    const long limit = bench::RaiseDescriptorLimit();
    if (limit < terminals + 100) {
        std::printf("descriptor limit %ld is too low for %d terminals\n", limit, terminals);
        return 1;
    }

    // Every load process is forked before any thread exists.
    std::vector<std::unique_ptr<ChildProcess>> dovrikLoads;
    std::vector<std::unique_ptr<ChildProcess>> bareLoads;
    for (int r = 0; r < runs; ++r) {
        dovrikLoads.push_back(std::make_unique<ChildProcess>([terminals](ChildProcess& p) {
            return bench::RegisteringChild(p, terminals, 0x100000);
        }));
        bareLoads.push_back(std::make_unique<ChildProcess>([terminals](ChildProcess& p) {
            return bench::RegisteringChild(p, terminals, 0x100000);
        }));
    }

    std::printf("Registration storm: %d terminals connecting at once, listen backlog 200\n",
                terminals);
    std::vector<double> dovrikTimes;
    std::vector<double> bareTimes;
    std::vector<double> walkMs;
    for (int r = 0; r < runs; ++r) {
        // The bare reader first.
        double bareTime = -1;
        {
            const std::uint16_t port = bench::FreePort();
            bench::BareReader reader(port);
            ChildProcess& child = *bareLoads[r];
            child.Send(port);
            child.Receive();
            child.Send(1);
            bareTime = bench::TimeUntil(
                [&] { return reader.FirstMessages() >= static_cast<std::uint64_t>(terminals); },
                60s);
            child.Receive();
            child.Send(kStop);
            child.Wait();
        }
        double dovrikTime = -1;
        {
            const std::uint16_t port = bench::FreePort();
            if (!DSStartService(port)) {
                std::printf("DSStartService failed\n");
                return 1;
            }
            ChildProcess& child = *dovrikLoads[r];
            child.Send(port);
            child.Receive();
            child.Send(1);
            dovrikTime = bench::TimeUntil([&] { return DSGetModemCount() >= terminals; }, 60s);
            child.Receive();
            if (dovrikTime >= 0) {
                ModemInfo info;
                for (int walk = 0; walk < 20; ++walk) {
                    const auto start = std::chrono::steady_clock::now();
                    const int count = DSGetModemCount();
                    for (int i = 0; i < count; ++i)
                        DSGetModemByPosition(static_cast<std::uint32_t>(i), &info);
                    walkMs.push_back(std::chrono::duration<double, std::milli>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
                }
            }
            child.Send(kStop);
            child.Wait();
            DSStopService();
        }
        std::printf("run %d: Dovrik %.3f s   bare epoll reader %.3f s\n", r + 1, dovrikTime,
                    bareTime);
        std::fflush(stdout);
        dovrikTimes.push_back(dovrikTime < 0 ? 1e9 : dovrikTime);
        bareTimes.push_back(bareTime < 0 ? 1e9 : bareTime);
    }
    std::printf("median: Dovrik %.3f s (target <= 2 s), bare epoll reader %.3f s\n",
                bench::Median(dovrikTimes), bench::Median(bareTimes));
    if (!walkMs.empty()) {
        std::printf(
            "table walk of %d positions with DSGetModemByPosition: median %.3f ms, max %.3f ms "
            "(target <= 5 ms)\n",
            terminals, bench::Median(walkMs), *std::max_element(walkMs.begin(), walkMs.end()));
    }
    return 0;
}
