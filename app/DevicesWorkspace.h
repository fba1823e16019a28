// The devices workspace: the fleet's health by region and its changes on the
// left, the device list with its registry rows on the right.
#pragma once

#include <QWidget>

class QBoxLayout;
class QSplitter;

namespace pelmora {

class DevicesWorkspace final : public QWidget {
    Q_OBJECT
  public:
    explicit DevicesWorkspace(QWidget* parent = nullptr);

    // The health panel, left of the list.
    void SetHealthPanel(QWidget* panel);
    QBoxLayout* DeviceSlot() const { return deviceSlot_; }
    QSplitter* Splitter() const { return split_; }

  private:
    QSplitter* split_;
    QBoxLayout* healthSlot_;
    QBoxLayout* deviceSlot_;
};

}  // namespace pelmora
