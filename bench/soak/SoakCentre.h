// The centre side of the soak run: the window as the command engine sees it
// (the terminal table, the log, the settings grid and the pages' fields), and
// the operator who keeps running jobs against the stateful terminals and
// checks how and when each one ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "CommandEngine.h"
#include "EngineUi.h"

namespace soak {

using Clock = std::chrono::steady_clock;

class SoakWindow final : public pelmora::IDeviceList,
                         public pelmora::IEngineEvents,
                         public pelmora::ISettingsGrid,
                         public pelmora::IPrompt,
                         public pelmora::IVersionView,
                         public pelmora::IUpgradeForm {
  public:
    // The thread that plays the window: it refreshes, takes packets in and
    // submits jobs. Log lines from any other thread are the worker's.
    explicit SoakWindow(std::thread::id windowThread) : windowThread_(windowThread) {}

    // Reads the service's terminal table, as the refresh timer does.
    void Refresh();
    void Check(std::uint32_t deviceId);  // the one ticked row
    bool Listed(std::uint32_t deviceId) const;

    // IDeviceList (window thread).
    int RowCount() const override { return static_cast<int>(rows_.size()); }
    bool IsChecked(int row) const override {
        return rows_[static_cast<std::size_t>(row)] == checked_;
    }
    std::string IdText(int row) const override { return rows_[static_cast<std::size_t>(row)]; }
    std::string OnlineText(int row) const override;
    int FindRow(const std::string& idText) const override;
    void SetPowerText(int row, const std::string& text) override;

    // IEngineEvents (any thread).
    void PostLog(std::string line) override;
    void SettingsArrived() override;
    void NumbersAdded(pelmora::ListChangeNotice notice) override;
    void NumbersDeleted(pelmora::ListChangeNotice notice) override;
    void NumberListReset(pelmora::ListChangeNotice notice) override;

    // The settings grid, the prompt, the version boxes and the upgrade page.
    std::optional<std::string> CellText(int row, int column) override;
    std::string CellLabel(int row, int column) override;
    void SetCell(int row, int column, std::string text);
    void ShowMessage(const std::string& text) override;
    void ShowVersions(const std::string& software, const std::string& boot) override;
    pelmora::UpgradeForm ReadUpgradeForm() override;

    struct Counters {
        std::uint64_t logLines = 0;  // from the intake and the pages
        std::uint64_t workerLines = 0;
        std::uint64_t settingsArrived = 0;
        std::uint64_t numbersAdded = 0;
        std::uint64_t numbersDeleted = 0;
        std::uint64_t prompts = 0;
        std::uint64_t versions = 0;
        std::uint64_t powerTexts = 0;
        std::string lastWorkerLine;
    };
    Counters Snapshot() const;

  private:
    const std::thread::id windowThread_;
    // Window thread only.
    std::vector<std::string> rows_;
    std::unordered_map<std::string, int> rowOf_;
    std::string checked_;

    mutable std::mutex lock_;
    Counters counters_;                                 // guarded by lock_
    std::map<std::pair<int, int>, std::string> cells_;  // guarded by lock_
};

// The jobs of the run, one after the other as an operator would click them.
class JobRunner {
  public:
    JobRunner(pelmora::CommandEngine& engine, SoakWindow& window,
              const pelmora::EngineTiming& timing, std::vector<std::uint32_t> terminals,
              std::uint32_t silentTerminal, std::uint32_t seed);

    // Window thread: ends the job in progress when the engine is idle, and
    // submits the next one when its time has come.
    void Tick(Clock::time_point now, bool submitMore);
    // The next jobs are a settings read and a version query of the silent
    // terminal; both must end by their time limits.
    void QueueTimeoutJobs();
    bool Running() const { return running_; }
    // A job that has run for longer than its limit and half a minute more.
    bool Stuck(Clock::time_point now) const;

    struct KindStats {
        int runs = 0;
        int expected = 0;  // ended as they should
        double longestSeconds = 0;
        double limitSeconds = 0;  // of the longest one
        int overLimit = 0;
    };
    const std::map<std::string, KindStats>& Stats() const { return stats_; }
    int Deferred() const { return deferred_; }  // the terminal was not listed yet
    std::vector<std::string> Problems() const { return problems_; }

  private:
    enum class Expect { SettingsArrived, Saved, Success, TimedOut, NumbersAdded, NumbersDeleted };
    struct Job {
        pelmora::CommandKind kind;
        std::uint32_t terminal;
        std::string text;
        Expect expect;
        int waits;  // answers awaited, each within its poll limit
        std::string name;
    };
    void PlanCycle();
    bool Submit(Job& job);
    void Finish(Clock::time_point now);
    double LimitSeconds(const Job& job) const;
    bool EndedAsExpected(const Job& job, const SoakWindow::Counters& after) const;

    pelmora::CommandEngine& engine_;
    SoakWindow& window_;
    const pelmora::EngineTiming timing_;
    const std::vector<std::uint32_t> terminals_;
    const std::uint32_t silentTerminal_;
    std::mt19937 random_;
    std::size_t nextTerminal_ = 0;

    std::deque<Job> pending_;
    bool running_ = false;
    Job current_{};
    Clock::time_point started_{};
    Clock::time_point nextStart_{};
    SoakWindow::Counters before_;
    // What the last save wrote, checked by the settings read after it.
    std::string savedHeartbeat_;
    int savedSmsPriority_ = -1;

    std::map<std::string, KindStats> stats_;
    int deferred_ = 0;
    int deferredInRow_ = 0;
    std::vector<std::string> problems_;
};

}  // namespace soak
