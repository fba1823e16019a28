// Drill mode ("演练"): while it is on, every job is recorded as a drill and
// play content goes with the drill text in front, a red banner stays above
// the window's panes and the title says so. It changes only while no job
// runs, so a job is a drill or not from its start to its end.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QLabel;
class QMainWindow;
class QToolBar;

namespace pelmora {

class CommandEngine;
class ServiceSettings;
class WindowTitle;

class DrillMode final : public QObject {
    Q_OBJECT
  public:
    using Log = std::function<void(const QString&)>;
    using Inform = std::function<void(const QString& text, const QString& caption)>;
    DrillMode(QMainWindow& window, WindowTitle& title, CommandEngine& engine,
              const ServiceSettings& settings, Log log, Inform inform);

    // The menu's switch (checkable).
    QAction* Action() const { return action_; }
    // Puts the banner on a row of its own below the window's tool bars.
    void AddBanner();
    // Turns drill mode on or off; false, with a message, while a job runs or
    // when the drill text cannot be sent.
    bool Set(bool on);
    bool On() const;
    // The drill text again from the settings, when drill mode is on.
    void ApplyPrefix();
    QToolBar* Banner() const { return banner_; }
    QString BannerText() const;

  private:
    QMainWindow& window_;
    WindowTitle& title_;
    CommandEngine& engine_;
    const ServiceSettings& settings_;
    Log log_;
    Inform inform_;
    QAction* action_;
    QToolBar* banner_;
    QLabel* label_;
};

}  // namespace pelmora
