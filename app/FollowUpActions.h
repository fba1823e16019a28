// The window's side of follow-up delivery: terminals that register are told
// to the follow-ups, and each second, when the engine is idle, the next due
// follow-up goes out as a job of its own, logged. The operator sees the
// pending ones ("待补发预警") and may cancel them, and sets the default
// validity, the long-offline time, the number of terminals above which a
// mass action asks for that number typed, and the drill text ("预警设置").
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <vector>

class QWidget;

namespace pelmora {

class CommandEngine;
class ServiceSettings;
namespace dispatch {
class FollowUps;
class RegistryKeeper;
class WarningRecorder;
}  // namespace dispatch

class FollowUpActions final : public QObject {
    Q_OBJECT
  public:
    using Log = std::function<void(const QString&)>;
    FollowUpActions(dispatch::FollowUps& followUps, dispatch::RegistryKeeper& keeper,
                    dispatch::WarningRecorder& recorder, CommandEngine& engine,
                    ServiceSettings& settings, Log log, QWidget* dialogParent);

    // Terminals that registered at a refresh.
    void Registered(const std::vector<std::uint32_t>& deviceIds);
    // Sends the next due follow-up when the engine is idle; true when one
    // was submitted.
    bool Tick();

    void ShowPending();
    void EditSettings();

  signals:
    // The operator changed the settings ("预警设置").
    void SettingsChanged();

  private:
    dispatch::FollowUps& followUps_;
    dispatch::RegistryKeeper& keeper_;
    dispatch::WarningRecorder& recorder_;
    CommandEngine& engine_;
    ServiceSettings& settings_;
    Log log_;
    QWidget* parent_;
    QTimer timer_;
};

}  // namespace pelmora
