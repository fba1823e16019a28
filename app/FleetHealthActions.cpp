#include "FleetHealthActions.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QIcon>
#include <QMainWindow>
#include <QSystemTrayIcon>

#include "FleetHealthPanel.h"
#include "RegistryKeeper.h"
#include "ServiceSettings.h"
#include "Store.h"
#include "WarningRecorder.h"
#include "WindowTitle.h"

namespace pelmora {

FleetHealthActions::FleetHealthActions(dispatch::RegistryKeeper& keeper,
                                       dispatch::WarningRecorder& recorder, store::Store& store,
                                       ServiceSettings& settings, WindowTitle& title,
                                       Options options)
    : keeper_(keeper),
      recorder_(recorder),
      settings_(settings),
      title_(title),
      options_(std::move(options)),
      health_(keeper),
      soundAction_(new QAction(QStringLiteral("变化提示音"), this)) {
    if (!options_.beep) options_.beep = [] { QApplication::beep(); };
    timer_.setSingleShot(true);
    timer_.setInterval(static_cast<int>(options_.interval.count()));
    connect(&timer_, &QTimer::timeout, this, &FleetHealthActions::Flush);
    // The keeper is told on the window thread; the recorder mostly on the
    // worker's, so its outcomes come over as a call of their own.
    keeper_.SetChangeListener(
        [this](std::uint32_t id, dispatch::TerminalChange change, std::int64_t now) {
            health_.Note(id, change, now);
            Schedule();
        });
    recorder_.SetWarningListener([this](std::vector<store::Outcome> outcomes) {
        QMetaObject::invokeMethod(this, [this, outcomes = std::move(outcomes)] {
            health_.Outcomes(outcomes);
            Schedule();
        });
    });

    soundAction_->setObjectName(QStringLiteral("healthSoundAction"));
    soundAction_->setCheckable(true);
    soundAction_->setChecked(settings_.healthSound);
    connect(soundAction_, &QAction::toggled, this,
            [this](bool on) { settings_.StoreHealthSound(on); });

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/pelmora.svg")), this);
        connect(tray_, &QSystemTrayIcon::activated, this, [this] {
            QWidget& window = title_.Window();
            window.showNormal();
            window.raise();
            window.activateWindow();
        });
        tray_->show();
    }
    connect(this, &FleetHealthActions::UnseenChanged, this, &FleetHealthActions::ShowUnseen);
    ShowUnseen();
    loader_ = std::thread([this, &store] {
        std::vector<store::Outcome> latest = dispatch::FleetHealth::LatestWarningOutcomes(store);
        QMetaObject::invokeMethod(this, [this, latest = std::move(latest)] {
            health_.SetFailures(latest);
            Schedule();
        });
    });
}

FleetHealthActions::~FleetHealthActions() {
    loader_.join();  // what it posts goes with this object
    keeper_.SetChangeListener({});
    recorder_.SetWarningListener({});
}

void FleetHealthActions::Schedule() {
    if (!timer_.isActive()) timer_.start();
}

void FleetHealthActions::Flush() {
    timer_.stop();
    if (health_.Stale()) {
        emit TreeAboutToChange();
        health_.Rebuild();
        emit TreeChanged();
    } else if (const std::vector<int> nodes = health_.TakeChangedNodes(); !nodes.empty()) {
        emit CountsChanged(nodes);
    }
    const dispatch::FleetHealth::Published published = health_.Publish();
    if (published.added == 0 && published.dropped == 0) return;
    emit ChangesPublished(published.added, published.dropped);
    emit UnseenChanged(health_.Unseen());
    if (published.added > 0 && settings_.healthSound) options_.beep();
}

void FleetHealthActions::MarkSeen() {
    health_.MarkSeen();
    health_.ClearChanges();
    emit ChangesCleared();
    emit UnseenChanged(0);
}

QString FleetHealthActions::TrayText() const {
    const int unseen = health_.Unseen();
    return unseen > 0 ? QStringLiteral("Pelmora: %1 项变化").arg(unseen)
                      : QStringLiteral("Pelmora");
}

void FleetHealthActions::ShowUnseen() {
    title_.SetUnseen(health_.Unseen());
    if (tray_ != nullptr) tray_->setToolTip(TrayText());
}

}  // namespace pelmora
