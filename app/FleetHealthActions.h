// The window's side of the fleet's health: it keeps the region tree and the
// change list (dispatch/FleetHealth) up to date from what the registry keeper
// and the warning record tell, and tells the views over them at most every
// `interval`, so that a thousand terminals changing at once cost one pass.
// It shows the count of unseen changes in the window's title and on the
// system tray's icon, beeps at a new change when the operator wants it
// ("变化提示音"), and makes the health panel's dock ("设备状态").
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include "FleetHealth.h"

class QAction;
class QDockWidget;
class QMainWindow;
class QSystemTrayIcon;

namespace pelmora {

namespace store {
class Store;
}
namespace dispatch {
class RegistryKeeper;
class WarningRecorder;
}  // namespace dispatch
class ServiceSettings;
class WindowTitle;

class FleetHealthActions final : public QObject {
    Q_OBJECT
  public:
    struct Options {
        // The views are told of changes at most this often.
        std::chrono::milliseconds interval{200};
        // The sound of a new change; QApplication::beep unless given.
        std::function<void()> beep;
    };

    // Listens to the keeper and the recorder from now on, and takes the
    // failed flags from the record on a thread of its own (a large record
    // takes a while). Goes before the store, the keeper and the recorder,
    // and after the worker that reports jobs has stopped.
    FleetHealthActions(dispatch::RegistryKeeper& keeper, dispatch::WarningRecorder& recorder,
                       store::Store& store, ServiceSettings& settings, WindowTitle& title,
                       Options options);
    ~FleetHealthActions() override;

    const dispatch::FleetHealth& Health() const { return health_; }
    // Tells the views now what changed since they were last told; the timer
    // does it within the interval anyway.
    void Flush();
    // The operator has seen the changes ("已查看"): the list empties and the
    // unseen count goes to 0.
    void MarkSeen();
    int Unseen() const { return health_.Unseen(); }

    // "变化提示音", checkable, kept in the settings.
    QAction* SoundAction() const { return soundAction_; }
    // Null where the desktop has no system tray.
    QSystemTrayIcon* Tray() const { return tray_; }
    QString TrayText() const;

  signals:
    // The tree is built again (regions edited, terminals added): the models
    // over it start again.
    void TreeAboutToChange();
    void TreeChanged();
    // These nodes' counts changed.
    void CountsChanged(const std::vector<int>& nodes);
    // Changes joined the list's end and old ones left its front.
    void ChangesPublished(std::size_t added, std::size_t dropped);
    void ChangesCleared();
    void UnseenChanged(int unseen);

  private:
    void Schedule();
    void ShowUnseen();

    dispatch::RegistryKeeper& keeper_;
    dispatch::WarningRecorder& recorder_;
    ServiceSettings& settings_;
    WindowTitle& title_;
    Options options_;
    dispatch::FleetHealth health_;
    QTimer timer_;
    QAction* soundAction_;
    QSystemTrayIcon* tray_ = nullptr;
    std::thread loader_;  // reads the failed flags
};

}  // namespace pelmora
