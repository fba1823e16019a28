#include "Workspaces.h"

#include <QAction>
#include <QActionGroup>
#include <QBoxLayout>
#include <QMainWindow>
#include <QStackedWidget>
#include <QToolBar>

namespace pelmora {

Workspaces::Workspaces(QMainWindow& window, QWidget& devices)
    : QObject(&window),
      devices_(devices),
      stack_(new QStackedWidget(&window)),
      bar_(new QToolBar(QStringLiteral("工作区"), &window)),
      group_(new QActionGroup(bar_)) {
    stack_->setObjectName(QStringLiteral("workspaces"));
    bar_->setObjectName(QStringLiteral("workspaceBar"));
    bar_->setMovable(false);
    bar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
}

void Workspaces::Add(Kind kind, QWidget* page, const QString& title, const QKeySequence& key,
                     QBoxLayout* deviceSlot, int slotIndex) {
    Entry& entry = pages_[kind];
    entry.page = page;
    entry.slot = deviceSlot;
    entry.slotIndex = slotIndex;
    stack_->addWidget(page);
    entry.action = bar_->addAction(title);
    entry.action->setCheckable(true);
    entry.action->setShortcut(key);
    entry.action->setToolTip(QStringLiteral("%1 (%2)").arg(title, key.toString()));
    entry.action->setObjectName(QStringLiteral("workspace%1").arg(static_cast<int>(kind)));
    group_->addAction(entry.action);
    connect(entry.action, &QAction::triggered, this, [this, kind] { Show(kind); });
}

void Workspaces::Show(Kind kind) {
    Entry& entry = pages_[kind];
    if (entry.page == nullptr) return;
    if (entry.slot != nullptr && devices_.parentWidget() != entry.slot->parentWidget()) {
        entry.slot->insertWidget(entry.slotIndex, &devices_);
        devices_.show();
    }
    stack_->setCurrentWidget(entry.page);
    entry.action->setChecked(true);
    current_ = kind;
    emit Shown(kind);
}

}  // namespace pelmora
