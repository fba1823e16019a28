// The command channel: pages submit jobs for one terminal, or a group job for
// many, one worker thread runs them in order and reports back through
// IEngineEvents. Every job is a set of per-terminal conversations
// (Conversation.h) driven by one runner (JobRunner.h): a single-terminal job
// is a list of one.
//
// Threads: the window thread calls the page side (FindCheckedTerminal,
// SubmitIfIdle, SubmitPageCommand, SubmitGroupJob, CurrentGroupJob, Busy,
// IntakePacket, ApplyPendingPower and the settings accessors); the worker
// runs the jobs. The window thread never waits on the worker: the settings
// lock is held by the worker only for a copy or an update, never across a
// wait, and which terminal the pages hold has its own small lock.
// Lock order: the settings lock may be held while the origin lock is taken;
// the queue lock may be held while the group lock is taken and a line is
// logged, never the reverse.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CommandJob.h"
#include "Conversation.h"
#include "EngineTiming.h"
#include "EngineUi.h"
#include "GroupJob.h"
#include "JobRecorder.h"
#include "LinkApi.h"
#include "OwedAnswers.h"
#include "ReplyBuffers.h"
#include "SettingsRecord.h"
#include "TerminalSender.h"

namespace pelmora {

// The job the worker is running, for the status bar and the pages.
struct RunningJob {
    CommandKind kind = CommandKind::ReadSettings;
    std::uint32_t deviceId = 0;      // the terminal of a single-terminal job
    std::size_t groupTerminals = 0;  // non-zero for a group job
    std::chrono::steady_clock::time_point started;
    // How long one answer may take; the save sequence and long play content
    // wait for several answers, each with this limit.
    std::chrono::milliseconds answerLimit{0};
    bool severalAnswers = false;
    bool cancelling = false;
};

// Reads the first eight characters as hexadecimal digits ("0001e240" is
// 123456); false when there are fewer or any is not a hex digit.
bool ParseDeviceId(std::string_view text, std::uint32_t& deviceId);

class JobRunner;

class CommandEngine {
  public:
    CommandEngine(LinkApi link, IEngineEvents& events, EngineTiming timing = {});
    // Stops the worker: a job in progress ends at its next poll, unlogged.
    ~CommandEngine();
    CommandEngine(const CommandEngine&) = delete;
    CommandEngine& operator=(const CommandEngine&) = delete;

    // The window's parts the jobs need; set before StartWorker. A job whose
    // part is missing ends with its failure line.
    void SetSettingsGrid(ISettingsGrid* grid) { grid_ = grid; }
    void SetPrompt(IPrompt* prompt) { prompt_ = prompt; }
    void SetVersionView(IVersionView* view) { versionView_ = view; }
    void SetUpgradeForm(IUpgradeForm* form) { upgradeForm_ = form; }
    // Told of every status message (window thread): the terminal and whether
    // it runs on battery.
    void SetStatusListener(std::function<void(std::uint32_t, bool)> listener) {
        statusListener_ = std::move(listener);
    }
    // Where every job's outcomes are recorded; none by default.
    void SetRecorder(IJobRecorder* recorder) { recorder_ = recorder; }

    // Starts the worker thread; false (with nothing running) if it cannot.
    bool StartWorker();
    // Asks a job in progress to end at its next poll (unlogged); the worker
    // is joined by the destructor.
    void RequestStop();

    // --- window thread ---
    // The first ticked row's terminal, if its ID parses and it is online;
    // otherwise logs why and returns false.
    bool FindCheckedTerminal(const IDeviceList& devices, std::uint32_t& deviceId);
    enum class Submitted { Queued, Busy, NoWorker };
    // Queues the job only while no job is queued or running, checked and
    // queued under one lock, so two quick submissions never both get in.
    // `queued` runs once the job is queued, before the worker can take it
    // (a log line that must come first); nothing else is logged.
    Submitted SubmitIfIdle(std::unique_ptr<CommandJob> job,
                           const std::function<void()>& queued = {});
    // Submits if idle and logs the busy line, or `queuedLine` or
    // `notQueuedLine` (GBK; an empty one is not logged).
    bool SubmitLogged(std::unique_ptr<CommandJob> job, const std::string& queuedLine,
                      const std::string& notQueuedLine);
    // The page calling contract: choose the terminal, submit if idle, and
    // log the busy line or the command's queued or not-queued line.
    bool SubmitPageCommand(const IDeviceList& devices, CommandKind kind, std::string text = {});
    // Queues a group job as one job: refused (and logged) while busy, for a
    // kind that is not a control kind, or without any terminal; otherwise it
    // logs the queued line and becomes the current group job.
    bool SubmitGroupJob(std::shared_ptr<GroupJob> job);
    // The group job queued or running most recently; null before the first.
    std::shared_ptr<GroupJob> CurrentGroupJob();
    // A job is queued or running.
    bool Busy() const { return busy_.load(); }
    // Drill mode: every job queued while it is on is recorded as a drill,
    // and play content goes with `prefix` (GBK) in front. Changed only
    // while idle; false (nothing changed) while busy.
    bool SetDrill(bool on, std::string prefix);
    bool Drill() const { return drill_.load(); }
    // The play content a page prepared, with the drill prefix in drill mode.
    std::string DrillContent(CommandKind kind, std::string text) const;
    // The running job; empty while the worker waits for one.
    std::optional<RunningJob> Running();
    // Jobs queued and not yet started.
    std::size_t WaitingCount();
    // Drops every waiting job (each logged as cancelled, nothing sent; a
    // group job with its outcomes and summary) and asks the running one to
    // end at its next poll. Returns how many jobs were asked to end. Either
    // thread.
    std::size_t CancelJobs();
    // The service stopped: waiting jobs are dropped as by CancelJobs, and
    // the running one ends at once, what was written and not answered
    // "已发送未确认", the rest "服务已停止".
    void ServiceStopped();
    // No job queued and none running.
    bool Idle();
    // A received message: logged, answered when it is a status message, and
    // kept when a conversation may read it. Either thread.
    void IntakePacket(std::uint32_t deviceId, const std::uint8_t* data, std::size_t length,
                      IDeviceList& devices);
    // Shows the power state of terminals whose status message came before
    // their row did. Window thread, after the device list was refreshed.
    void ApplyPendingPower(IDeviceList& devices);

    // The settings record, to be read under its lock (the pages' fill and
    // the number lists' notices).
    std::unique_lock<std::mutex> LockSettings() { return std::unique_lock(settingsLock_); }
    const AlarmSettings& Settings() const { return settings_; }  // with LockSettings held
    AlarmSettings& MutableSettings() { return settings_; }       // with LockSettings held
    // Whose read-back the record holds; empty before the first one. Never
    // waits on the settings lock.
    std::optional<SettingsOrigin> Origin();
    // True when the record holds this terminal's read-back. Either thread.
    bool PagesHold(std::uint32_t deviceId);
    // PagesHold, and when not, logs why nothing may be written to that
    // terminal from the pages. Either thread.
    bool CheckPagesHold(std::uint32_t deviceId);
    // Hands bytes to the sending threads; the window thread never waits on a
    // terminal's socket. `what` (GBK) names the message in a failure line.
    bool SendLater(std::uint32_t deviceId, std::vector<std::uint8_t> bytes, std::string what);
    std::size_t PendingSends() const { return sender_.Pending(); }
    // Waits, at most `limit`, until every SendLater has been written or failed.
    bool FlushSends(std::chrono::milliseconds limit) { return sender_.Flush(limit); }
    // Puts a record in place as the read-back of `deviceId`, now. Either thread.
    void AdoptSettings(AlarmSettings settings, std::uint32_t deviceId);
    void Log(std::string line) { events_.PostLog(std::move(line)); }
    const EngineTiming& Timing() const { return timing_; }
    // Terminals whose received bytes are kept (awaited, or owing an answer).
    std::size_t WatchedTerminals() const { return replies_.Watched(); }
    // Status messages kept for terminals not listed yet.
    std::size_t PendingPowerCount();

  private:
    friend class JobRunner;
    class Context;

    void CommandWorker();
    RunningJob DescribeRunning(const CommandJob& job) const;
    void RunJob(const CommandJob& job);
    // Forgets owed answers past their limit; when the next one falls due.
    std::optional<std::chrono::steady_clock::time_point> PruneOwed();
    // Ends the jobs taken off the queue unrun: logged, group outcomes set.
    void EndUnrun(std::deque<std::unique_ptr<CommandJob>>& dropped);
    void PostWorkerLog(std::string line);
    // A status message: its power shown (or kept for the row to come), and
    // answered.
    void Status(std::uint32_t deviceId, bool battery, IDeviceList& devices);
    // The worker's waits: an interval, or until a write is reported. False
    // once the engine stops; the job's cancel and the service's stop are
    // read by the runner.
    bool WaitInterval(std::chrono::milliseconds interval);
    bool WaitForReport();
    void ReportReady();
    bool CancelRequested() const { return cancelRequested_.load(); }
    bool ServiceStopRequested() const { return serviceStopped_.load(); }
    bool Stopping() const { return stopRequested_.load(); }

    // Constant after construction.
    LinkApi link_;
    IEngineEvents& events_;
    EngineTiming timing_;
    ISettingsGrid* grid_ = nullptr;
    IPrompt* prompt_ = nullptr;
    IVersionView* versionView_ = nullptr;
    IUpgradeForm* upgradeForm_ = nullptr;
    IJobRecorder* recorder_ = nullptr;
    std::function<void(std::uint32_t, bool)> statusListener_;
    std::atomic<bool> drill_{false};
    std::string drillPrefix_;  // window thread

    std::mutex settingsLock_;
    AlarmSettings settings_;  // guarded by settingsLock_
    std::mutex originLock_;
    std::optional<SettingsOrigin> origin_;  // guarded by originLock_

    ReplyBuffers replies_;  // has its own lock

    std::mutex queueLock_;
    std::condition_variable wake_;
    std::deque<std::unique_ptr<CommandJob>> queue_;  // guarded by queueLock_
    bool stopping_ = false;                          // guarded by queueLock_
    bool reportsReady_ = false;                      // guarded by queueLock_
    std::atomic<bool> stopRequested_{false};         // read by the worker between polls
    std::atomic<bool> busy_{false};                  // written under queueLock_
    std::atomic<bool> cancelRequested_{false};       // set under queueLock_
    std::atomic<bool> serviceStopped_{false};        // set under queueLock_
    std::optional<RunningJob> running_;              // guarded by queueLock_
    std::thread worker_;

    std::mutex groupLock_;
    std::shared_ptr<GroupJob> currentGroup_;  // guarded by groupLock_

    std::mutex intakeLock_;
    // Status messages of terminals not yet listed: battery, and when seen.
    std::unordered_map<std::uint32_t, std::pair<bool, std::chrono::steady_clock::time_point>>
        pendingPower_;  // guarded by intakeLock_
    // The start of a status message cut off at a packet's end (< 19 bytes).
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> statusTails_;  // intakeLock_

    OwedAnswers owed_;  // worker only

    TerminalSender sender_;  // has its own lock; last, so it stops first
};

}  // namespace pelmora
