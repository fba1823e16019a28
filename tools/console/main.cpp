// dovrik-console: starts the terminal service and prints terminals as they
// register and leave, and every message they send. With --demo it also runs
// a few simulated terminals against itself.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "CommandLine.h"
#include "Dovrik.h"
#include "TerminalSimulator.h"
#include "platform/LocalTime.h"

namespace {

using namespace std::chrono_literals;
using dovrik::sim::PowerSource;
using dovrik::sim::TerminalSimulator;

constexpr char kUsage[] = R"(Usage: dovrik-console [options]

Starts the terminal service of the early-warning centre and prints each
terminal as it registers and leaves, and each message it sends ("%08x:%s",
device ID and text).

Options:
  --port PORT      listening port (default 5001)
  --demo N         also run N simulated terminals against the service
                   (0 to 100, default 0)
  --duration SEC   stop after SEC seconds (default: until Ctrl+C)
  --help           show this text
)";

std::string TimeText(std::uint32_t seconds) {
    const std::time_t t = seconds;
    std::tm local{};
    pelmora::ToLocalTime(t, local);
    char text[80];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::unique_ptr<TerminalSimulator> StartDemo(std::uint16_t port, int count) {
    TerminalSimulator::Options options;
    options.port = port;
    auto sim = std::make_unique<TerminalSimulator>(options);
    for (int i = 0; i < count; ++i) {
        dovrik::sim::TerminalSpec setup;
        setup.deviceId = 0x20260001u + static_cast<std::uint32_t>(i);
        char number[32];
        std::snprintf(number, sizeof number, "1380013%04d", (i + 1) % 10000);
        setup.simNumber = number;
        setup.address = {10, 0, 0, static_cast<std::uint8_t>(i + 1)};
        setup.heartbeat = 10s;
        sim->Add(setup);
    }
    return sim;
}

void PrintTable(std::map<std::uint32_t, ModemInfo>& known) {
    std::map<std::uint32_t, ModemInfo> now;
    ModemInfo info;
    for (std::uint32_t i = 0; DSGetModemByPosition(i, &info); ++i) now[info.deviceId] = info;
    for (const auto& [id, entry] : now) {
        const auto old = known.find(id);
        if (old == known.end() || old->second.loginTime != entry.loginTime) {
            std::printf("registered %08x  SIM %s  address %u.%u.%u.%u  login %s\n", id,
                        entry.simNumber, entry.ipAddress[0], entry.ipAddress[1], entry.ipAddress[2],
                        entry.ipAddress[3], TimeText(entry.loginTime).c_str());
        }
    }
    for (const auto& [id, entry] : known) {
        if (now.find(id) == now.end()) std::printf("left       %08x\n", id);
    }
    known.swap(now);
}

}  // namespace

int main(int argc, char** argv) {
    std::uint16_t port = 5001;
    int demo = 0;
    int duration = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue) {
            const auto p = dovrik::cli::ParsePort(argv[++i]);
            if (!p) {
                std::fprintf(stderr, "dovrik-console: port must be 1 to 65535\n");
                return 2;
            }
            port = *p;
        } else if (arg == "--demo" && hasValue) {
            const auto n = dovrik::cli::ParseInteger(argv[++i], 0, 100);
            if (!n) {
                std::fprintf(stderr, "dovrik-console: --demo takes 0 to 100 terminals\n");
                return 2;
            }
            demo = static_cast<int>(*n);
        } else if (arg == "--duration" && hasValue) {
            const auto n = dovrik::cli::ParseInteger(argv[++i], 1, 31 * 86400);
            if (!n) {
                std::fprintf(stderr,
                             "dovrik-console: --duration takes a positive number of seconds\n");
                return 2;
            }
            duration = static_cast<int>(*n);
        } else {
            std::fprintf(stderr,
                         "dovrik-console: unknown option %s\nTry 'dovrik-console --help'.\n",
                         arg.c_str());
            return 2;
        }
    }

    dovrik::cli::InstallStopSignals();
    if (!DSStartService(port)) {
        char reason[128];
        DSGetLastError(reason, sizeof reason);
        std::fprintf(stderr, "dovrik-console: the service did not start on port %u (%s)\n", port,
                     reason);
        return 1;
    }
    std::printf("service listening on port %u\n", port);
    std::fflush(stdout);

    std::unique_ptr<TerminalSimulator> sim;
    if (demo > 0) {
        sim = StartDemo(port, demo);
        std::printf("%d simulated terminal(s) started\n", demo);
    }

    std::map<std::uint32_t, ModemInfo> known;
    const auto start = std::chrono::steady_clock::now();
    auto nextTable = start;
    auto nextDemoRound = start + 2s;
    int demoRound = 0;
    while (!dovrik::cli::StopRequested()) {
        const auto now = std::chrono::steady_clock::now();
        if (duration > 0 && now - start >= std::chrono::seconds(duration)) break;
        if (now >= nextTable) {
            PrintTable(known);
            nextTable = now + 1s;
        }
        if (sim && now >= nextDemoRound) {
            for (int i = 0; i < demo; ++i) {
                if (demoRound % 2 == 0) {
                    sim->SendStatus(static_cast<std::size_t>(i),
                                    i % 2 ? PowerSource::Battery : PowerSource::Mains);
                } else {
                    sim->SendText(static_cast<std::size_t>(i), "OK\r\n");
                }
            }
            ++demoRound;
            nextDemoRound = now + 5s;
        }
        _PACKET packet;
        while (DSGetNextData(&packet, 0)) {
            std::printf("%08x:%s\n", packet.deviceId,
                        dovrik::cli::Printable(packet.data, packet.length).c_str());
        }
        std::fflush(stdout);
        std::this_thread::sleep_for(300ms);
    }
    sim.reset();
    DSStopService();
    std::printf("service stopped\n");
    return 0;
}
