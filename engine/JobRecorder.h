// Where the engine tells what each job did, for the warning record: called
// on the worker thread (and, for a job dropped before it ran, on the thread
// that dropped it). Implementations must not wait on the window.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "CommandJob.h"
#include "GroupJob.h"

namespace pelmora {

struct RecordedJob {
    CommandKind kind = CommandKind::ReadSettings;
    bool group = false;
    std::string text;  // GBK, as the job sends it
    std::size_t terminals = 0;
    RecordNote note;
};

struct RecordedOutcome {
    std::uint32_t deviceId = 0;
    GroupOutcome outcome = GroupOutcome::Waiting;
    std::int64_t time = 0;  // seconds since 1970
    std::string detail;     // GBK: the versions a query found, pieces taken
};

class IJobRecorder {
  public:
    virtual ~IJobRecorder() = default;
    // A job starts; its id for the calls that follow.
    virtual std::int64_t Started(const RecordedJob& job) = 0;
    // Terminals that reached their outcome, in batches, at least once a
    // poll while the job runs.
    virtual void Outcomes(std::int64_t id, std::vector<RecordedOutcome> outcomes) = 0;
    // The job ended: every terminal has its outcome, or (not `finished`) the
    // engine stopped before they all had one.
    virtual void Ended(std::int64_t id, bool finished) = 0;
};

}  // namespace pelmora
