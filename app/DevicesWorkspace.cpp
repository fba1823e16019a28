#include "DevicesWorkspace.h"

#include <QSplitter>
#include <QVBoxLayout>

namespace pelmora {

DevicesWorkspace::DevicesWorkspace(QWidget* parent)
    : QWidget(parent), split_(new QSplitter(Qt::Horizontal, this)) {
    setObjectName(QStringLiteral("devicesWorkspace"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split_);
    auto* side = new QWidget(split_);
    healthSlot_ = new QVBoxLayout(side);
    healthSlot_->setContentsMargins(0, 0, 0, 0);
    auto* holder = new QWidget(split_);
    deviceSlot_ = new QVBoxLayout(holder);
    deviceSlot_->setContentsMargins(0, 0, 0, 0);
    split_->addWidget(side);
    split_->addWidget(holder);
    split_->setSizes({420, 900});
    split_->setStretchFactor(0, 0);
    split_->setStretchFactor(1, 1);
}

void DevicesWorkspace::SetHealthPanel(QWidget* panel) {
    healthSlot_->addWidget(panel);
}

}  // namespace pelmora
