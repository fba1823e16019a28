// Keeps the warning record: every job the engine runs becomes a record in
// the store, with each terminal's outcome word, time and detail, and the
// operator who sent it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "JobRecorder.h"
#include "Store.h"

namespace pelmora::dispatch {

class WarningRecorder final : public IJobRecorder {
  public:
    using Clock = std::function<std::int64_t()>;  // seconds since 1970
    WarningRecorder(store::Store& store, std::string operatorName, Clock clock = {});

    std::int64_t Started(const RecordedJob& job) override;
    void Outcomes(std::int64_t id, std::vector<RecordedOutcome> outcomes) override;
    void Ended(std::int64_t id, bool finished) override;

  private:
    store::Store& store_;
    const std::string operator_;
    Clock clock_;
};

// The login name of the desktop user.
std::string DesktopUser();
// SHA-256 of the bytes, in lower-case hexadecimal.
std::string Sha256Hex(const std::string& bytes);
// The outcome word in UTF-8 ("成功", "等待" for one not yet final).
std::string OutcomeWord(GroupOutcome outcome);

}  // namespace pelmora::dispatch
