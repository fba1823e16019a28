#include "SoakCentre.h"

#include <algorithm>
#include <cstdio>

#include "CommandTexts.h"
#include "ControlJobs.h"
#include "Dovrik.h"
#include "GridFill.h"
#include "SaveSequence.h"

namespace soak {

using pelmora::CommandKind;

// ---------------------------------------------------------------- window

void SoakWindow::Refresh() {
    const int count = DSGetModemCount();
    rows_.clear();
    rowOf_.clear();
    ModemInfo info{};
    for (int i = 0; i < count; ++i) {
        if (!DSGetModemByPosition(static_cast<std::uint32_t>(i), &info)) break;
        rowOf_[pelmora::DeviceIdText(info.deviceId)] = static_cast<int>(rows_.size());
        rows_.push_back(pelmora::DeviceIdText(info.deviceId));
    }
}

void SoakWindow::Check(std::uint32_t deviceId) {
    checked_ = pelmora::DeviceIdText(deviceId);
}

bool SoakWindow::Listed(std::uint32_t deviceId) const {
    return rowOf_.count(pelmora::DeviceIdText(deviceId)) != 0;
}

std::string SoakWindow::OnlineText(int) const {
    return pelmora::text::kOnline;
}

int SoakWindow::FindRow(const std::string& idText) const {
    const auto it = rowOf_.find(idText);
    return it == rowOf_.end() ? -1 : it->second;
}

void SoakWindow::SetPowerText(int, const std::string&) {
    std::lock_guard guard(lock_);
    ++counters_.powerTexts;
}

void SoakWindow::PostLog(std::string line) {
    std::lock_guard guard(lock_);
    if (std::this_thread::get_id() == windowThread_) {
        ++counters_.logLines;
    } else {
        ++counters_.workerLines;
        counters_.lastWorkerLine = std::move(line);
    }
}

void SoakWindow::SettingsArrived() {
    std::lock_guard guard(lock_);
    ++counters_.settingsArrived;
}

void SoakWindow::NumbersAdded(pelmora::ListChangeNotice) {
    std::lock_guard guard(lock_);
    ++counters_.numbersAdded;
}

void SoakWindow::NumbersDeleted(pelmora::ListChangeNotice) {
    std::lock_guard guard(lock_);
    ++counters_.numbersDeleted;
}

void SoakWindow::NumberListReset(pelmora::ListChangeNotice) {}

std::optional<std::string> SoakWindow::CellText(int row, int column) {
    std::lock_guard guard(lock_);
    return cells_[{row, column}];
}

std::string SoakWindow::CellLabel(int row, int column) {
    return "row " + std::to_string(row) + "/" + std::to_string(column);
}

void SoakWindow::SetCell(int row, int column, std::string text) {
    std::lock_guard guard(lock_);
    cells_[{row, column}] = std::move(text);
}

void SoakWindow::ShowMessage(const std::string&) {
    std::lock_guard guard(lock_);
    ++counters_.prompts;
}

void SoakWindow::ShowVersions(const std::string&, const std::string&) {
    std::lock_guard guard(lock_);
    ++counters_.versions;
}

pelmora::UpgradeForm SoakWindow::ReadUpgradeForm() {
    return {1, 1, 1, 1, 1, "16", "192.168.1.10", "5001", "V2.0"};
}

SoakWindow::Counters SoakWindow::Snapshot() const {
    std::lock_guard guard(lock_);
    return counters_;
}

// ---------------------------------------------------------------- jobs

namespace {

constexpr int kHeartbeatRow = 21;   // "at+polltime", right half
constexpr int kSmsPriorityRow = 6;  // "AT+LRMSMSPRIO", left half
constexpr auto kAfterRestart = std::chrono::seconds(3);
constexpr auto kBetweenJobs = std::chrono::milliseconds(500);
constexpr auto kStuckMargin = std::chrono::seconds(30);
constexpr int kMaxDeferrals = 30;  // one a second

bool IsTextKind(CommandKind kind) {
    switch (kind) {
        case CommandKind::ReadSettings:
        case CommandKind::SaveSettings:
        case CommandKind::AddAdminNumbers:
        case CommandKind::DeleteAdminNumbers:
            return true;
        default:
            return false;
    }
}

}  // namespace

JobRunner::JobRunner(pelmora::CommandEngine& engine, SoakWindow& window,
                     const pelmora::EngineTiming& timing, std::vector<std::uint32_t> terminals,
                     std::uint32_t silentTerminal, std::uint32_t seed)
    : engine_(engine),
      window_(window),
      timing_(pelmora::WithDefaults(timing)),
      terminals_(std::move(terminals)),
      silentTerminal_(silentTerminal),
      random_(seed) {}

void JobRunner::PlanCycle() {
    if (terminals_.empty()) return;
    const std::uint32_t t = terminals_[nextTerminal_++ % terminals_.size()];
    std::uniform_int_distribution<int> title(1, 99);
    std::uniform_int_distribution<std::size_t> contentLength(1, 3000);
    std::uniform_int_distribution<int> number(0, 9999);
    char mp3[8];
    std::snprintf(mp3, sizeof mp3, "%05d", title(random_));
    std::string content(contentLength(random_), 'A');
    for (char& c : content) c = static_cast<char>('A' + random_() % 26);
    const std::string phone = "1380000" + std::to_string(1000 + number(random_) % 9000);
    const int pieces = static_cast<int>(std::max<std::size_t>(
        1, (content.size() + pelmora::kPlayContentPiece - 1) / pelmora::kPlayContentPiece));

    pending_.push_back(
        {CommandKind::ReadSettings, t, {}, Expect::SettingsArrived, 1, "settings read"});
    pending_.push_back({CommandKind::SaveSettings, t, {}, Expect::Saved, 2, "settings save"});
    pending_.push_back(
        {CommandKind::ReadSettings, t, {}, Expect::SettingsArrived, 1, "settings read"});
    pending_.push_back({CommandKind::PlayMp3, t, mp3, Expect::Success, 1, "play MP3"});
    pending_.push_back({CommandKind::StopMp3, t, {}, Expect::Success, 1, "stop MP3"});
    pending_.push_back(
        {CommandKind::SendPlayContent, t, content, Expect::Success, pieces, "broadcast text"});
    pending_.push_back({CommandKind::ReadVersion, t, {}, Expect::Success, 1, "version query"});
    pending_.push_back(
        {CommandKind::SendUpgradeParams, t, {}, Expect::Success, 1, "upgrade parameters"});
    pending_.push_back({CommandKind::AddAdminNumbers, t, "AT+LRMADDADMINNO=" + phone + "\r",
                        Expect::NumbersAdded, 1, "add admin number"});
    pending_.push_back({CommandKind::DeleteAdminNumbers, t, "AT+LRMDELADMINNO=" + phone + "\r",
                        Expect::NumbersDeleted, 1, "delete admin number"});
    pending_.push_back({CommandKind::RestartDevice, t, {}, Expect::Success, 1, "restart"});
}

void JobRunner::QueueTimeoutJobs() {
    pending_.push_front({CommandKind::ReadVersion,
                         silentTerminal_,
                         {},
                         Expect::TimedOut,
                         1,
                         "version query, no answer"});
    pending_.push_front({CommandKind::ReadSettings,
                         silentTerminal_,
                         {},
                         Expect::TimedOut,
                         1,
                         "settings read, no answer"});
}

double JobRunner::LimitSeconds(const Job& job) const {
    using Seconds = std::chrono::duration<double>;
    const double perWait = IsTextKind(job.kind)
                               ? Seconds(timing_.textPollInterval).count() * timing_.textPolls
                               : Seconds(timing_.framePollInterval).count() * timing_.framePolls;
    // Sending, the intercom pause and the thread hand-offs: two seconds.
    return job.waits * perWait + Seconds(timing_.intercomPause).count() + 2.0;
}

bool JobRunner::Stuck(Clock::time_point now) const {
    return running_ &&
           now - started_ > std::chrono::duration<double>(LimitSeconds(current_)) + kStuckMargin;
}

bool JobRunner::Submit(Job& job) {
    window_.Check(job.terminal);
    if (!window_.Listed(job.terminal)) {
        ++deferred_;
        return false;
    }
    if (job.kind == CommandKind::SaveSettings) {
        // The grid as the last read filled it, with two values changed.
        {
            auto lock = engine_.LockSettings();
            for (const auto& cell : pelmora::GridCellsFromSettings(engine_.Settings())) {
                if (cell.text) window_.SetCell(cell.row, cell.column, *cell.text);
            }
        }
        std::uniform_int_distribution<int> heartbeat(60, 600);
        std::uniform_int_distribution<int> priority(0, 10);
        savedHeartbeat_ = std::to_string(heartbeat(random_));
        savedSmsPriority_ = priority(random_);
        window_.SetCell(kHeartbeatRow, pelmora::grid::kRightValue, savedHeartbeat_);
        window_.SetCell(kSmsPriorityRow, pelmora::grid::kLeftValue,
                        std::to_string(savedSmsPriority_));
    }
    before_ = window_.Snapshot();
    if (!engine_.SubmitPageCommand(window_, job.kind, job.text)) {
        problems_.push_back(job.name + ": the engine would not take it");
        return false;
    }
    return true;
}

bool JobRunner::EndedAsExpected(const Job& job, const SoakWindow::Counters& after) const {
    const pelmora::JobTexts* texts = pelmora::TextsFor(job.kind);
    switch (job.expect) {
        case Expect::SettingsArrived:
            return after.settingsArrived == before_.settingsArrived + 1;
        case Expect::Saved:
            return after.lastWorkerLine == pelmora::text::kSaveDone;
        case Expect::Success:
            return texts != nullptr && after.lastWorkerLine == texts->success;
        case Expect::TimedOut:
            return texts != nullptr && after.lastWorkerLine == texts->timedOut &&
                   after.settingsArrived == before_.settingsArrived;
        case Expect::NumbersAdded:
            return after.numbersAdded == before_.numbersAdded + 1;
        case Expect::NumbersDeleted:
            return after.numbersDeleted == before_.numbersDeleted + 1;
    }
    return false;
}

void JobRunner::Finish(Clock::time_point now) {
    running_ = false;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const double limit = LimitSeconds(current_);
    KindStats& s = stats_[current_.name];
    ++s.runs;
    if (seconds > s.longestSeconds) {
        s.longestSeconds = seconds;
        s.limitSeconds = limit;
    }
    if (seconds > limit) {
        ++s.overLimit;
        char line[160];
        std::snprintf(line, sizeof line, "%s took %.1f s, limit %.1f s", current_.name.c_str(),
                      seconds, limit);
        problems_.emplace_back(line);
    }
    const SoakWindow::Counters after = window_.Snapshot();
    if (EndedAsExpected(current_, after)) {
        ++s.expected;
    } else {
        problems_.push_back(current_.name + " on " + pelmora::DeviceIdText(current_.terminal) +
                            " ended otherwise than expected");
    }
    if (current_.kind == CommandKind::ReadSettings && current_.expect == Expect::SettingsArrived &&
        savedSmsPriority_ >= 0) {
        // The read after a save must show what the save wrote.
        auto lock = engine_.LockSettings();
        const auto& settings = engine_.Settings();
        if (settings.dtu.heartbeatPollTime != savedHeartbeat_ ||
            settings.smsPriority != savedSmsPriority_) {
            problems_.push_back("the settings read after a save shows other values");
        }
        savedSmsPriority_ = -1;
    }
    nextStart_ = now + (current_.kind == CommandKind::RestartDevice ? kAfterRestart : kBetweenJobs);
}

void JobRunner::Tick(Clock::time_point now, bool submitMore) {
    if (running_) {
        if (engine_.Idle()) Finish(now);
        return;
    }
    if (!submitMore || now < nextStart_) return;
    if (pending_.empty()) PlanCycle();
    if (pending_.empty()) return;
    Job job = pending_.front();
    if (!Submit(job)) {
        nextStart_ = now + std::chrono::seconds(1);
        if (window_.Listed(job.terminal)) {
            pending_.pop_front();  // refused: skip it
        } else if (++deferredInRow_ > kMaxDeferrals) {
            problems_.push_back(pelmora::DeviceIdText(job.terminal) + " stayed off the list for " +
                                std::to_string(kMaxDeferrals) + " s");
            pending_.pop_front();
        }
        return;
    }
    deferredInRow_ = 0;
    pending_.pop_front();
    current_ = std::move(job);
    running_ = true;
    started_ = now;
}

}  // namespace soak
