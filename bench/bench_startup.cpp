// The window over a large registry: a store file with 100,000 registered
// terminals (and, with --records, a warning record of that many jobs of
// 10,000 outcomes each), then the start: the window built and shown, and the
// device list filled with every registered terminal. Then what such a list
// costs the window afterwards: the minute's pass over the offline times, a
// refresh with no terminal online, a filter typed, a region chosen, a sort by
// region, and a stop.
// The data goes to a temporary folder that is removed afterwards; with
// --data DIR it is kept there and used again by later runs (the record takes
// minutes to make). Runs on the offscreen platform unless QT_QPA_PLATFORM
// says otherwise.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "DeviceView.h"
#include "MainFrame.h"
#include "DeviceTable.h"
#include "Store.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

const char* const kTags[] = {"学校", "山区", "水库", "村委", "医院", "景区"};

// A fleet as the field has it: 200 regions, a few tags each, last seen over
// the past ten days, one in twenty never online.
std::vector<pelmora::store::Terminal> Fleet(int count, std::int64_t now) {
    std::vector<pelmora::store::Terminal> fleet(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        pelmora::store::Terminal& t = fleet[static_cast<std::size_t>(i)];
        t.deviceId = 0x10000000u + static_cast<std::uint32_t>(i);
        t.name = "终端" + std::to_string(i);
        const int region = i % 200;
        t.regionCode = "3301" + std::to_string(100 + region);
        t.regionName = "区划" + std::to_string(region);
        t.tags = std::string(kTags[i % 6]) + (i % 3 == 0 ? std::string(";") + kTags[i % 5] : "");
        if (i % 20 == 0) continue;  // never online
        char sim[16];
        std::snprintf(sim, sizeof sim, "138%08d", i);
        t.sim = sim;
        t.address = "10." + std::to_string(i / 65536 % 256) + "." + std::to_string(i / 256 % 256) +
                    "." + std::to_string(i % 256);
        t.firstSeen = now - 30 * 86400;
        t.lastSeen = now - (static_cast<std::int64_t>(i) * 7919) % (10 * 86400);
    }
    return fleet;
}

bool MakeData(const std::string& path, int terminals, int records, int outcomes) {
    auto store = pelmora::store::OpenStore(path);
    if (!store->Persistent()) {
        std::printf("the database could not be opened: %s\n", store->Problem().c_str());
        return false;
    }
    const std::int64_t now = std::time(nullptr);
    auto started = Clock::now();
    store->SaveTerminals(Fleet(terminals, now));
    store->Flush();
    std::printf("made %d registered terminals in %.1f s\n", terminals, Seconds(started));
    if (records == 0) return true;
    started = Clock::now();
    for (int record = 0; record < records; ++record) {
        pelmora::store::Warning warning;
        warning.group = true;
        warning.kind = 20;
        warning.content = "暴雨红色预警：请立即转移到安全地带。";
        warning.state = "finished";
        warning.queued = warning.started = now - (records - record) * 600;
        warning.ended = warning.started + 60;
        const std::int64_t id = store->AddWarning(warning);
        std::vector<pelmora::store::Outcome> batch;
        batch.reserve(static_cast<std::size_t>(outcomes));
        for (int i = 0; i < outcomes; ++i)
            batch.push_back({id, 0x10000000u + static_cast<std::uint32_t>(i % terminals), 1,
                             i % 10 == 0 ? "超时" : "成功", warning.started + 5, ""});
        store->AddOutcomes(std::move(batch));
        // Written as it goes, so that the queue stays a few records long.
        if (record % 10 == 9) store->Flush();
    }
    store->Flush();
    std::printf("made %d records of %d outcomes each in %.1f s\n", records, outcomes,
                Seconds(started));
    return true;
}

// Notes the first paint of a widget after each Arm().
class PaintWatch final : public QObject {
  public:
    explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
    void Arm() { painted_ = false; }
    bool Painted() const { return painted_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted_ = true;
        return QObject::eventFilter(watched, event);
    }

  private:
    bool painted_ = false;
};

// Runs the window's events until `done`, for at most a minute.
bool RunUntil(const std::function<bool()>& done) {
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 60000) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int terminals = 100000;
    int records = 0;
    int outcomes = 10000;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--terminals" && i + 1 < argc) {
            terminals = std::atoi(argv[++i]);
        } else if (arg == "--records" && i + 1 < argc) {
            records = std::atoi(argv[++i]);
        } else if (arg == "--outcomes" && i + 1 < argc) {
            outcomes = std::atoi(argv[++i]);
        } else if (arg == "--data" && i + 1 < argc) {
            keep = argv[++i];
        } else {
            std::printf(
                "Usage: bench_startup [--terminals N] [--records R] [--outcomes M] [--data DIR]\n"
                "  N registered terminals (default 100000); R records of M outcomes each\n"
                "  (default 0 and 10000); DIR keeps the data for later runs, which use it\n"
                "  as it is.\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (terminals <= 0 || records < 0 || outcomes <= 0) {
        std::printf("the counts must be positive\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path folder =
        keep.empty()
            ? fs::temp_directory_path() / ("pelmora-bench-startup-" + std::to_string(::getpid()))
            : fs::path(keep);
    fs::create_directories(folder);
    const std::string path = (folder / "pelmora.db").string();
    if (!keep.empty() && fs::exists(path)) {
        std::printf("using the data in %s\n", path.c_str());
    } else if (!MakeData(path, terminals, records, outcomes)) {
        return 1;
    }

    int listed = 0;
    {
        auto store = pelmora::store::OpenStore(path);
        listed = static_cast<int>(store->Terminals().size());
    }

    QElapsedTimer startup;
    startup.start();
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int status = 0;
    {
        bench::WindowSetup setup;
        setup.options.databasePath = path;
        QElapsedTimer build;
        build.start();
        auto frame = std::make_unique<pelmora::CMainFrame>(setup.options);
        const double buildMs = Ms(build);
        pelmora::CDeviceView& devices = *frame->DeviceView();
        PaintWatch painted(devices.List()->viewport());
        frame->show();
        RunUntil([&] { return painted.Painted(); });
        const double shownMs = Ms(startup);
        QElapsedTimer fill;
        fill.start();
        // How long the window goes without serving its events while the
        // list fills.
        bench::Heartbeat heartbeat;
        RunUntil([&] { return devices.RowCount() >= listed; });
        painted.Arm();
        RunUntil([&] { return painted.Painted(); });
        const double filledMs = Ms(fill);
        heartbeat.Stop();
        const bool shownOk = shownMs < 1000, filledOk = filledMs < 2000;
        std::printf(
            "registered terminals: %d\n"
            "window built: %.1f ms\n"
            "start-up to the shown window (first paint of the list): %.1f ms (target < 1000 ms) "
            "%s\n"
            "shown window to the list filled and painted: %.1f ms, %d rows (target < 2000 ms) %s\n"
            "longest time without serving events while it filled: %.1f ms\n"
            "resident memory with the list filled: %.0f MiB\n",
            listed, buildMs, shownMs, shownOk ? "PASS" : "FAIL", filledMs, devices.RowCount(),
            filledOk ? "PASS" : "FAIL", heartbeat.WorstMs(),
            static_cast<double>(bench::ResidentBytes()) / 1048576.0);
        status = shownOk && filledOk ? 0 : 1;

        // The list afterwards, each with the event pass after it.
        const auto timeAction = [&](const char* what, const std::function<void()>& action) {
            QElapsedTimer t;
            t.start();
            action();
            QApplication::processEvents();
            std::printf("%s: %.1f ms\n", what, Ms(t));
        };
        timeAction("the minute's pass over the offline times", [&] { devices.ShowRegistry(); });
        timeAction("refresh, no terminal online", [&] { frame->Refresh(); });
        timeAction("filter typed (one region's name)",
                   [&] { devices.SetFilterText(QStringLiteral("区划17")); });
        std::printf("rows shown by the filter: %d of %d\n", devices.RowCounts().shown,
                    devices.RowCounts().total);
        timeAction("filter cleared", [&] { devices.SetFilterText(QString()); });
        timeAction("a region chosen in its box",
                   [&] { devices.RegionBox()->setCurrentIndex(devices.RegionBox()->count() / 2); });
        timeAction("every region again", [&] { devices.RegionBox()->setCurrentIndex(0); });
        timeAction("sort by region",
                   [&] { devices.List()->SortByColumn(pelmora::CDeviceView::kRegion); });
        timeAction("stop: the rows made again from the registry", [&] { frame->StopService(); });
        std::printf("long offline (over %d minutes): %d, never online: %d\n",
                    setup.settings.offlineAlertMinutes, devices.RowCounts().longOffline,
                    devices.RowCounts().neverOnline);
    }
    if (keep.empty()) fs::remove_all(folder);
    return status;
}
