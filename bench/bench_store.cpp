// The warning record on disk: how soon the outcomes of a 10,000-terminal
// group job are committed, what each outcome costs the file, and how fast
// the latest records and one whole record read back. The database lives in
// a temporary folder that is removed afterwards.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Store.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

std::uintmax_t FolderBytes(const std::filesystem::path& folder) {
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file()) total += entry.file_size();
    return total;
}

}  // namespace

int main() {
    constexpr std::uint32_t kTerminals = 10'000;
    constexpr int kRecords = 20;
    const auto folder = std::filesystem::temp_directory_path() /
                        ("pelmora-bench-store-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    bool pass = true;
    {
        auto store = pelmora::store::OpenStore((folder / "pelmora.db").string());
        if (!store->Persistent()) {
            std::printf("the database could not be opened: %s\n", store->Problem().c_str());
            return 1;
        }
        const std::uintmax_t empty = FolderBytes(folder);
        double slowestCommit = 0;
        for (int record = 0; record < kRecords; ++record) {
            pelmora::store::Warning warning;
            warning.group = true;
            warning.kind = 20;
            warning.content = "暴雨红色预警：请立即转移到安全地带。";
            warning.state = "running";
            const std::int64_t id = store->AddWarning(warning);
            std::vector<pelmora::store::Outcome> outcomes;
            outcomes.reserve(kTerminals);
            for (std::uint32_t i = 0; i < kTerminals; ++i)
                outcomes.push_back(
                    {id, 0x20000000u + i, 1, i % 10 == 0 ? "超时" : "成功", 1'765'000'000 + i, ""});
            // The job's end: its last batch, then how long until it is on disk.
            const auto ended = Clock::now();
            store->AddOutcomes(std::move(outcomes));
            store->EndWarning(id, 1'765'000'100, "finished");
            store->Flush();
            slowestCommit = std::max(slowestCommit, Millis(ended));
        }
        const std::uintmax_t full = FolderBytes(folder);
        const double perOutcome =
            static_cast<double>(full - empty) / (static_cast<double>(kTerminals) * kRecords);
        const bool commitOk = slowestCommit <= 500, sizeOk = perOutcome <= 100;
        std::printf(
            "%d records of %u outcomes each:\n"
            "  commit of a job's outcomes after its end: slowest %.1f ms (target <= 500 ms) %s\n"
            "  file growth %.1f bytes per outcome, WAL included (target <= 100) %s\n",
            kRecords, kTerminals, slowestCommit, commitOk ? "PASS" : "FAIL", perOutcome,
            sizeOk ? "PASS" : "FAIL");
        auto started = Clock::now();
        const auto latest = store->LatestWarnings(100);
        const double latestMs = Millis(started);
        started = Clock::now();
        const auto one = store->OutcomesOf(latest.empty() ? 0 : latest.front().id);
        const double oneMs = Millis(started);
        const bool readOk = latestMs <= 100 && oneMs <= 200 && one.size() == kTerminals;
        std::printf(
            "  the latest records (%zu) in %.1f ms (target <= 100 ms); one record of %zu "
            "outcomes in %.1f ms (target <= 200 ms) %s\n",
            latest.size(), latestMs, one.size(), oneMs, readOk ? "PASS" : "FAIL");
        pass = commitOk && sizeOk && readOk;
    }
    std::filesystem::remove_all(folder);
    return pass ? 0 : 1;
}
