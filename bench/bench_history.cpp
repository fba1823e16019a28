// The warning record's window on a record file of some size: how long the
// latest 100 records take to be listed, and one record of 10,000 terminals
// (a tenth of them sent twice) to be shown with its outcomes, each from the
// query to the painted window. The registry holds the 10,000 terminals. The
// database lives in a temporary folder that is removed afterwards.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <unistd.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "HistoryView.h"
#include "Store.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kTerminals = 10'000;
constexpr int kSmallRecords = 300;
constexpr std::uint32_t kSmallReach = 50;
constexpr int kRuns = 5;

double Millis(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

struct Figures {
    double first = 0, median = 0, slowest = 0;
};

Figures Summarize(std::vector<double> runs) {
    Figures figures;
    figures.first = runs.front();
    std::sort(runs.begin(), runs.end());
    figures.median = runs[runs.size() / 2];
    figures.slowest = runs.back();
    return figures;
}

void Settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

std::int64_t AddRecord(pelmora::store::Store& store, std::int64_t queued, std::uint32_t reach) {
    pelmora::store::Warning warning;
    warning.group = true;
    warning.kind = 20;
    warning.content = "暴雨红色预警：请立即转移到安全地带。";
    warning.operatorName = "duty";
    warning.queued = warning.started = queued;
    warning.state = "finished";
    const std::int64_t id = store.AddWarning(warning);
    std::vector<pelmora::store::Outcome> outcomes;
    outcomes.reserve(reach + reach / 10);
    for (std::uint32_t i = 0; i < reach; ++i) {
        const std::uint32_t device = 0x20000000u + i;
        const bool twice = i % 10 == 0;
        outcomes.push_back({id, device, 1, twice ? "超时" : "成功", queued + 1, ""});
        if (twice) outcomes.push_back({id, device, 2, "成功", queued + 60, ""});
    }
    store.AddOutcomes(std::move(outcomes));
    return id;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto folder = std::filesystem::temp_directory_path() /
                        ("pelmora-bench-history-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    bool pass = true;
    {
        auto store = pelmora::store::OpenStore((folder / "pelmora.db").string());
        if (!store->Persistent()) {
            std::printf("the database could not be opened: %s\n", store->Problem().c_str());
            return 1;
        }
        std::vector<pelmora::store::Terminal> registry(kTerminals);
        for (std::uint32_t i = 0; i < kTerminals; ++i) {
            registry[i].deviceId = 0x20000000u + i;
            registry[i].name = "终端" + std::to_string(i);
            registry[i].regionCode = "1101" + std::to_string(10 + i % 80);
            registry[i].regionName = "东城区";
            registry[i].sim = "138" + std::to_string(10'000'000 + i);
        }
        store->SaveTerminals(std::move(registry));
        const std::int64_t large = AddRecord(*store, 1'765'000'000, kTerminals);
        for (int i = 0; i < kSmallRecords; ++i)
            AddRecord(*store, 1'765'000'100 + i * 60, kSmallReach);
        store->Flush();

        pelmora::HistoryView view(*store, {});
        view.show();
        Settle();
        std::vector<double> listMs, recordMs;
        int listed = 0, rows = 0;
        for (int run = 0; run < kRuns; ++run) {
            auto started = Clock::now();
            view.Query();
            Settle();
            listMs.push_back(Millis(started));
            listed = view.List().rowCount();
            started = Clock::now();
            view.OpenRecord(large);
            Settle();
            recordMs.push_back(Millis(started));
            rows = view.Outcomes().rowCount();
        }
        const Figures list = Summarize(listMs), record = Summarize(recordMs);
        const bool listOk = list.slowest <= 100 && listed == 100;
        const bool recordOk =
            record.slowest <= 200 && rows == static_cast<int>(kTerminals * 11 / 10);
        std::printf(
            "record file of %d records, registry of %u terminals, %d runs:\n"
            "  the latest %d records listed and painted: first %.1f ms, median %.1f ms, "
            "slowest %.1f ms (target <= 100 ms) %s\n"
            "  one record of %u terminals (%d outcome rows) shown and painted: first %.1f ms, "
            "median %.1f ms, slowest %.1f ms (target <= 200 ms) %s\n",
            kSmallRecords + 1, kTerminals, kRuns, listed, list.first, list.median, list.slowest,
            listOk ? "PASS" : "FAIL", kTerminals, rows, record.first, record.median, record.slowest,
            recordOk ? "PASS" : "FAIL");
        pass = listOk && recordOk;
    }
    std::filesystem::remove_all(folder);
    return pass ? 0 : 1;
}
