// Starts a group job from a page: all ticked terminals of the device list,
// the offline ones listed as offline and skipped, after the operator has
// confirmed the action, its content, the number of terminals and how many of
// them the list's filter hides. A job again to given terminals (those a
// record did not reach) takes the same way.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CommandJob.h"
#include "GroupJob.h"

namespace pelmora {

class CommandEngine;
class IDeviceList;

// The ticked rows, online or not; rows whose ID does not parse are left out.
// `hidden` counts those of them that `shown` (when given) says are hidden.
struct TickedTerminals {
    std::vector<std::uint32_t> online;
    std::vector<std::uint32_t> offline;
    std::size_t hidden = 0;
};
TickedTerminals CollectTicked(const IDeviceList& devices,
                              const std::function<bool(int row)>& shown = {});

class GroupLauncher final {
  public:
    // Yes/No question, No being the default button; true for Yes.
    using Confirm = std::function<bool(const QString& text, const QString& caption)>;
    using Started = std::function<void(const std::shared_ptr<GroupJob>& job)>;
    // Whether a row of the device list is shown (not hidden by its filter).
    using RowShown = std::function<bool(int row)>;
    // The question for many terminals: true only when the operator typed
    // `count`, the number of terminals; the safe answer is the default.
    using ConfirmCount =
        std::function<bool(const QString& text, const QString& caption, std::size_t count)>;

    GroupLauncher(CommandEngine& engine, const IDeviceList& devices);

    void SetConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
    void SetStarted(Started started) { started_ = std::move(started); }
    void SetRowShown(RowShown shown) { shown_ = std::move(shown); }
    // Warnings, restarts and upgrades to more than `above()` terminals ask
    // for the number typed rather than a Yes.
    void SetConfirmCount(ConfirmCount confirm, std::function<std::size_t()> above) {
        confirmCount_ = std::move(confirm);
        countAbove_ = std::move(above);
    }
    // Whether this kind asks for the number typed when it goes to many.
    static bool IsMassAction(CommandKind kind);

    // Asks, then queues the group job; false when nothing was queued (the
    // reason is logged, or the operator said No).
    bool Launch(CommandKind kind, std::string text = {});
    // The same for these terminals, online as the device list shows them (a
    // terminal it does not list is offline); `whose` tells the question
    // which terminals they are ("记录 12 中未成功的").
    // `note` says what the record keeps of it (its validity, say).
    bool LaunchTo(CommandKind kind, std::string text, const std::vector<std::uint32_t>& terminals,
                  const QString& whose, const RecordNote& note = {});

    // The question alone (the number typed for many): true when the
    // operator said yes to sending `jobText` (GBK) to these terminals.
    bool Ask(CommandKind kind, const std::string& jobText, const TickedTerminals& terminals,
             const QString& whose);

  private:
    bool Submit(CommandKind kind, std::string text, TickedTerminals terminals, const QString& whose,
                const RecordNote& note = {});

    CommandEngine& engine_;
    const IDeviceList& devices_;
    Confirm confirm_;
    ConfirmCount confirmCount_;
    std::function<std::size_t()> countAbove_;
    Started started_;
    RowShown shown_;
};

}  // namespace pelmora
