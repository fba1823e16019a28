// The command channel: pages queue jobs for one terminal, or a group job for
// many, one worker thread runs them in order, sends each command and waits
// for the terminal's answer in its reply buffer, and reports back through
// IEngineEvents.
//
// Threads: the window thread calls the page side (FindCheckedTerminal,
// SubmitPageCommand, SubmitGroupJob, CurrentGroupJob, EnqueueCommand, Busy,
// IntakePacket and the settings accessors); the worker runs everything else.
// Lock order: the settings lock may be held while the reply-buffer lock is
// taken, never the reverse; the queue lock and the group lock are never
// combined with any other.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "CommandJob.h"
#include "EngineTiming.h"
#include "EngineUi.h"
#include "GroupJob.h"
#include "LinkApi.h"
#include "ReplyBuffers.h"
#include "SettingsRecord.h"
#include "TerminalSender.h"

namespace pelmora {

// The job the worker is running, for the status bar and the pages.
struct RunningJob {
    CommandKind kind = CommandKind::ReadSettings;
    std::uint32_t deviceId = 0;       // the terminal of a single-terminal job
    std::size_t groupTerminals = 0;   // non-zero for a group job
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

    // Starts the worker thread; false (with nothing running) if it cannot.
    bool StartWorker();
    // Asks a job in progress to end at its next poll (unlogged); the worker
    // is joined by the destructor.
    void RequestStop();

    // --- window thread ---
    // The first ticked row's terminal, if its ID parses and it is online;
    // otherwise logs why and returns false.
    bool FindCheckedTerminal(const IDeviceList& devices, std::uint32_t& deviceId);
    // The page calling contract: choose the terminal, refuse while busy,
    // queue, and log the command's queued or not-queued line.
    bool SubmitPageCommand(const IDeviceList& devices, CommandKind kind, std::string text = {});
    // Queues a group job as one job: refused (and logged) while busy, for a
    // kind that is not a control kind, or without any terminal; otherwise it
    // logs the queued line and becomes the current group job.
    bool SubmitGroupJob(std::shared_ptr<GroupJob> job);
    // The group job queued or running most recently; null before the first.
    std::shared_ptr<GroupJob> CurrentGroupJob();
    // Appends the job and wakes the worker; false without a worker.
    bool EnqueueCommand(std::unique_ptr<CommandJob> job);
    bool Busy() const { return busy_.load(); }
    // The running job; empty while the worker waits for one.
    std::optional<RunningJob> Running();
    // Jobs queued and not yet started.
    std::size_t WaitingCount();
    // Drops every waiting job (each logged as cancelled, nothing sent) and
    // asks the running one to end at its next poll: it logs its failure line
    // and then that it was cancelled. A group job ends what is unanswered.
    // Returns how many jobs were asked to end. Either thread.
    std::size_t CancelJobs();
    // No job queued and none running.
    bool Idle();
    // A received message: logged, answered when it is a status message, and
    // appended to the terminal's reply buffer.
    void IntakePacket(std::uint32_t deviceId, const std::uint8_t* data, std::size_t length,
                      IDeviceList& devices);

    // The settings record, to be read under its lock (the pages' fill).
    std::unique_lock<std::mutex> LockSettings() { return std::unique_lock(settingsLock_); }
    const AlarmSettings& Settings() const { return settings_; }  // with LockSettings held
    AlarmSettings& MutableSettings() { return settings_; }       // with LockSettings held
    // Whose read-back the record holds; empty before the first one. With
    // LockSettings held, or through Origin() without it.
    const std::optional<SettingsOrigin>& OriginLocked() const { return origin_; }
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
    ReplyBuffers& Replies() { return replies_; }
    void Log(std::string line) { events_.PostLog(std::move(line)); }

    // --- worker thread ---
    // Sends a command line as it stands; the link's result is not looked at.
    bool SendText(std::uint32_t deviceId, const std::string& text);
    bool SendBytes(std::uint32_t deviceId, const std::uint8_t* data, std::size_t length);
    // Hands a message to the sending threads, which make it and report its
    // end to `done`; never waits for the network. False when not queued.
    bool SendDeferred(std::uint32_t deviceId, TerminalSender::MakeBytes make,
                      TerminalSender::Done done) {
        return sender_.PostDeferred(deviceId, std::move(make), std::move(done));
    }
    // Clears the terminal's reply, sends the line and waits for OK or ERROR.
    bool SendAndAwaitOk(std::uint32_t deviceId, const std::string& line);
    // Polls the reply once per text interval: "ERROR" is false, "OK" true,
    // no answer within the polls false. The caller clears the reply before
    // it sends.
    bool WaitForOkOrError(std::uint32_t deviceId);
    // Polls until `first` is in the reply and `second` at or after it.
    bool WaitForReport(std::uint32_t deviceId, std::string_view first, std::string_view second);
    void PostWorkerLog(std::string line);
    void ExecuteCommand(const CommandJob& job);
    // Sleeps one poll interval; false once the engine is stopping or the
    // running job was cancelled.
    bool Pause(std::chrono::milliseconds interval);
    // The running job was cancelled (not merely stopped with the engine).
    bool Cancelled() const { return cancelSeen_ && !stopRequested_.load(); }

    const EngineTiming& Timing() const { return timing_; }
    ISettingsGrid* Grid() const { return grid_; }
    IPrompt* Prompt() const { return prompt_; }
    IVersionView* VersionView() const { return versionView_; }
    IUpgradeForm* UpgradeFormSource() const { return upgradeForm_; }
    std::mutex& SettingsLock() { return settingsLock_; }

  private:
    void CommandWorker();
    RunningJob DescribeRunning(const CommandJob& job) const;
    void ReadSettings(const CommandJob& job);
    void RunNumberListJob(const CommandJob& job);

    // Constant after construction.
    LinkApi link_;
    IEngineEvents& events_;
    EngineTiming timing_;
    ISettingsGrid* grid_ = nullptr;
    IPrompt* prompt_ = nullptr;
    IVersionView* versionView_ = nullptr;
    IUpgradeForm* upgradeForm_ = nullptr;

    std::mutex settingsLock_;
    AlarmSettings settings_;                // guarded by settingsLock_
    std::optional<SettingsOrigin> origin_;  // guarded by settingsLock_

    ReplyBuffers replies_;  // has its own lock

    std::mutex queueLock_;
    std::condition_variable wake_;
    std::deque<std::unique_ptr<CommandJob>> queue_;  // guarded by queueLock_
    bool stopping_ = false;                          // guarded by queueLock_
    std::atomic<bool> stopRequested_{false};         // read by the worker between polls
    std::atomic<bool> busy_{false};                  // written by the worker only
    std::atomic<bool> cancelRequested_{false};       // set under queueLock_
    bool cancelSeen_ = false;                        // worker only: a poll ended by the cancel
    std::optional<RunningJob> running_;              // guarded by queueLock_
    std::shared_ptr<GroupJob> runningGroup_;         // guarded by queueLock_
    std::thread worker_;

    std::mutex groupLock_;
    std::shared_ptr<GroupJob> currentGroup_;  // guarded by groupLock_

    TerminalSender sender_;  // has its own lock; last, so it stops first
};

}  // namespace pelmora
