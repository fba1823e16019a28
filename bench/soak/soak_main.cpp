// The soak and fault run: the real Dovrik service, the command engine and a
// fleet of simulated terminals (in a child process) under steady churn for a
// given time. Checks and prints that every message of a terminal that stayed
// connected arrived exactly once and in order, that nothing stalled, that
// memory and descriptors stay flat after the warm-up, and that every job
// ended within its time limit. Exit status 0 when every check passed.
#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "CommandEngine.h"
#include "Dovrik.h"
#include "LinkApi.h"
#include "SoakCentre.h"
#include "SoakLedger.h"
#include "SoakLoad.h"

namespace {

using namespace std::chrono_literals;
using soak::Clock;

constexpr std::uint64_t kGo = 3;
constexpr auto kStallLimit = 30s;  // the window loop must come round within this

struct Options {
    int seconds = 600;
    int warmup = -1;  // default: see Parse
    soak::LoadPlan plan;
};

void Usage() {
    std::printf(
        "Usage: pelmora-soak [--duration SECONDS] [--warmup SECONDS] [--terminals N]\n"
        "                    [--rate MESSAGES_PER_SECOND] [--churn EVENTS_PER_SECOND]\n"
        "                    [--silent-peers PER_SECOND] [--seed N]\n"
        "  --duration   length of the load (default 600)\n"
        "  --warmup     start of the flat-memory check (default 360 for runs of 600 s or more,\n"
        "               past the 300 s after which silent peers are dropped; else a third)\n"
        "  --terminals  simulated terminals (default 2000; the first 8 answer jobs)\n"
        "  --rate       data messages a second over all terminals (default 1000)\n"
        "  --churn      resets, closes and re-registrations a second, each (default 2)\n"
        "  --silent-peers  peers a second that connect and never speak (default 0.2)\n");
}

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto number = [&](double& out) {
            if (!hasValue) return false;
            char* end = nullptr;
            out = std::strtod(argv[++i], &end);
            return end != nullptr && *end == '\0' && out >= 0;
        };
        double v = 0;
        if (arg == "--duration" && number(v) && v >= 1) {
            o.seconds = static_cast<int>(v);
        } else if (arg == "--warmup" && number(v)) {
            o.warmup = static_cast<int>(v);
        } else if (arg == "--terminals" && number(v) && v >= o.plan.jobTerminals + 1 &&
                   v <= 60000) {
            o.plan.terminals = static_cast<int>(v);
        } else if (arg == "--rate" && number(v)) {
            o.plan.messagesPerSecond = v;
        } else if (arg == "--churn" && number(v)) {
            o.plan.resetsPerSecond = o.plan.closesPerSecond = o.plan.reregistrationsPerSecond = v;
        } else if (arg == "--silent-peers" && number(v)) {
            o.plan.silentPeersPerSecond = v;
        } else if (arg == "--seed" && number(v)) {
            o.plan.seed = static_cast<std::uint32_t>(v);
        } else {
            return false;
        }
    }
    // Silent peers rightly pile up until the first of them reach the
    // service's 300 s limit; a full run measures flatness after that.
    if (o.warmup < 0) o.warmup = o.seconds >= 600 ? 360 : o.seconds / 3;
    return o.warmup < o.seconds;
}

struct Sample {
    double at;  // seconds since the load started
    long long rss;
    int descriptors;
    int threads;
};

// Mean RSS and descriptors over [from, to).
std::pair<double, double> Mean(const std::vector<Sample>& samples, double from, double to) {
    double rss = 0;
    double fds = 0;
    int n = 0;
    for (const Sample& s : samples) {
        if (s.at < from || s.at >= to) continue;
        rss += static_cast<double>(s.rss);
        fds += s.descriptors;
        ++n;
    }
    return n == 0 ? std::make_pair(0.0, 0.0) : std::make_pair(rss / n, fds / n);
}

double Percent(double from, double to) {
    return from <= 0 ? 0 : (to - from) * 100.0 / from;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        Usage();
        return 2;
    }
    bench::RaiseDescriptorLimit();
    o.plan.port = bench::FreePort();

    // The load is forked before this process starts any thread.
    bench::ChildProcess load([&](bench::ChildProcess& centre) {
        centre.Receive();  // kGo: the service is listening
        return soak::RunLoad(o.plan, centre);
    });

    if (!DSStartService(o.plan.port)) {
        char error[256] = {};
        DSGetLastError(error, sizeof error);
        std::printf("DSStartService failed: %s\n", error);
        load.Send(soak::kQuit);
        return 1;
    }
    const auto connectStart = Clock::now();
    load.Send(kGo);
    const std::uint64_t registered = load.Receive();
    std::printf(
        "soak: %d terminals (%d stateful), %llu registered on the terminal side in %.1f s; "
        "%.0f messages/s, churn %.1f/s each kind, %d s with %d s warm-up\n",
        o.plan.terminals, o.plan.jobTerminals, static_cast<unsigned long long>(registered),
        std::chrono::duration<double>(Clock::now() - connectStart).count(),
        o.plan.messagesPerSecond, o.plan.resetsPerSecond, o.seconds, o.warmup);
    std::fflush(stdout);

    soak::SoakWindow window(std::this_thread::get_id());
    const pelmora::EngineTiming timing;  // the service's own limits
    pelmora::CommandEngine engine(pelmora::DovrikLink(), window, timing);
    engine.SetSettingsGrid(&window);
    engine.SetPrompt(&window);
    engine.SetVersionView(&window);
    engine.SetUpgradeForm(&window);
    if (!engine.StartWorker()) {
        std::printf("the command worker did not start\n");
        return 1;
    }
    std::vector<std::uint32_t> jobTerminals;
    for (int i = 0; i < o.plan.jobTerminals; ++i) {
        const std::uint32_t id = soak::kFirstId + static_cast<std::uint32_t>(i);
        if (id != soak::kSilentJobTerminal) jobTerminals.push_back(id);
    }
    soak::JobRunner jobs(engine, window, timing, jobTerminals, soak::kSilentJobTerminal,
                         o.plan.seed);
    // The bookkeeping of the run lives in this process too: its room is made
    // before the warm-up, so it does not count as the centre's growth.
    soak::ReceiveLedger ledger;
    ledger.Reserve(soak::kFirstId, static_cast<std::uint32_t>(o.plan.terminals), 64);

    // The watchdog: the window loop must keep coming round.
    std::atomic<std::uint64_t> rounds{0};
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
        std::uint64_t seen = rounds.load();
        auto lastProgress = Clock::now();
        while (!finished) {
            std::this_thread::sleep_for(200ms);
            const std::uint64_t now = rounds.load();
            if (now != seen) {
                seen = now;
                lastProgress = Clock::now();
            } else if (Clock::now() - lastProgress > kStallLimit) {
                std::printf("FAIL: the centre's window loop has not come round for %lld s: stuck\n",
                            static_cast<long long>(kStallLimit.count()));
                std::fflush(stdout);
                std::_Exit(3);
            }
        }
    });

    _PACKET packet;
    std::uint64_t largestPass = 0;
    auto drain = [&] {
        std::uint64_t n = 0;
        while (n < 20000 && DSGetNextData(&packet, 0)) {
            ledger.Take(packet.deviceId, packet.data, packet.length);
            engine.IntakePacket(packet.deviceId, packet.data, packet.length, window);
            ++n;
        }
        largestPass = std::max(largestPass, n);
        return n;
    };

    std::vector<Sample> samples;
    samples.reserve(static_cast<std::size_t>(o.seconds) / 5 + 16);
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(o.seconds);
    auto nextRefresh = start;
    auto nextSample = start;
    auto nextReport = start + 60s;
    bool timeoutJobsQueued[2] = {false, false};
    bool stuck = false;
    window.Refresh();
    for (auto now = start; now < end; now = Clock::now()) {
        ++rounds;
        const std::uint64_t taken = drain();
        if (now >= nextRefresh) {
            window.Refresh();
            nextRefresh = now + 1s;
        }
        const double elapsed = std::chrono::duration<double>(now - start).count();
        for (int k = 0; k < 2; ++k) {
            if (!timeoutJobsQueued[k] && elapsed >= o.seconds * (k + 1) / 3.0) {
                jobs.QueueTimeoutJobs();
                timeoutJobsQueued[k] = true;
            }
        }
        jobs.Tick(now, true);
        if (jobs.Stuck(now)) {
            stuck = true;
            break;
        }
        if (now >= nextSample) {
            samples.push_back({elapsed, bench::ResidentBytes(),
                               bench::CountEntries("/proc/self/fd"),
                               bench::CountEntries("/proc/self/task")});
            nextSample = now + 5s;
        }
        if (now >= nextReport) {
            const Sample& s = samples.back();
            std::printf(
                "%4.0f s: %d online, %llu records, %d jobs run, RSS %.1f MiB, %d descriptors "
                "(%d beyond the registered terminals)\n",
                elapsed, window.RowCount(), static_cast<unsigned long long>(ledger.Records()),
                [&] {
                    int n = 0;
                    for (const auto& [name, k] : jobs.Stats()) n += k.runs;
                    return n;
                }(),
                s.rss / 1048576.0, s.descriptors, s.descriptors - DSGetModemCount());
            std::fflush(stdout);
            nextReport = now + 60s;
        }
        if (taken == 0) std::this_thread::sleep_for(2ms);
    }

    // The load stops; what is still on its way is taken in.
    load.Send(soak::kStop);
    const soak::LoadReport report = soak::ReceiveReport(load);
    auto quietSince = Clock::now();
    const auto drainDeadline = Clock::now() + 120s;
    while (Clock::now() < drainDeadline && !stuck) {
        ++rounds;
        const auto now = Clock::now();
        if (drain() > 0) quietSince = now;
        jobs.Tick(now, false);
        if (jobs.Stuck(now)) stuck = true;
        if (!jobs.Running() && now - quietSince > 2s) break;
        std::this_thread::sleep_for(2ms);
    }
    load.Send(soak::kQuit);
    load.Wait();
    finished = true;
    watchdog.join();

    const soak::LedgerVerdict verdict = ledger.Check(report.epochs);
    const soak::LoadStats& st = report.stats;
    std::uint64_t stayed = 0;
    for (const auto& e : report.epochs) stayed += e.stayedConnected ? 1 : 0;

    bool ok = true;
    auto check = [&ok](bool pass, const char* what) {
        std::printf("%s %s\n", pass ? "PASS" : "FAIL", what);
        ok = ok && pass;
    };

    std::printf(
        "\nLoad: %llu records sent over %llu connections (%llu still connected at the end); "
        "%llu resets, %llu orderly closes, %llu re-registrations, %llu quiet spells, "
        "%llu silent peers; %llu status messages, %llu answers seen by the terminals; "
        "%llu connections ended by the centre\n",
        static_cast<unsigned long long>(st.records),
        static_cast<unsigned long long>(st.connections), static_cast<unsigned long long>(stayed),
        static_cast<unsigned long long>(st.resets), static_cast<unsigned long long>(st.closes),
        static_cast<unsigned long long>(st.reregistrations),
        static_cast<unsigned long long>(st.quietSpells),
        static_cast<unsigned long long>(st.silentPeers),
        static_cast<unsigned long long>(st.statusMessages),
        static_cast<unsigned long long>(st.statusAnswers),
        static_cast<unsigned long long>(st.droppedByCentre));
    std::printf(
        "Centre: %llu messages taken, %llu records in order, %llu messages held more than one "
        "record, %llu records came in several messages, %llu other bytes; largest drain pass "
        "%llu messages (queue cap 65000)\n",
        static_cast<unsigned long long>(ledger.Messages()),
        static_cast<unsigned long long>(ledger.Records()),
        static_cast<unsigned long long>(ledger.MessagesWithSeveralRecords()),
        static_cast<unsigned long long>(ledger.SplitRecords()),
        static_cast<unsigned long long>(ledger.OtherBytes()),
        static_cast<unsigned long long>(largestPass));
    std::printf(
        "Delivery: lost %llu, duplicated %llu, skipped %llu, misrouted %llu, damaged %llu, "
        "unknown %llu, more than sent %llu; undelivered at a close, reset or replacement: %llu "
        "(%llu of them cut off in the middle)\n",
        static_cast<unsigned long long>(verdict.lost),
        static_cast<unsigned long long>(ledger.Duplicates()),
        static_cast<unsigned long long>(ledger.Gaps()),
        static_cast<unsigned long long>(ledger.Misrouted()),
        static_cast<unsigned long long>(ledger.Damaged()),
        static_cast<unsigned long long>(verdict.unknown),
        static_cast<unsigned long long>(verdict.beyondSent),
        static_cast<unsigned long long>(verdict.lostAtClose),
        static_cast<unsigned long long>(ledger.CutOff()));

    const double loadEnd = o.seconds;
    const auto base = Mean(samples, o.warmup, o.warmup + 60.0);
    const auto last = Mean(samples, loadEnd - 60.0, loadEnd);
    long long maxRss = 0;
    int maxFds = 0;
    for (const Sample& s : samples) {
        if (s.at < o.warmup) continue;
        maxRss = std::max(maxRss, s.rss);
        maxFds = std::max(maxFds, s.descriptors);
    }
    const double rssGrowth = Percent(base.first, last.first);
    const double fdGrowth = Percent(base.second, last.second);
    std::printf(
        "Memory: RSS %.2f MiB in the minute after warm-up, %.2f MiB in the last minute "
        "(%+.2f %%), highest %.2f MiB; descriptors %.0f -> %.0f (%+.2f %%), highest %d; "
        "threads %d -> %d\n",
        base.first / 1048576.0, last.first / 1048576.0, rssGrowth, maxRss / 1048576.0, base.second,
        last.second, fdGrowth, maxFds, samples.empty() ? 0 : samples.front().threads,
        samples.empty() ? 0 : samples.back().threads);
    std::printf("Jobs (%d deferred while a terminal was off the list):\n", jobs.Deferred());
    for (const auto& [name, k] : jobs.Stats()) {
        std::printf(
            "  %-26s %4d runs, %4d as expected, longest %6.2f s (limit %.1f s), %d over the "
            "limit\n",
            name.c_str(), k.runs, k.expected, k.longestSeconds, k.limitSeconds, k.overLimit);
    }
    for (const std::string& p : jobs.Problems()) std::printf("  problem: %s\n", p.c_str());
    std::printf("\n");

    int jobRuns = 0;
    bool jobsFine = jobs.Problems().empty();
    for (const auto& [name, k] : jobs.Stats()) {
        jobRuns += k.runs;
        jobsFine = jobsFine && k.runs == k.expected && k.overLimit == 0;
    }
    check(ledger.FaultFree() && verdict.Clean(),
          "every record of a connection that stayed arrived exactly once and in order");
    check(st.droppedByCentre == 0, "the centre ended no terminal's connection on its own");
    check(!stuck, "no job hung past its limit (no deadlock)");
    check(jobsFine && jobRuns > 0, "every job ended as expected within its time limit");
    check(samples.size() >= 2 && last.first > 0 && rssGrowth < 1.0,
          "RSS growth after warm-up under 1 %");
    check(last.second <= base.second * 1.01 + 2, "open descriptors flat after warm-up");
    engine.RequestStop();
    DSStopService();
    std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}
