// The main window's service side, with its two timers: the refresh, which
// mirrors the library's terminal table into the device list, drops terminals
// that stayed silent and watches the descriptors, and the drain, which takes
// every received message to the command engine's intake.
#pragma once

#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Dovrik.h"

#include "Descriptors.h"

namespace pelmora {

class CDeviceView;
class CommandEngine;
class ServiceSettings;

class ServicePump final {
  public:
    struct Options {
        // Seconds since 1970, for the silence test.
        std::function<std::int64_t()> now;
        std::function<std::optional<DescriptorUse>()> descriptorUse;
        // Told of the terminals registered at each refresh, before the device
        // list is.
        std::function<void(const std::vector<ModemInfo>&, std::int64_t now)> seen;
        std::chrono::milliseconds drainInterval{300};
        std::chrono::milliseconds backlogInterval{5};  // while messages keep waiting
        std::chrono::milliseconds drainBudget{20};     // work per drain tick
    };
    using LogLine = std::function<void(const QString& line)>;

    ServicePump(Options options, const ServiceSettings& settings, CDeviceView& devices,
                CommandEngine& engine, LogLine log);

    // The refresh every poll time and the drain at once.
    void Start();
    // The refresh only: messages received before the stop still reach the log.
    void StopRefresh();
    void StopAll();

    void Refresh();
    // One drain tick; true when messages are still waiting.
    bool DrainTick();

    QTimer& RefreshTimer() { return refreshTimer_; }
    QTimer& DrainTimer() { return drainTimer_; }

  private:
    // Tells the operator once when descriptors run out, and once when they
    // are back.
    void CheckDescriptors();

    Options options_;
    const ServiceSettings& settings_;
    CDeviceView& devices_;
    CommandEngine& engine_;
    LogLine log_;
    bool descriptorsExhausted_ = false;
    QTimer refreshTimer_;
    QTimer drainTimer_;
};

}  // namespace pelmora
