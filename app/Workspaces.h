// The window's workspaces: warning, devices, pages and records, one shown at
// a time in a stack, chosen on their own tool bar or by shortcut. The device
// list is one widget; it moves into the shown workspace's place for it.
#pragma once

#include <QKeySequence>
#include <QObject>
#include <QString>

#include <array>

class QAction;
class QActionGroup;
class QBoxLayout;
class QMainWindow;
class QStackedWidget;
class QToolBar;
class QWidget;

namespace pelmora {

class Workspaces final : public QObject {
    Q_OBJECT
  public:
    enum Kind { kWarning, kDevices, kPages, kRecords, kCount };

    // `devices` is the device list that moves between workspaces.
    Workspaces(QMainWindow& window, QWidget& devices);

    // Adds a workspace; `deviceSlot` (may be null) is where the device list
    // goes while it is shown, at `slotIndex` of that layout.
    void Add(Kind kind, QWidget* page, const QString& title, const QKeySequence& key,
             QBoxLayout* deviceSlot = nullptr, int slotIndex = 0);
    void Show(Kind kind);
    Kind Current() const { return current_; }
    QWidget* Page(Kind kind) const { return pages_[kind].page; }
    QAction* Action(Kind kind) const { return pages_[kind].action; }
    QStackedWidget* Stack() const { return stack_; }
    QToolBar* Bar() const { return bar_; }

  signals:
    void Shown(pelmora::Workspaces::Kind kind);

  private:
    struct Entry {
        QWidget* page = nullptr;
        QAction* action = nullptr;
        QBoxLayout* slot = nullptr;
        int slotIndex = 0;
    };
    QWidget& devices_;
    QStackedWidget* stack_;
    QToolBar* bar_;
    QActionGroup* group_;
    std::array<Entry, kCount> pages_{};
    Kind current_ = kWarning;
};

}  // namespace pelmora
