#include "CommandEngine.h"

#include <cstring>
#include <ctime>

#include "CommandTexts.h"
#include "ControlJobs.h"
#include "JobRunner.h"

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

// Status messages kept for terminals that are not listed yet: a row appears
// at the next refresh, so a short memory is enough.
constexpr std::size_t kPendingPowerLimit = 65536;
constexpr std::chrono::minutes kPendingPowerAge{10};

// The bytes a status message has at fixed places; a shorter piece that
// differs at one of them cannot begin one.
bool MayStartStatus(const std::uint8_t* bytes, std::size_t count) {
    constexpr std::pair<std::size_t, std::uint8_t> kFixed[] = {
        {0, 0x02}, {1, 0x11}, {2, 0x01}, {10, 0x02}, {11, 0x00}, {13, 0x00}, {14, 0x02}};
    for (const auto& [at, value] : kFixed) {
        if (at < count && bytes[at] != value) return false;
    }
    return true;
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

CommandEngine::Submitted CommandEngine::SubmitIfIdle(std::unique_ptr<CommandJob> job,
                                                     const std::function<void()>& queued) {
    if (!job) return Submitted::NoWorker;
    {
        std::lock_guard guard(queueLock_);
        if (!worker_.joinable() || stopping_) return Submitted::NoWorker;  // it would never run
        if (busy_ || !queue_.empty()) return Submitted::Busy;
        if (job->group) {
            // Current before it can run: the panel must not miss a job that
            // ends at once.
            std::lock_guard groupGuard(groupLock_);
            currentGroup_ = job->group;
        }
        // Drill mode marks every job; a drill of its own stays one.
        job->drill = drill_.load() || (job->group && job->group->Note().drill);
        if (job->group) job->group->MarkDrill(job->drill);
        queue_.push_back(std::move(job));
        busy_ = true;
        // Before the worker can take the job: its lines come after this one.
        if (queued) queued();
    }
    wake_.notify_one();
    return Submitted::Queued;
}

bool CommandEngine::SetDrill(bool on, std::string prefix) {
    std::lock_guard guard(queueLock_);
    if (busy_ || !queue_.empty()) return false;
    drill_ = on;
    drillPrefix_ = std::move(prefix);
    return true;
}

std::string CommandEngine::DrillContent(CommandKind kind, std::string text) const {
    if (kind != CommandKind::SendPlayContent || !drill_.load()) return text;
    // A drill's content sent again keeps one prefix.
    if (text.compare(0, drillPrefix_.size(), drillPrefix_) == 0) return text;
    return drillPrefix_ + text;
}

bool CommandEngine::SubmitPageCommand(const IDeviceList& devices, CommandKind kind,
                                      std::string jobText) {
    std::uint32_t id = 0;
    if (!FindCheckedTerminal(devices, id)) return false;
    auto job = std::make_unique<CommandJob>();
    job->kind = static_cast<std::int32_t>(kind);
    job->deviceId = id;
    job->text = DrillContent(kind, std::move(jobText));
    const JobTexts* texts = TextsFor(kind);
    return SubmitLogged(std::move(job), texts ? texts->queued : "", texts ? texts->notQueued : "");
}

bool CommandEngine::SubmitLogged(std::unique_ptr<CommandJob> job, const std::string& queuedLine,
                                 const std::string& notQueuedLine) {
    const Submitted result = SubmitIfIdle(std::move(job));
    const std::string& line = result == Submitted::Busy     ? std::string(text::kBusy)
                              : result == Submitted::Queued ? queuedLine
                                                            : notQueuedLine;
    if (!line.empty()) Log(line);
    return result == Submitted::Queued;
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
    const CommandKind kind = group->Kind();
    const std::string queuedLine = GroupQueuedLine(*group);
    auto job = std::make_unique<CommandJob>();
    job->kind = static_cast<std::int32_t>(kind);
    job->group = group;
    switch (SubmitIfIdle(std::move(job), [&] { Log(queuedLine); })) {
        case Submitted::Queued:
            return true;
        case Submitted::Busy:
            Log(text::kBusy);
            return false;
        case Submitted::NoWorker:
            break;
    }
    Log(FillLine(text::kGroupNotQueued, {GroupKindName(kind)}));
    return false;
}

std::shared_ptr<GroupJob> CommandEngine::CurrentGroupJob() {
    std::lock_guard guard(groupLock_);
    return currentGroup_;
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
    bool running = false;
    {
        std::lock_guard guard(queueLock_);
        dropped.swap(queue_);
        if (running_ && !running_->cancelling) {
            running = true;
            running_->cancelling = true;
            cancelRequested_ = true;
        }
        if (!running_) busy_ = false;
    }
    wake_.notify_all();
    EndUnrun(dropped);
    return dropped.size() + (running ? 1 : 0);
}

void CommandEngine::ServiceStopped() {
    std::deque<std::unique_ptr<CommandJob>> dropped;
    {
        std::lock_guard guard(queueLock_);
        dropped.swap(queue_);
        if (running_) serviceStopped_ = true;
        if (!running_) busy_ = false;
    }
    wake_.notify_all();
    EndUnrun(dropped);
}

bool CommandEngine::Idle() {
    // busy_ changes under the queue lock together with the queue itself.
    std::lock_guard guard(queueLock_);
    return queue_.empty() && !busy_;
}

void CommandEngine::CommandWorker() {
    std::optional<std::chrono::steady_clock::time_point> owedUntil;
    for (;;) {
        std::unique_ptr<CommandJob> job;
        {
            std::unique_lock lock(queueLock_);
            if (queue_.empty()) {
                busy_ = false;
                // The predicate is checked under the lock, so a job queued on
                // the way to sleep is never missed. While answers are owed,
                // the worker wakes when they fall due, so their bytes go.
                const auto ready = [this] { return stopping_ || !queue_.empty(); };
                if (owedUntil) {
                    if (!wake_.wait_until(lock, *owedUntil, ready)) {
                        lock.unlock();
                        owedUntil = PruneOwed();
                        continue;
                    }
                } else {
                    wake_.wait(lock, ready);
                }
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
            serviceStopped_ = false;
            reportsReady_ = false;
            running_ = DescribeRunning(*job);
        }
        RunJob(*job);
        owedUntil = PruneOwed();
        {
            std::lock_guard guard(queueLock_);
            running_.reset();
            cancelRequested_ = false;
            serviceStopped_ = false;
        }
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
    running.severalAnswers =
        running.kind == CommandKind::SaveSettings ||
        (running.kind == CommandKind::SendPlayContent &&
         PlayContentPieces(job.group ? job.group->Text().size() : job.text.size()) > 1);
    return running;
}

bool CommandEngine::WaitInterval(std::chrono::milliseconds interval) {
    if (!stopRequested_ && !cancelRequested_ && !serviceStopped_) {
        if (timing_.sleep) {
            timing_.sleep(interval);
        } else {
            std::unique_lock lock(queueLock_);
            wake_.wait_for(lock, interval,
                           [this] { return stopping_ || cancelRequested_ || serviceStopped_; });
        }
    }
    return !stopRequested_;
}

bool CommandEngine::WaitForReport() {
    std::unique_lock lock(queueLock_);
    // Bounded: a write always ends within the link's send limit, and each
    // wait is checked again by the runner.
    wake_.wait_for(lock, std::chrono::seconds(1), [this] {
        return stopping_ || cancelRequested_ || serviceStopped_ || reportsReady_;
    });
    reportsReady_ = false;
    return !stopRequested_;
}

void CommandEngine::ReportReady() {
    {
        std::lock_guard guard(queueLock_);
        reportsReady_ = true;
    }
    wake_.notify_all();
}

void CommandEngine::PostWorkerLog(std::string line) {
    if (stopRequested_) return;  // the window may be going away
    events_.PostLog(std::move(line));
}

std::optional<SettingsOrigin> CommandEngine::Origin() {
    std::lock_guard guard(originLock_);
    return origin_;
}

void CommandEngine::AdoptSettings(AlarmSettings settings, std::uint32_t deviceId) {
    std::lock_guard guard(settingsLock_);
    settings_ = std::move(settings);
    std::lock_guard originGuard(originLock_);
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

void CommandEngine::IntakePacket(std::uint32_t deviceId, const std::uint8_t* data,
                                 std::size_t length, IDeviceList& devices) {
    // Empty packets and full 4096-byte ones are neither logged nor kept; the
    // service cuts a terminal's stream into packets of at most 4095 bytes, so
    // no byte of it is skipped so.
    if (data == nullptr || length == 0 || length >= 4096) return;
    // Text as it stands (up to its first NUL); binary messages readably.
    Log(DeviceIdText(deviceId) + ":" + ReceivedLogText(data, length));
    // Status messages anywhere in the stream, also one cut between two
    // packets: each is answered and shown.
    std::vector<std::uint8_t> bytes;
    {
        std::lock_guard guard(intakeLock_);
        const auto it = statusTails_.find(deviceId);
        if (it != statusTails_.end()) {
            bytes = std::move(it->second);
            statusTails_.erase(it);
        }
    }
    const std::uint8_t* stream = data;
    std::size_t size = length;
    if (!bytes.empty()) {
        bytes.insert(bytes.end(), data, data + length);
        stream = bytes.data();
        size = bytes.size();
    }
    std::size_t at = 0;
    while (at < size) {
        const auto* start =
            static_cast<const std::uint8_t*>(std::memchr(stream + at, 0x02, size - at));
        if (start == nullptr) break;
        const std::size_t pos = static_cast<std::size_t>(start - stream);
        if (size - pos < kStatusMessageLength) {
            // Perhaps the start of one: kept for the next packet.
            if (MayStartStatus(stream + pos, size - pos)) {
                std::lock_guard guard(intakeLock_);
                statusTails_[deviceId].assign(stream + pos, stream + size);
                break;
            }
            at = pos + 1;
            continue;
        }
        if (IsStatusMessage(stream + pos, size - pos)) {
            Status(deviceId, (stream[pos + 15] & 1) != 0, devices);
            at = pos + kStatusMessageLength;
        } else {
            at = pos + 1;
        }
    }
    replies_.Append(deviceId, data, length);
}

void CommandEngine::Status(std::uint32_t deviceId, bool battery, IDeviceList& devices) {
    if (statusListener_) statusListener_(deviceId, battery);
    const int row = devices.FindRow(DeviceIdText(deviceId));
    if (row >= 0) {
        devices.SetPowerText(row, battery ? text::kBatteryPower : text::kMainsPower);
    } else {
        // A terminal reports its power as soon as it registers, often before
        // the next refresh lists it: shown when its row appears.
        std::lock_guard guard(intakeLock_);
        if (pendingPower_.size() < kPendingPowerLimit || pendingPower_.count(deviceId) != 0)
            pendingPower_[deviceId] = {battery, std::chrono::steady_clock::now()};
    }
    // Sent by the sending threads: a terminal that stopped reading must not
    // stop the window that runs this intake.
    SendLater(deviceId, PackFrame(deviceId, kStatusAnswer, {}), text::kStatusAnswerName);
}

void CommandEngine::ApplyPendingPower(IDeviceList& devices) {
    std::lock_guard guard(intakeLock_);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = pendingPower_.begin(); it != pendingPower_.end();) {
        const int row = devices.FindRow(DeviceIdText(it->first));
        if (row >= 0) {
            devices.SetPowerText(row, it->second.first ? text::kBatteryPower : text::kMainsPower);
            it = pendingPower_.erase(it);
        } else if (now - it->second.second > kPendingPowerAge) {
            it = pendingPower_.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t CommandEngine::PendingPowerCount() {
    std::lock_guard guard(intakeLock_);
    return pendingPower_.size();
}

// --- running the jobs (JobRunner.h) ---

std::optional<std::chrono::steady_clock::time_point> CommandEngine::PruneOwed() {
    // With an owed answer that can no longer come go the bytes kept for it.
    return owed_.Prune([this](std::uint32_t deviceId) { replies_.Unwatch(deviceId); });
}

void CommandEngine::RunJob(const CommandJob& job) {
    PruneOwed();
    if (job.group) {
        JobRunner(*this, job.group, true).Run();
        return;
    }
    const int kind = job.kind;
    if (kind < 0 || kind > 23 || kind == 8 || kind == 9 || (kind >= 13 && kind <= 17)) return;
    auto single = std::make_shared<GroupJob>(static_cast<CommandKind>(kind), job.text,
                                             std::vector<std::uint32_t>{job.deviceId},
                                             std::vector<std::uint32_t>{});
    single->MarkDrill(job.drill);
    JobRunner(*this, std::move(single), false).Run();
}

void CommandEngine::EndUnrun(std::deque<std::unique_ptr<CommandJob>>& dropped) {
    for (const auto& job : dropped) {
        if (job->group) {
            job->group->Cancel();
            JobRunner(*this, job->group, true).EndUnrun();
        } else {
            Log(WithText(text::kJobCancelledUnrun,
                         JobTitle(static_cast<CommandKind>(job->kind), job->deviceId, 0)));
        }
    }
}

}  // namespace pelmora
