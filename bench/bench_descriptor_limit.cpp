// Thousands of terminals under an ordinary descriptor limit: the service
// starts in a process whose soft limit is 1024, as a desktop session gives
// it, and 5,000 terminals register from a child process that raised its own
// limit. How many get in, and how long it takes.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchSupport.h"
#include "Dovrik.h"

namespace {

using namespace std::chrono_literals;
using bench::ChildProcess;

long SoftLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<long>(limit.rlim_cur);
}

}  // namespace

int main(int argc, char** argv) {
    int terminals = 5000;
    long softLimit = 1024;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--terminals" && i + 1 < argc) {
            terminals = std::atoi(argv[++i]);
        } else if (arg == "--soft-limit" && i + 1 < argc) {
            softLimit = std::atol(argv[++i]);
        } else {
            std::printf(
                "Usage: bench_descriptor_limit [--terminals N] [--soft-limit L]\n"
                "Starts the service with a soft descriptor limit of L (default 1024) and\n"
                "registers N terminals (default 5000) from a child process.\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (terminals < 1 || softLimit < 64) return 2;

    // Forked before any thread exists; it raises its own limit.
    ChildProcess child(
        [terminals](ChildProcess& p) { return bench::RegisteringChild(p, terminals, 0x300000); });

    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(static_cast<rlim_t>(softLimit), limit.rlim_max);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        std::printf("cannot set the soft descriptor limit to %ld\n", softLimit);
        return 1;
    }
    const long hardLimit = static_cast<long>(limit.rlim_max);
    std::printf("Descriptor limit: %d terminals against a service started under soft limit %ld\n",
                terminals, SoftLimit());

    const std::uint16_t port = bench::FreePort();
    if (!DSStartService(port)) {
        std::printf("DSStartService failed\n");
        return 1;
    }
    std::printf("soft limit after DSStartService: %ld (hard limit %ld)\n", SoftLimit(), hardLimit);
    child.Send(port);
    child.Receive();
    child.Send(1);
    const double seconds = bench::TimeUntil([&] { return DSGetModemCount() >= terminals; }, 60s);
    const std::uint64_t sent = child.Receive();
    const int registered = DSGetModemCount();
    if (seconds >= 0) {
        std::printf("registered %d of %d terminals in %.3f s (load sent %llu registrations)\n",
                    registered, terminals, seconds, static_cast<unsigned long long>(sent));
    } else {
        std::printf("registered %d of %d terminals; the rest not within 60 s (load sent %llu)\n",
                    registered, terminals, static_cast<unsigned long long>(sent));
    }
    child.Send(0);
    child.Wait();
    DSStopService();
    return registered >= terminals ? 0 : 1;
}
