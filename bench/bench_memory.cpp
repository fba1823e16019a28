// Memory per idle registered terminal: the growth of this process's resident
// set while N terminals (in a child process) register and then stay silent.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "Dovrik.h"

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    int terminals = 10000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--terminals" && i + 1 < argc) {
            terminals = std::atoi(argv[++i]);
        } else {
            std::printf("Usage: bench_memory [--terminals N]   (default 10000)\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (terminals < 1) return 2;
    bench::RaiseDescriptorLimit();
    bench::ChildProcess child([terminals](bench::ChildProcess& parent) {
        const auto port = static_cast<std::uint16_t>(parent.Receive());
        bench::LoadTerminals load(port, terminals, 0x200000);
        parent.Send(static_cast<std::uint64_t>(load.ConnectAll(60s)));
        parent.Receive();
        return 0;
    });

    const std::uint16_t port = bench::FreePort();
    if (!DSStartService(port)) return 1;
    std::this_thread::sleep_for(300ms);
    const long long before = bench::ResidentBytes();
    child.Send(port);
    const auto registered = child.Receive();
    const double seconds = bench::TimeUntil([&] { return DSGetModemCount() >= terminals; }, 60s);
    std::this_thread::sleep_for(1s);  // let the last completions settle
    const long long after = bench::ResidentBytes();
    const int count = DSGetModemCount();
    child.Send(0);
    child.Wait();
    DSStopService();

    std::printf("Memory per idle registered terminal\n");
    std::printf("terminals registered: %d of %d (load sent %llu registrations, %.2f s)\n", count,
                terminals, static_cast<unsigned long long>(registered), seconds);
    std::printf("resident set: %.1f MiB before, %.1f MiB after\n", before / 1048576.0,
                after / 1048576.0);
    if (count > 0) {
        std::printf("growth per terminal: %.2f KiB (target <= 4 KiB)\n",
                    static_cast<double>(after - before) / count / 1024.0);
    }
    return 0;
}
