// The program killed (SIGKILL) in the middle of a group job to 1,000
// terminals: the next start opens the database cleanly, the record holds
// every outcome committed before the kill, and it says the job ended
// unfinished. The window runs in a child process, which the test kills once
// it has seen outcomes committed; half the terminals never answer, so the
// job is still running then.
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include "CommandEngine.h"
#include "DeviceView.h"
#include "Dovrik.h"
#include "GroupJob.h"
#include "LoopbackPort.h"
#include "MainFrame.h"
#include "PelmoraView.h"
#include "ServiceSettings.h"
#include "Store.h"
#include "TerminalSimulator.h"

namespace {

using namespace std::chrono_literals;
constexpr std::size_t kTerminals = 1000;
constexpr std::uint32_t kFirstId = 0x00B00001;

bool RunUntil(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The window with the database, a group job under way; writes the number of
// outcomes committed to `report`, then keeps running until killed.
int Child(const QString& dir, const std::string& database, int report) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("PELMORA_LOG_DIR", (dir + "/logs").toUtf8());
    int argc = 1;
    char name[] = "kill_during_job";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    pelmora::ServiceSettings settings(dir + "/settings.ini");
    settings.Load();
    settings.port = testsupport::FreePort();
    pelmora::CMainFrame::Options options;
    options.settings = &settings;
    options.databasePath = database;
    options.drainInterval = 10ms;
    options.engineTiming.framePollInterval = 5ms;
    options.engineTiming.framePolls = 60000;  // the silent ones: five minutes
    pelmora::CMainFrame frame(options);
    frame.StartService();
    dovrik::sim::TerminalSimulator::Options simOptions;
    simOptions.port = static_cast<std::uint16_t>(settings.port);
    simOptions.threads = 2;
    dovrik::sim::TerminalSimulator sim(simOptions);
    dovrik::sim::FleetPlan plan;
    plan.count = kTerminals;
    plan.firstId = kFirstId;
    plan.silentShare = 0.5;
    sim.AddFleet(plan);
    if (!RunUntil([] { return DSGetModemCount() == static_cast<int>(kTerminals); }, 120s)) return 3;
    frame.Refresh();
    std::vector<std::uint32_t> ids;
    for (std::size_t i = 0; i < kTerminals; ++i)
        ids.push_back(kFirstId + static_cast<std::uint32_t>(i));
    auto job = std::make_shared<pelmora::GroupJob>(pelmora::CommandKind::SendPlayContent, "rain",
                                                   ids, std::vector<std::uint32_t>{});
    if (!frame.CommandView()->Engine().SubmitGroupJob(job)) return 4;
    std::size_t committed = 0;
    const bool seen = RunUntil(
        [&] {
            if (job->Counts().succeeded < static_cast<int>(kTerminals / 2)) return false;
            frame.Store().Flush();
            const auto latest = frame.Store().LatestWarnings(1);
            if (latest.empty()) return false;
            committed = frame.Store().OutcomesOf(latest[0].id).size();
            return committed >= kTerminals / 2;
        },
        120s);
    if (!seen || job->Finished()) return 5;
    const std::uint64_t count = committed;
    if (write(report, &count, sizeof count) != sizeof count) return 6;
    RunUntil([] { return false; }, 600s);  // killed before this ends
    return 0;
}

}  // namespace

int main() {
    // Enough descriptors for the terminals and their connections.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 4 * kTerminals + 64) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4 * kTerminals + 64);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    QTemporaryDir dir;
    if (!dir.isValid()) return 2;
    const std::string database = dir.filePath("pelmora.db").toStdString();
    int channel[2];
    if (pipe(channel) != 0) return 2;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        _exit(Child(dir.path(), database, channel[1]));
    }
    close(channel[1]);
    pollfd wait{channel[0], POLLIN, 0};
    std::uint64_t committed = 0;
    const bool reported = poll(&wait, 1, 240000) == 1 &&
                          read(channel[0], &committed, sizeof committed) == sizeof committed;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    if (!reported) {
        std::fprintf(stderr, "the window never reported committed outcomes (status %d)\n",
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        return 1;
    }
    auto store = pelmora::store::OpenStore(database);
    if (!store->Persistent() || !store->Problem().empty()) {
        std::fprintf(stderr, "the database did not open cleanly: %s\n", store->Problem().c_str());
        return 1;
    }
    const auto latest = store->LatestWarnings(1);
    if (latest.size() != 1 || latest[0].state != "unfinished") {
        std::fprintf(stderr, "the job is not recorded as unfinished\n");
        return 1;
    }
    const std::size_t kept = store->OutcomesOf(latest[0].id).size();
    std::printf("killed with %llu outcomes committed; the record holds %zu, state %s\n",
                static_cast<unsigned long long>(committed), kept, latest[0].state.c_str());
    return kept >= committed ? 0 : 1;
}
