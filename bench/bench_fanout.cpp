// Send fan-out: DSSendData to each of N registered terminals, round after
// round; the terminals (in a child process) count what arrives.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Dovrik.h"

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    int terminals = 1000;
    int rounds = 20;
    int size = 100;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--terminals" && i + 1 < argc) {
            terminals = std::atoi(argv[++i]);
        } else if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (arg == "--size" && i + 1 < argc) {
            size = std::atoi(argv[++i]);
        } else {
            std::printf(
                "Usage: bench_fanout [--terminals N] [--rounds R] [--size BYTES]\n"
                "Defaults: 1000 terminals, 20 rounds, 100-byte messages.\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (terminals < 1 || rounds < 1 || size < 1 || size > 4096) return 2;
    bench::RaiseDescriptorLimit();
    const std::uint64_t expected = static_cast<std::uint64_t>(terminals) * rounds * size;
    bench::ChildProcess child([&](bench::ChildProcess& parent) {
        const auto port = static_cast<std::uint16_t>(parent.Receive());
        bench::LoadTerminals load(port, terminals, 0x400000);
        parent.Send(static_cast<std::uint64_t>(load.ConnectAll(60s)));
        parent.Send(load.ReadUntil(expected, 60s));
        return 0;
    });

    const std::uint16_t port = bench::FreePort();
    if (!DSStartService(port)) return 1;
    child.Send(port);
    child.Receive();
    bench::TimeUntil([&] { return DSGetModemCount() >= terminals; }, 60s);

    const std::vector<std::uint8_t> message(static_cast<std::size_t>(size), 0x41);
    int failures = 0;
    std::vector<double> roundMs;
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r) {
        const auto roundStart = std::chrono::steady_clock::now();
        for (int t = 0; t < terminals; ++t) {
            if (!DSSendData(0x400000u + static_cast<std::uint32_t>(t),
                            static_cast<std::uint16_t>(size), message.data())) {
                ++failures;
            }
        }
        roundMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - roundStart)
                .count());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::uint64_t received = child.Receive();
    child.Wait();
    DSStopService();

    const double sends = static_cast<double>(terminals) * rounds;
    std::printf("Send fan-out: %d terminals, %d rounds, %d-byte messages\n", terminals, rounds,
                size);
    std::printf("%.0f sends in %.3f s: %.0f sends/s, %.2f us per send; median round %.3f ms\n",
                sends, seconds, sends / seconds, seconds * 1e6 / sends, bench::Median(roundMs));
    std::printf("failed sends: %d; bytes received by the terminals: %llu of %llu\n", failures,
                static_cast<unsigned long long>(received),
                static_cast<unsigned long long>(expected));
    return 0;
}
