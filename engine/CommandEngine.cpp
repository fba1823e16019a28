#include "CommandEngine.h"

#include <cstring>
#include <ctime>

#include "CommandTexts.h"
#include "ControlJobs.h"
#include "GroupRunner.h"
#include "SaveSequence.h"
#include "SettingsParser.h"

namespace pelmora {

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

int ListKindOf(CommandKind kind) {
    switch (kind) {
        case CommandKind::AddAdminNumbers:
        case CommandKind::ResetAdminNumbers:
        case CommandKind::DeleteAdminNumbers:
            return 1;
        case CommandKind::AddAuthorizeNumbers:
        case CommandKind::ResetAuthorizeNumbers:
        case CommandKind::DeleteAuthorizeNumbers:
            return 2;
        default:
            return 3;
    }
}

std::string JobDescription(const CommandJob& job) {
    const std::size_t group = job.group ? static_cast<std::size_t>(job.group->Counts().total) : 0;
    return JobTitle(static_cast<CommandKind>(job.kind), job.deviceId, group);
}

}  // namespace

bool ParseDeviceId(std::string_view text, std::uint32_t& deviceId) {
    if (text.size() < 8) return false;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        if (!IsHexDigit(text[i])) return false;
        value = value << 4 | static_cast<std::uint32_t>(HexValue(text[i]));
    }
    deviceId = value;
    return true;
}

CommandEngine::CommandEngine(LinkApi link, IEngineEvents& events, EngineTiming timing)
    : link_(std::move(link)),
      events_(events),
      timing_(WithDefaults(std::move(timing))),
      sender_(link_, [this](std::string line) { events_.PostLog(std::move(line)); }) {}

CommandEngine::~CommandEngine() {
    RequestStop();
    if (worker_.joinable()) worker_.join();
}

void CommandEngine::RequestStop() {
    {
        std::lock_guard guard(queueLock_);
        stopping_ = true;
    }
    stopRequested_ = true;
    wake_.notify_all();
}

bool CommandEngine::StartWorker() {
    if (worker_.joinable()) return true;
    try {
        worker_ = std::thread([this] { CommandWorker(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CommandEngine::FindCheckedTerminal(const IDeviceList& devices, std::uint32_t& deviceId) {
    int row = -1;
    for (int i = 0; i < devices.RowCount(); ++i) {
        if (devices.IsChecked(i)) {
            row = i;
            break;
        }
    }
    if (row < 0) {
        Log(text::kNoDeviceChosen);
        return false;
    }
    const std::string idText = devices.IdText(row);
    std::uint32_t id = 0;
    if (!ParseDeviceId(idText, id)) {
        Log(WithText(text::kBadDeviceId, idText));
        return false;
    }
    if (devices.OnlineText(row) != text::kOnline) {
        Log(WithText(text::kDeviceOffline, idText));
        return false;
    }
    deviceId = id;
    return true;
}

bool CommandEngine::SubmitPageCommand(const IDeviceList& devices, CommandKind kind,
                                      std::string jobText) {
    std::uint32_t id = 0;
    if (!FindCheckedTerminal(devices, id)) return false;
    if (Busy()) {
        Log(text::kBusy);
        return false;
    }
    auto job = std::make_unique<CommandJob>();
    job->kind = static_cast<std::int32_t>(kind);
    job->deviceId = id;
    job->text = std::move(jobText);
    const bool queued = EnqueueCommand(std::move(job));
    if (const JobTexts* texts = TextsFor(kind)) Log(queued ? texts->queued : texts->notQueued);
    return queued;
}

bool CommandEngine::SubmitGroupJob(std::shared_ptr<GroupJob> group) {
    if (!group) return false;
    if (!IsGroupKind(group->Kind())) {
        Log(text::kGroupNotAGroupKind);
        return false;
    }
    if (group->Counts().total == 0) {
        Log(text::kNoDeviceChosen);
        return false;
    }
    if (Busy()) {
        Log(text::kBusy);
        return false;
    }
    const CommandKind kind = group->Kind();
    bool canRun = false;
    {
        std::lock_guard guard(queueLock_);
        canRun = worker_.joinable() && !stopping_;
    }
    if (canRun) {
        // Current and logged before it is queued: the panel must not miss a
        // job that ends at once, and the worker's lines must follow this one.
        {
            std::lock_guard guard(groupLock_);
            currentGroup_ = group;
        }
        Log(GroupQueuedLine(*group));
        auto job = std::make_unique<CommandJob>();
        job->kind = static_cast<std::int32_t>(kind);
        job->group = std::move(group);
        if (EnqueueCommand(std::move(job))) return true;
    }
    Log(FillLine(text::kGroupNotQueued, {GroupKindName(kind)}));
    return false;
}

std::shared_ptr<GroupJob> CommandEngine::CurrentGroupJob() {
    std::lock_guard guard(groupLock_);
    return currentGroup_;
}

bool CommandEngine::EnqueueCommand(std::unique_ptr<CommandJob> job) {
    if (!job) return false;
    {
        std::lock_guard guard(queueLock_);
        if (!worker_.joinable() || stopping_) return false;  // it would never run
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

std::optional<RunningJob> CommandEngine::Running() {
    std::lock_guard guard(queueLock_);
    return running_;
}

std::size_t CommandEngine::WaitingCount() {
    std::lock_guard guard(queueLock_);
    return queue_.size();
}

std::size_t CommandEngine::CancelJobs() {
    std::deque<std::unique_ptr<CommandJob>> dropped;
    std::shared_ptr<GroupJob> group;
    bool running = false;
    {
        std::lock_guard guard(queueLock_);
        dropped.swap(queue_);
        if (running_ && !running_->cancelling) {
            running = true;
            running_->cancelling = true;
            group = runningGroup_;
            // A group job ends its unanswered terminals itself, with their
            // lines and its summary; a single job ends at its next poll.
            if (!group) cancelRequested_ = true;
        }
    }
    wake_.notify_all();
    if (group) group->Cancel();
    for (const auto& job : dropped) {
        if (job->group) job->group->Cancel();  // the panel shows it ended
        Log(WithText(text::kJobCancelledUnrun, JobDescription(*job)));
    }
    return dropped.size() + (running ? 1 : 0);
}

bool CommandEngine::Idle() {
    // busy_ changes under the queue lock together with the queue itself.
    std::lock_guard guard(queueLock_);
    return queue_.empty() && !busy_;
}

void CommandEngine::CommandWorker() {
    for (;;) {
        std::unique_ptr<CommandJob> job;
        {
            std::unique_lock lock(queueLock_);
            if (queue_.empty()) {
                busy_ = false;
                // The predicate is checked under the lock, so a job queued on
                // the way to sleep is never missed.
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            }
            if (stopping_) {
                // Jobs still queued are dropped unrun.
                queue_.clear();
                busy_ = false;
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            cancelRequested_ = false;
            running_ = DescribeRunning(*job);
            runningGroup_ = job->group;
        }
        cancelSeen_ = false;
        ExecuteCommand(*job);
        // Said only when the cancel ended something: a job that finished
        // before it looked again keeps its own last line. A group job's
        // summary counts its cancelled terminals itself.
        bool cancelled = false;
        {
            std::lock_guard guard(queueLock_);
            cancelled = !job->group && cancelSeen_;
            running_.reset();
            runningGroup_.reset();
            cancelRequested_ = false;
        }
        if (cancelled) PostWorkerLog(WithText(text::kJobCancelled, JobDescription(*job)));
    }
}

RunningJob CommandEngine::DescribeRunning(const CommandJob& job) const {
    RunningJob running;
    running.kind = static_cast<CommandKind>(job.kind);
    running.deviceId = job.group ? 0 : job.deviceId;
    running.groupTerminals = job.group ? job.group->Counts().total : 0;
    running.started = std::chrono::steady_clock::now();
    // Control kinds wait for a frame answer, the others for a text reply.
    const bool frameJob = RequestFor(running.kind) != nullptr;
    running.answerLimit = frameJob ? timing_.framePollInterval * timing_.framePolls
                                   : timing_.textPollInterval * timing_.textPolls;
    running.severalAnswers = running.kind == CommandKind::SaveSettings ||
                             (running.kind == CommandKind::SendPlayContent &&
                              PlayContentPieces(job.group ? job.group->Text().size()
                                                          : job.text.size()) > 1);
    return running;
}

bool CommandEngine::Pause(std::chrono::milliseconds interval) {
    if (!stopRequested_ && !cancelRequested_) {
        if (timing_.sleep) {
            timing_.sleep(interval);
        } else {
            std::unique_lock lock(queueLock_);
            wake_.wait_for(lock, interval, [this] { return stopping_ || cancelRequested_; });
        }
    }
    if (stopRequested_) return false;
    if (cancelRequested_) cancelSeen_ = true;
    return !cancelSeen_;
}

bool CommandEngine::SendBytes(std::uint32_t deviceId, const std::uint8_t* data,
                              std::size_t length) {
    if (link_.sendData) link_.sendData(deviceId, static_cast<std::uint16_t>(length), data);
    return true;
}

bool CommandEngine::SendText(std::uint32_t deviceId, const std::string& line) {
    return SendBytes(deviceId, reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
}

bool CommandEngine::SendAndAwaitOk(std::uint32_t deviceId, const std::string& line) {
    // Cleared before the line goes out, so an answer that comes back at once
    // is not wiped with the old bytes.
    replies_.Reset(deviceId);
    SendText(deviceId, line);
    return WaitForOkOrError(deviceId);
}

bool CommandEngine::WaitForOkOrError(std::uint32_t deviceId) {
    for (int poll = 0; poll < timing_.textPolls; ++poll) {
        if (!Pause(timing_.textPollInterval)) return false;
        const std::string reply = replies_.Snapshot(deviceId);
        if (reply.find(text::kError) != std::string::npos) return false;
        if (reply.find(text::kOk) != std::string::npos) return true;
    }
    return false;
}

bool CommandEngine::WaitForReport(std::uint32_t deviceId, std::string_view first,
                                  std::string_view second) {
    for (int poll = 0; poll < timing_.textPolls; ++poll) {
        if (!Pause(timing_.textPollInterval)) return false;
        const std::string reply = replies_.Snapshot(deviceId);
        std::size_t at = 0;
        if (!first.empty()) {
            at = reply.find(first);
            if (at == std::string::npos) continue;
        }
        if (second.empty() || reply.find(second, at) != std::string::npos) return true;
    }
    return false;
}

void CommandEngine::PostWorkerLog(std::string line) {
    if (stopRequested_) return;  // the window may be going away
    events_.PostLog(std::move(line));
}

std::optional<SettingsOrigin> CommandEngine::Origin() {
    std::lock_guard guard(settingsLock_);
    return origin_;
}

void CommandEngine::AdoptSettings(AlarmSettings settings, std::uint32_t deviceId) {
    std::lock_guard guard(settingsLock_);
    settings_ = std::move(settings);
    origin_ = SettingsOrigin{deviceId, static_cast<std::int64_t>(std::time(nullptr)), true};
}

bool CommandEngine::PagesHold(std::uint32_t deviceId) {
    const std::optional<SettingsOrigin> origin = Origin();
    return origin && origin->deviceId == deviceId;
}

bool CommandEngine::CheckPagesHold(std::uint32_t deviceId) {
    const std::optional<SettingsOrigin> origin = Origin();
    if (origin && origin->deviceId == deviceId) return true;
    Log(origin ? WithText(text::kPagesHoldOther, DeviceIdText(origin->deviceId))
               : WithText(text::kPagesHoldNone, DeviceIdText(deviceId)));
    return false;
}

bool CommandEngine::SendLater(std::uint32_t deviceId, std::vector<std::uint8_t> bytes,
                              std::string what) {
    return sender_.Post(deviceId, std::move(bytes), std::move(what));
}

void CommandEngine::ExecuteCommand(const CommandJob& job) {
    if (job.group) {
        RunGroupJob(*this, job.group);
        return;
    }
    const int kind = job.kind;
    if (kind < 0 || kind > 23 || kind == 8 || kind == 9 || (kind >= 13 && kind <= 17)) return;
    switch (static_cast<CommandKind>(kind)) {
        case CommandKind::ReadSettings:
            ReadSettings(job);
            return;
        case CommandKind::SaveSettings:
            // The grid shows one terminal's read-back: its differences are
            // meaningless for any other terminal.
            if (!CheckPagesHold(job.deviceId)) return;
            if (RunSaveSequence(*this, job.deviceId)) PostWorkerLog(text::kSaveDone);
            return;
        case CommandKind::PlayMp3:
        case CommandKind::StopMp3:
        case CommandKind::SendPlayContent:
        case CommandKind::SendUpgradeParams:
        case CommandKind::ReadVersion:
        case CommandKind::RestartDevice:
            RunControlJob(*this, job);
            return;
        default:
            RunNumberListJob(job);
            return;
    }
}

void CommandEngine::ReadSettings(const CommandJob& job) {
    replies_.Reset(job.deviceId);
    SendText(job.deviceId, text::kReadSettingsLine);
    if (!WaitForReport(job.deviceId, text::kAccessPointLabel, text::kOk)) {
        PostWorkerLog(text::kSettingsTimeout);
        return;
    }
    const std::string reply = replies_.Snapshot(job.deviceId);
    const auto at = reply.find(text::kAccessPointLabel);
    const std::string_view report =
        at == std::string::npos ? std::string_view() : std::string_view(reply).substr(at);
    // Parsed into a cleared record, so a report that stops early leaves
    // empty fields, never another terminal's values.
    auto fresh = std::make_unique<AlarmSettings>();
    const bool complete = ParseSettingsReport(report, *fresh);
    {
        std::lock_guard guard(settingsLock_);
        settings_ = std::move(*fresh);
        origin_ =
            SettingsOrigin{job.deviceId, static_cast<std::int64_t>(std::time(nullptr)), complete};
    }
    if (!complete) PostWorkerLog(WithText(text::kSettingsIncomplete, DeviceIdText(job.deviceId)));
    // The pages are refilled even when the parse stopped early: they show
    // what was read.
    events_.SettingsArrived();
}

void CommandEngine::RunNumberListJob(const CommandJob& job) {
    const auto kind = static_cast<CommandKind>(job.kind);
    const ListTexts* texts = ListTextsFor(kind);
    if (texts == nullptr) return;
    // The pages' lists are the read-back of one terminal; a change for any
    // other would make them lie about it.
    if (!CheckPagesHold(job.deviceId)) return;
    const bool ok = SendAndAwaitOk(job.deviceId, job.text);
    if (stopRequested_) return;
    const bool isAdd = kind == CommandKind::AddAdminNumbers ||
                       kind == CommandKind::AddAuthorizeNumbers ||
                       kind == CommandKind::AddBackupNumbers;
    const bool isReset = kind == CommandKind::ResetAdminNumbers ||
                         kind == CommandKind::ResetAuthorizeNumbers ||
                         kind == CommandKind::ResetBackupNumbers;
    if (!ok) {
        PostWorkerLog(job.text);
        PostWorkerLog(texts->failure);
        return;
    }
    ListChangeNotice notice;
    notice.listKind = ListKindOf(kind);
    notice.deviceId = job.deviceId;
    if (!isReset) notice.commandText = job.text;
    if (isAdd) {
        events_.NumbersAdded(std::move(notice));
    } else if (isReset) {
        events_.NumberListReset(std::move(notice));
        PostWorkerLog(texts->success);
    } else {
        events_.NumbersDeleted(std::move(notice));
        PostWorkerLog(job.text);
        PostWorkerLog(texts->success);
    }
}

void CommandEngine::IntakePacket(std::uint32_t deviceId, const std::uint8_t* data,
                                 std::size_t length, IDeviceList& devices) {
    // Empty packets and full 4096-byte ones are neither logged nor kept; the
    // service cuts a terminal's stream into packets of at most 4095 bytes, so
    // no byte of it is skipped so.
    if (data == nullptr || length == 0 || length >= 4096) return;
    // Text as it stands (up to its first NUL); binary messages readably.
    Log(DeviceIdText(deviceId) + ":" + ReceivedLogText(data, length));
    if (IsStatusMessage(data, length)) {
        const int row = devices.FindRow(DeviceIdText(deviceId));
        if (row >= 0) {
            devices.SetPowerText(row, (data[15] & 1) ? text::kBatteryPower : text::kMainsPower);
            // Sent by the sending threads: a terminal that stopped reading
            // must not stop the window that runs this intake.
            SendLater(deviceId, PackFrame(deviceId, kStatusAnswer, {}), text::kStatusAnswerName);
        }
    }
    replies_.Append(deviceId, data, length);
}

}  // namespace pelmora
