// Group jobs over the real service: play content to 1,000 and 10,000
// simulated terminals that answer after 50 ms, from the submit to the moment
// every terminal's outcome is known, and the memory the job takes per
// terminal. The terminals run in a child process; this process runs the
// service, the command engine with its default timings, and an intake that
// drains like the window's timer (every 300 ms, in bounded batches).
//
// The job's own memory is measured first, in a fresh process, against
// terminals that do not answer: from the submit until every frame is out and
// every terminal awaited. With answers the link's receive queue comes on top
// (a fixed 4112-byte record per message until the intake takes it); the
// answered run prints that peak too.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchEngine.h"
#include "BenchSupport.h"
#include "CommandEngine.h"
#include "Dovrik.h"
#include "GroupJob.h"
#include "TerminalSimulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint64_t kQuit = ~std::uint64_t{0};
constexpr auto kAnswerDelay = 50ms;

class CountingEvents final : public pelmora::IEngineEvents {
  public:
    void PostLog(std::string) override { ++lines; }
    void SettingsArrived() override {}
    void NumbersAdded(pelmora::ListChangeNotice) override {}
    void NumbersDeleted(pelmora::ListChangeNotice) override {}
    void NumberListReset(pelmora::ListChangeNotice) override {}
    std::atomic<long> lines{0};
};

// The child: on a fleet size, a first ID and whether they answer it connects
// that many terminals and says how many registered; on 0 it closes them; on
// kQuit it leaves.
int TerminalsChild(bench::ChildProcess& parent) {
    bench::RaiseDescriptorLimit();
    const auto port = static_cast<std::uint16_t>(parent.Receive());
    std::unique_ptr<dovrik::sim::TerminalSimulator> sim;
    for (;;) {
        const std::uint64_t count = parent.Receive();
        if (count == kQuit) return 0;
        sim.reset();
        if (count == 0) {
            parent.Send(0);
            continue;
        }
        const auto firstId = static_cast<std::uint32_t>(parent.Receive());
        const bool silent = parent.Receive() != 0;
        dovrik::sim::TerminalSimulator::Options options;
        options.port = port;
        options.threads = 2;
        options.readChunk = 1024;
        sim = std::make_unique<dovrik::sim::TerminalSimulator>(options);
        dovrik::sim::FleetPlan plan;
        plan.count = count;
        plan.firstId = firstId;
        plan.answerDelay = kAnswerDelay;
        plan.silentShare = silent ? 1.0 : 0.0;
        sim->AddFleet(plan);
        dovrik::sim::TerminalSimulator::WaitUntil([&] { return sim->RegisteredCount() == count; },
                                                  120s);
        parent.Send(sim->RegisteredCount());
    }
}

struct Result {
    double seconds = -1;
    long long peakGrowth = 0;  // bytes of RSS over the level before the job was made
    pelmora::GroupCounts counts;
};

// Submits play content to the terminals and waits until `reached` holds for
// the job, sampling the RSS all the while.
Result RunGroup(pelmora::CommandEngine& engine, std::size_t terminals, std::uint32_t firstId,
                std::size_t contentBytes,
                const std::function<bool(const pelmora::GroupJob&)>& reached) {
    Result result;
    const long long before = bench::ResidentBytes();
    std::vector<std::uint32_t> ids(terminals);
    for (std::size_t i = 0; i < terminals; ++i) ids[i] = firstId + static_cast<std::uint32_t>(i);
    auto job = std::make_shared<pelmora::GroupJob>(pelmora::CommandKind::SendPlayContent,
                                                   std::string(contentBytes, 'w'), std::move(ids),
                                                   std::vector<std::uint32_t>{});
    long long peak = before;
    const auto start = Clock::now();
    if (!engine.SubmitGroupJob(job)) return result;
    const double seconds = bench::TimeUntil(
        [&] {
            peak = std::max(peak, bench::ResidentBytes());
            return reached(*job);
        },
        300s);
    if (seconds >= 0) result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.peakGrowth = peak - before;
    result.counts = job->Counts();
    job->Cancel();
    bench::TimeUntil([&] { return job->Finished() && engine.Idle(); }, 30s);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::printf(
            "Usage: bench_group\n"
            "Play content to 1,000 and 10,000 simulated terminals answering after 50 ms, as\n"
            "group jobs with the engine's default timings; prints the time to every outcome\n"
            "and the memory per terminal against their targets.\n");
        return std::string(argv[1]) == "--help" ? 0 : 2;
    }
    bench::ChildProcess child(TerminalsChild);  // before any thread of this process
    bench::RaiseDescriptorLimit();
    const std::uint16_t port = bench::FreePort();
    if (!DSStartService(port)) {
        std::printf("DSStartService failed\n");
        child.Send(port);
        child.Send(kQuit);
        return 1;
    }
    child.Send(port);

    CountingEvents events;
    bench::NoDevices devices;
    pelmora::CommandEngine engine(pelmora::DovrikLink(), events);  // default timings
    engine.StartWorker();
    std::atomic<bool> draining{true};
    std::thread drain([&] {
        // As the window's drain timer: a tick every 300 ms, or soon again
        // while a tick ran out of its 20 ms budget.
        _PACKET packet;
        while (draining) {
            const auto tick = Clock::now();
            bool backlog = false;
            int taken = 0;
            while (DSGetNextData(&packet, 0)) {
                engine.IntakePacket(packet.deviceId, packet.data, packet.length, devices);
                if (++taken % 32 == 0 && Clock::now() - tick >= 20ms) {
                    backlog = true;
                    break;
                }
            }
            std::this_thread::sleep_for(backlog ? 5ms : 300ms);
        }
    });

    std::uint32_t firstId = 0x20000000;
    int failures = 0;
    // A fleet in the child, registered with the service here.
    const auto fleet = [&](std::size_t terminals, bool silent) {
        child.Send(terminals);
        child.Send(firstId);
        child.Send(silent ? 1 : 0);
        const auto registered = child.Receive();
        const double wait = bench::TimeUntil(
            [&] { return DSGetModemCount() == static_cast<int>(terminals); }, 120s);
        if (registered == terminals && wait >= 0) return true;
        std::printf("%zu terminals: only %llu registered\n", terminals,
                    static_cast<unsigned long long>(registered));
        return false;
    };
    const auto closeFleet = [&] {
        child.Send(0);
        child.Receive();
        bench::TimeUntil([] { return DSGetModemCount() == 0; }, 60s);
        firstId += 0x100000;
    };

    constexpr std::size_t kMemoryTerminals = 10000;
    if (fleet(kMemoryTerminals, true)) {
        const Result r = RunGroup(
            engine, kMemoryTerminals, firstId, 1000,
            [](const pelmora::GroupJob& job) { return job.Counts().sent == job.Counts().total; });
        const double perTerminal =
            static_cast<double>(r.peakGrowth) / static_cast<double>(kMemoryTerminals);
        std::printf(
            "Memory of a group job: %.0f bytes per terminal (peak RSS growth %.1f MiB from the "
            "submit until all %zu terminals were sent to and awaited; target < 1024)\n",
            perTerminal, static_cast<double>(r.peakGrowth) / (1024.0 * 1024.0), kMemoryTerminals);
        if (r.seconds < 0 || perTerminal >= 1024) ++failures;
        closeFleet();
    } else {
        ++failures;
    }

    struct Scenario {
        std::size_t terminals;
        std::size_t contentBytes;
        double targetSeconds;
    };
    const Scenario scenarios[] = {{1000, 1000, 3.0}, {10000, 1000, 15.0}, {1000, 3000, 5.0}};
    std::printf("Play content to terminals answering after %lld ms, default engine timings:\n",
                static_cast<long long>(kAnswerDelay.count()));
    for (const Scenario& s : scenarios) {
        if (!fleet(s.terminals, false)) {
            ++failures;
            break;
        }
        const Result r = RunGroup(engine, s.terminals, firstId, s.contentBytes,
                                  [](const pelmora::GroupJob& job) { return job.Finished(); });
        const int pieces = static_cast<int>((s.contentBytes + 1023) / 1024);
        std::printf(
            "%6zu terminals, %zu bytes (%d piece%s): every outcome in %.2f s (target < %.0f s); "
            "succeeded %d, refused %d, timed out %d, send failed %d; peak RSS growth %.0f "
            "bytes per terminal with the link's queue of answers\n",
            s.terminals, s.contentBytes, pieces, pieces == 1 ? "" : "s", r.seconds, s.targetSeconds,
            r.counts.succeeded, r.counts.refused, r.counts.timedOut, r.counts.sendFailed,
            static_cast<double>(r.peakGrowth) / static_cast<double>(s.terminals));
        if (r.seconds < 0 || r.seconds >= s.targetSeconds ||
            r.counts.succeeded != static_cast<int>(s.terminals))
            ++failures;
        closeFleet();
    }
    child.Send(kQuit);
    draining = false;
    drain.join();
    engine.RequestStop();
    DSStopService();
    std::printf("log lines: %ld\n", events.lines.load());
    return failures == 0 ? 0 : 1;
}
