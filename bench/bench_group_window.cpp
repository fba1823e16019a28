// The window during a group job: the real main window (offscreen), 10,000
// simulated terminals answering after 50 ms in a child process, every one
// ticked with "全选在线" and sent play content through the group action. A
// 5 ms timer on the window thread records the longest gap between its ticks
// while the job runs: the drain, the outcome lines into the log and the
// panel's live view all share that thread. The window keeps its record in a
// database file, as it does in use; once the job has ended the benchmark
// times how long the last outcomes take to be committed, the window thread
// still watched meanwhile.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "DeviceView.h"
#include "Dovrik.h"
#include "GroupJob.h"
#include "GroupJobPanel.h"
#include "GroupLauncher.h"
#include "MainFrame.h"
#include "PelmoraView.h"
#include "Store.h"
#include "TerminalSimulator.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kFirstId = 0x500000;

int TerminalsChild(bench::ChildProcess& parent, int terminals) {
    bench::RaiseDescriptorLimit();
    const auto port = static_cast<std::uint16_t>(parent.Receive());
    dovrik::sim::TerminalSimulator::Options options;
    options.port = port;
    options.threads = 2;
    options.readChunk = 1024;
    dovrik::sim::TerminalSimulator sim(options);
    dovrik::sim::FleetPlan plan;
    plan.count = static_cast<std::size_t>(terminals);
    plan.firstId = kFirstId;
    plan.answerDelay = 50ms;
    sim.AddFleet(plan);
    dovrik::sim::TerminalSimulator::WaitUntil([&] { return sim.RegisteredCount() == plan.count; },
                                              120s);
    parent.Send(sim.RegisteredCount());
    parent.Receive();  // stop
    return 0;
}

// Runs the window's events until `done` holds; returns false on timeout.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int terminals = 10000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--terminals" && i + 1 < argc) {
            terminals = std::atoi(argv[++i]);
        } else {
            std::printf(
                "Usage: bench_group_window [--terminals N]\n"
                "Group play content from the window to N simulated terminals (default 10000)\n"
                "answering after 50 ms; prints the longest stall of the window thread.\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (terminals < 1) return 2;
    bench::ChildProcess child(
        [terminals](bench::ChildProcess& p) { return TerminalsChild(p, terminals); });
    bench::RaiseDescriptorLimit();

    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::WindowSetup setup;
    setup.options.databasePath = setup.dir.filePath("pelmora.db").toStdString();
    pelmora::ServiceSettings& settings = setup.settings;
    setup.options.confirm = [](const QString&, const QString&) { return true; };
    setup.options.confirmCount = [](const QString&, const QString&, std::size_t) { return true; };
    pelmora::CMainFrame frame(setup.options);
    frame.show();
    frame.StartService();
    child.Send(static_cast<std::uint64_t>(settings.port));
    const auto registered = static_cast<int>(child.Receive());
    // Sent is not yet registered: wait until the service lists them all.
    RunUntil([&] { return DSGetModemCount() >= registered; }, 60s);
    frame.Refresh();
    pelmora::CDeviceView& list = *frame.DeviceView();
    list.CheckOnlineShown();
    QCoreApplication::processEvents();
    std::printf("Group job from the window: %d of %d terminals registered, %d rows ticked\n",
                DSGetModemCount(), terminals, list.RowCounts().checked);

    // The window thread's heartbeat: the longest gap between two 5 ms ticks.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    bool watching = false;
    QTimer watchdog;
    watchdog.setInterval(5);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (watching) longestGap = std::max(longestGap, sinceTick.elapsed());
        sinceTick.restart();
    });
    watchdog.start();
    sinceTick.start();

    QElapsedTimer clock;
    clock.start();
    watching = true;
    const bool launched = frame.CommandView()->Launcher().Launch(
        pelmora::CommandKind::SendPlayContent, std::string(1000, 'w'));
    const auto job = frame.CommandView()->Engine().CurrentGroupJob();
    const bool finished = launched && job && RunUntil([&] { return job->Finished(); }, 300s);
    const double seconds = clock.elapsed() / 1000.0;
    // Committing what is left of the record, off the window thread.
    std::atomic<bool> committed{false};
    QElapsedTimer commitClock;
    commitClock.start();
    std::thread flusher([&] {
        frame.Store().Flush();
        committed = true;
    });
    RunUntil([&] { return committed.load(); }, 60s);
    const qint64 commitMs = commitClock.elapsed();
    flusher.join();
    // The outcome lines still on their way into the log pane count too.
    RunUntil([] { return false; }, 1000ms);
    watching = false;

    if (!finished) {
        std::printf("the group job did not finish\n");
    } else {
        const pelmora::GroupCounts c = job->Counts();
        std::printf(
            "%d terminals, every outcome in %.2f s; succeeded %d, refused %d, timed out "
            "%d, offline %d, send failed %d, cancelled %d\n",
            c.total, seconds, c.succeeded, c.refused, c.timedOut, c.offline, c.sendFailed,
            c.cancelled);
    }
    if (finished)
        std::printf("record: %zu outcomes committed %lld ms after the job's end (target: 500 ms)\n",
                    frame.Store().OutcomesOf(frame.Store().LatestWarnings(1).at(0).id).size(),
                    static_cast<long long>(commitMs));
    std::printf(
        "longest gap between 5 ms ticks of the window thread: %lld ms (target: no tick "
        "over 50 ms)\n",
        static_cast<long long>(longestGap));
    frame.StopService();
    child.Send(1);
    child.Wait();
    return finished ? 0 : 1;
}
