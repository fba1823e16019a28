#include "ServicePump.h"

#include <QElapsedTimer>

#include <algorithm>
#include <vector>

#include "CommandEngine.h"
#include "DeviceView.h"
#include "Dovrik.h"
#include "ServiceSettings.h"

namespace pelmora {

ServicePump::ServicePump(Options options, const ServiceSettings& settings, CDeviceView& devices,
                         CommandEngine& engine, LogLine log)
    : options_(std::move(options)),
      settings_(settings),
      devices_(devices),
      engine_(engine),
      log_(std::move(log)) {
    QObject::connect(&refreshTimer_, &QTimer::timeout, &refreshTimer_, [this] { Refresh(); });
    QObject::connect(&drainTimer_, &QTimer::timeout, &drainTimer_, [this] {
        // While messages keep waiting the next tick comes soon; each tick
        // does a bounded amount of work, so the window stays responsive.
        const bool backlog = DrainTick();
        const auto interval = backlog ? options_.backlogInterval : options_.drainInterval;
        if (drainTimer_.interval() != interval.count())
            drainTimer_.setInterval(static_cast<int>(interval.count()));
    });
}

void ServicePump::Start() {
    refreshTimer_.start(settings_.pollSeconds * 1000);
    drainTimer_.start(static_cast<int>(options_.drainInterval.count()));
}

void ServicePump::StopRefresh() {
    refreshTimer_.stop();
}

void ServicePump::StopAll() {
    refreshTimer_.stop();
    drainTimer_.stop();
}

void ServicePump::Refresh() {
    const int count = DSGetModemCount();
    const std::int64_t now = options_.now();
    std::vector<ModemInfo> online;
    online.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int position = 0; position < count; ++position) {
        ModemInfo info{};
        if (!DSGetModemByPosition(static_cast<std::uint32_t>(position), &info)) continue;
        // Signed: a clock set back counts as recent.
        if (now - static_cast<std::int64_t>(info.lastUpdateTime) >= settings_.offlineSeconds) {
            DSCloseConnectionByDeviceID(info.deviceId);
        } else {
            online.push_back(info);
        }
    }
    // The registry first: the list's offline times read its last-seen times.
    if (options_.seen) options_.seen(online, now);
    devices_.Refresh(online);
    // Status messages that came before their rows.
    engine_.ApplyPendingPower(devices_);
    CheckDescriptors();
}

void ServicePump::CheckDescriptors() {
    // A few are kept for the log file, the settings and the window system.
    constexpr long kReserve = 16;
    const std::optional<DescriptorUse> use = options_.descriptorUse();
    if (!use) return;
    if (!descriptorsExhausted_ && use->open >= use->limit - kReserve) {
        descriptorsExhausted_ = true;
        log_(QStringLiteral("注意!可用的连接描述符已用尽(%1/%2),新的终端暂时无法接入,"
                            "连接释放后将自动恢复")
                 .arg(use->open)
                 .arg(use->limit));
    } else if (descriptorsExhausted_ && use->open < use->limit - 2 * kReserve) {
        descriptorsExhausted_ = false;
        log_(QStringLiteral("连接描述符已恢复(%1/%2),可以接入新的终端")
                 .arg(use->open)
                 .arg(use->limit));
    }
}

bool ServicePump::DrainTick() {
    QElapsedTimer clock;
    clock.start();
    _PACKET packet;
    int taken = 0;
    // Power changes reach the list's views once, at the end of the tick.
    const DeviceTableChanges changes(*devices_.List()->Rows());
    while (DSGetNextData(&packet, 0)) {
        engine_.IntakePacket(packet.deviceId, packet.data, packet.length, devices_);
        if (++taken % 32 == 0 && clock.elapsed() >= options_.drainBudget.count()) return true;
    }
    return false;
}

}  // namespace pelmora
