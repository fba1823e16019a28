// dovrik-sim: simulated field terminals for trying a centre without hardware.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "CommandLine.h"
#include "TerminalSimulator.h"

namespace {

using namespace std::chrono_literals;
using dovrik::sim::PowerSource;
using dovrik::sim::TerminalSimulator;
using dovrik::sim::TerminalSpec;
using dovrik::sim::TerminalState;

constexpr char kUsage[] = R"(Usage: dovrik-sim [options]

Runs simulated early-warning terminals against a centre. Each terminal opens
one TCP connection, registers with its device ID, SIM number and address,
heartbeats, and can send text and its power status. Everything the centre
sends to a terminal is printed, link escaping removed.

Options:
  --host HOST          centre address (default 127.0.0.1)
  --port PORT          centre port (default 5001)
  --count N            number of terminals, 1 to 10000 (default 3)
  --first-id HEX       device ID of the first terminal in hex (default 1);
                       the others count up from it
  --sim NUMBER         SIM number of the first terminal, 11 digits
                       (default 13800000001); the others count up
  --address A.B.C.D    address the terminals report (default 10.0.0.1);
                       the last byte counts up
  --heartbeat SEC      heartbeat interval in seconds, 0 for none (default 30)
  --send TEXT          text each terminal sends once registered
  --every SEC          repeat --send and --status every SEC seconds
                       (default: once)
  --status KIND        send the status message once registered:
                       mains or battery
  --duration SEC       stop after SEC seconds (default: until Ctrl+C)
  --stateful           answer the centre as a real terminal does: settings
                       report, settings and number-list commands, control
                       frames (play, stop, version, upgrade, restart)
  --answer-delay MS    with --stateful: wait MS milliseconds before each answer
  --refuse PERCENT     with --stateful: this share of the terminals refuses
                       every control frame
  --silent PERCENT     with --stateful: this share answers nothing at all
  --deaf PERCENT       with --stateful: this share stops reading, so what the
                       centre sends piles up until its sends block
                       (with any of these four the terminals keep the
                       default SIM numbers and address)
  --quiet              do not print what the terminals receive
  --help               show this text

Example:
  dovrik-sim --port 5001 --count 5 --send "AT+SHOW test" --every 10 --status battery
)";

struct Settings {
    std::string host = "127.0.0.1";
    std::uint16_t port = 5001;
    int count = 3;
    std::uint32_t firstId = 1;
    unsigned long long firstSim = 13800000001ULL;
    std::array<std::uint8_t, 4> address{10, 0, 0, 1};
    int heartbeat = 30;
    std::string text;
    int every = 0;
    std::optional<PowerSource> status;
    int duration = 0;
    bool quiet = false;
    bool stateful = false;
    // A fleet with shares of difficult terminals, when any is set.
    bool fleet = false;
    int answerDelayMs = 0;
    int refusePercent = 0;
    int silentPercent = 0;
    int deafPercent = 0;
};

bool ParseAddress(const std::string& text, std::array<std::uint8_t, 4>& out) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255) return false;
    out = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(c),
           static_cast<std::uint8_t>(d)};
    return true;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "dovrik-sim: %s\nTry 'dovrik-sim --help'.\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using dovrik::cli::ParseInteger;
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--quiet") {
            s.quiet = true;
            continue;
        }
        if (arg == "--stateful") {
            s.stateful = true;
            continue;
        }
        if (i + 1 >= argc) return Fail("option " + arg + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--host") {
            s.host = value;
        } else if (arg == "--port") {
            const auto port = dovrik::cli::ParsePort(value);
            if (!port) return Fail("port must be 1 to 65535: " + value);
            s.port = *port;
        } else if (arg == "--count") {
            const auto n = ParseInteger(value, 1, 10000);
            if (!n) return Fail("count must be 1 to 10000: " + value);
            s.count = static_cast<int>(*n);
        } else if (arg == "--first-id") {
            const auto id = ParseInteger(value, 0, 0xFFFFFFFFLL, 16);
            if (!id) return Fail("device ID must be up to 8 hex digits: " + value);
            s.firstId = static_cast<std::uint32_t>(*id);
        } else if (arg == "--sim") {
            const auto sim = ParseInteger(value, 0, 99999999999LL);
            if (!sim || value.size() != 11) return Fail("SIM number must be 11 digits: " + value);
            s.firstSim = static_cast<unsigned long long>(*sim);
        } else if (arg == "--address") {
            if (!ParseAddress(value, s.address)) return Fail("address must be A.B.C.D: " + value);
        } else if (arg == "--heartbeat") {
            const auto sec = ParseInteger(value, 0, 86400);
            if (!sec) return Fail("heartbeat must be 0 to 86400 seconds: " + value);
            s.heartbeat = static_cast<int>(*sec);
        } else if (arg == "--send") {
            s.text = value;
        } else if (arg == "--every") {
            const auto sec = ParseInteger(value, 1, 86400);
            if (!sec) return Fail("--every must be 1 to 86400 seconds: " + value);
            s.every = static_cast<int>(*sec);
        } else if (arg == "--status") {
            if (value == "mains") {
                s.status = PowerSource::Mains;
            } else if (value == "battery") {
                s.status = PowerSource::Battery;
            } else {
                return Fail("status must be mains or battery: " + value);
            }
        } else if (arg == "--answer-delay") {
            const auto ms = ParseInteger(value, 0, 600000);
            if (!ms) return Fail("answer delay must be 0 to 600000 ms: " + value);
            s.answerDelayMs = static_cast<int>(*ms);
            s.fleet = true;
        } else if (arg == "--refuse" || arg == "--silent" || arg == "--deaf") {
            const auto percent = ParseInteger(value, 0, 100);
            if (!percent) return Fail(arg + " must be a percentage, 0 to 100: " + value);
            (arg == "--refuse"   ? s.refusePercent
             : arg == "--silent" ? s.silentPercent
                                 : s.deafPercent) = static_cast<int>(*percent);
            s.fleet = true;
        } else if (arg == "--duration") {
            const auto sec = ParseInteger(value, 1, 31 * 86400);
            if (!sec) return Fail("duration must be a positive number of seconds: " + value);
            s.duration = static_cast<int>(*sec);
        } else {
            return Fail("unknown option " + arg);
        }
    }

    if (s.fleet && !s.stateful)
        return Fail("--answer-delay, --refuse, --silent and --deaf need --stateful");
    if (s.refusePercent + s.silentPercent + s.deafPercent > 100)
        return Fail("--refuse, --silent and --deaf add up to more than 100 percent");

    dovrik::cli::InstallStopSignals();
    TerminalSimulator::Options options;
    options.host = s.host;
    options.port = s.port;
    // Declared before the simulator: its threads print with them until it is gone.
    std::vector<std::uint32_t> ids;
    std::mutex printLock;
    TerminalSimulator sim(options);
    if (!s.quiet) {
        sim.SetReceiveHandler([&](std::size_t index, const std::uint8_t* data, std::size_t count) {
            std::lock_guard guard(printLock);
            std::printf("%08x <- %s\n", ids[index], dovrik::cli::Printable(data, count).c_str());
            std::fflush(stdout);
        });
    }
    sim.SetStateHandler([&](std::size_t index, TerminalState state) {
        std::lock_guard guard(printLock);
        std::printf("%08x %s\n", ids[index],
                    state == TerminalState::Failed ? "could not connect" : "connection closed");
        std::fflush(stdout);
    });
    for (int i = 0; i < s.count; ++i) ids.push_back(s.firstId + static_cast<std::uint32_t>(i));
    if (s.fleet) {
        dovrik::sim::FleetPlan plan;
        plan.count = static_cast<std::size_t>(s.count);
        plan.firstId = s.firstId;
        plan.answerDelay = std::chrono::milliseconds(s.answerDelayMs);
        plan.heartbeat = std::chrono::seconds(s.heartbeat);
        plan.refusingShare = s.refusePercent / 100.0;
        plan.silentShare = s.silentPercent / 100.0;
        plan.deafShare = s.deafPercent / 100.0;
        const dovrik::sim::Fleet fleet = sim.AddFleet(plan);
        std::printf("answering %zu, refusing %zu, silent %zu, not reading %zu\n",
                    fleet.answering.size(), fleet.refusing.size(), fleet.silent.size(),
                    fleet.deaf.size());
    }
    for (int i = 0; i < s.count && !s.fleet; ++i) {
        TerminalSpec setup;
        setup.deviceId = ids[i];
        char number[32];
        std::snprintf(number, sizeof number, "%011llu",
                      (s.firstSim + static_cast<unsigned>(i)) % 100000000000ULL);
        setup.simNumber = number;
        setup.address = s.address;
        setup.address[3] = static_cast<std::uint8_t>(s.address[3] + i);
        setup.heartbeat = std::chrono::seconds(s.heartbeat);
        const std::size_t index = sim.Add(setup);
        if (s.stateful) sim.MakeStateful(index);
    }
    std::printf("%d terminal(s) connecting to %s:%u\n", s.count, s.host.c_str(), s.port);
    std::fflush(stdout);

    TerminalSimulator::WaitUntil(
        [&] { return sim.RegisteredCount() == ids.size() || dovrik::cli::StopRequested(); }, 30s);
    std::printf("%zu terminal(s) registered\n", sim.RegisteredCount());
    std::fflush(stdout);
    if (s.status) {
        for (std::size_t i = 0; i < ids.size(); ++i) sim.SendStatus(i, *s.status);
        std::this_thread::sleep_for(200ms);  // keeps the two messages apart on the wire
    }
    if (!s.text.empty()) {
        for (std::size_t i = 0; i < ids.size(); ++i) sim.SendText(i, s.text);
    }

    const auto start = std::chrono::steady_clock::now();
    auto nextSend = start + std::chrono::seconds(s.every);
    while (!dovrik::cli::StopRequested()) {
        const auto now = std::chrono::steady_clock::now();
        if (s.duration > 0 && now - start >= std::chrono::seconds(s.duration)) break;
        if (s.every > 0 && now >= nextSend) {
            for (std::size_t i = 0; i < ids.size(); ++i) {
                if (s.status) sim.SendStatus(i, *s.status);
            }
            if (s.status) std::this_thread::sleep_for(200ms);
            for (std::size_t i = 0; i < ids.size() && !s.text.empty(); ++i) sim.SendText(i, s.text);
            nextSend += std::chrono::seconds(s.every);
        }
        std::this_thread::sleep_for(100ms);
    }
    return 0;
}
