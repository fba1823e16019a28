// Starts a group job from a page: all ticked terminals of the device list,
// the offline ones listed as offline and skipped, after the operator has
// confirmed the action and the number of terminals.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CommandJob.h"

namespace pelmora {

class CommandEngine;
class GroupJob;
class IDeviceList;

// The ticked rows, online or not; rows whose ID does not parse are left out.
struct TickedTerminals {
    std::vector<std::uint32_t> online;
    std::vector<std::uint32_t> offline;
};
TickedTerminals CollectTicked(const IDeviceList& devices);

class GroupLauncher final {
  public:
    // Yes/No question; true for Yes.
    using Confirm = std::function<bool(const QString& text, const QString& caption)>;
    using Started = std::function<void(const std::shared_ptr<GroupJob>& job)>;

    GroupLauncher(CommandEngine& engine, const IDeviceList& devices);

    void SetConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
    void SetStarted(Started started) { started_ = std::move(started); }

    // Asks, then queues the group job; false when nothing was queued (the
    // reason is logged, or the operator said No).
    bool Launch(CommandKind kind, std::string text = {});

  private:
    CommandEngine& engine_;
    const IDeviceList& devices_;
    Confirm confirm_;
    Started started_;
};

}  // namespace pelmora
