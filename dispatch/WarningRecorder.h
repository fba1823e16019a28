// Keeps the warning record: every job the engine runs becomes a record in
// the store, with each terminal's outcome word, time and detail, and the
// operator who sent it. A follow-up adds its attempt to the record it
// follows up rather than starting one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "JobRecorder.h"
#include "Store.h"

namespace pelmora::dispatch {

class FollowUps;

class WarningRecorder final : public IJobRecorder {
  public:
    using Clock = std::function<std::int64_t()>;  // seconds since 1970
    // `followUps` (may be null) is told of every outcome of the kinds it
    // follows up.
    WarningRecorder(store::Store& store, std::string operatorName, Clock clock = {},
                    FollowUps* followUps = nullptr);

    // The validity given to jobs that do not carry their own, in seconds;
    // 0: none. Any thread.
    void SetDefaultValidity(std::int64_t seconds) { defaultValidity_ = seconds; }
    // Told, on the worker thread, of the versions a query found (UTF-8).
    // Set before jobs run.
    using FirmwareFound = std::function<void(std::uint32_t deviceId, std::string versions)>;
    void SetFirmwareListener(FirmwareFound listener) { firmwareFound_ = std::move(listener); }
    // Told of the terminals' outcomes in play-content and MP3 jobs, a batch
    // at a time, on the thread that reports them (the worker's, mostly).
    // Set before jobs run.
    using WarningOutcomes = std::function<void(std::vector<store::Outcome> outcomes)>;
    void SetWarningListener(WarningOutcomes listener) { warningOutcomes_ = std::move(listener); }

    std::int64_t Started(const RecordedJob& job) override;
    void Outcomes(std::int64_t id, std::vector<RecordedOutcome> outcomes) override;
    void Ended(std::int64_t id, bool finished) override;

  private:
    struct Running {
        std::int64_t warningId = 0;
        int attempt = 1;
        CommandKind kind = CommandKind::ReadSettings;
        std::string text;  // GBK
        std::int64_t expires = 0;
    };

    store::Store& store_;
    const std::string operator_;
    Clock clock_;
    FollowUps* followUps_;
    FirmwareFound firmwareFound_;
    WarningOutcomes warningOutcomes_;
    std::atomic<std::int64_t> defaultValidity_{0};
    std::mutex lock_;
    std::int64_t nextKey_ = 1;                           // guarded by lock_
    std::unordered_map<std::int64_t, Running> running_;  // guarded by lock_
};

// The login name of the desktop user.
std::string DesktopUser();
// SHA-256 of the bytes, in lower-case hexadecimal.
std::string Sha256Hex(const std::string& bytes);
// The outcome word in UTF-8 ("成功", "等待" for one not yet final).
std::string OutcomeWord(GroupOutcome outcome);

}  // namespace pelmora::dispatch
