// The pages workspace: the left pane with its three page buttons, and on the
// right the device list above the configuration, control and data pages.
#pragma once

#include <QWidget>

class QBoxLayout;
class QSplitter;

namespace pelmora {

class CLeftView;
class CMySplitterWnd;
class CPelmoraView;

class PagesWorkspace final : public QWidget {
    Q_OBJECT
  public:
    PagesWorkspace(CLeftView* left, CPelmoraView* pages, QWidget* parent = nullptr);

    // Where the device list goes while this workspace is shown.
    QBoxLayout* DeviceSlot() const { return deviceSlot_; }
    CMySplitterWnd* Outer() const { return outer_; }
    QSplitter* Inner() const { return inner_; }

  private:
    CMySplitterWnd* outer_;
    QSplitter* inner_;
    QBoxLayout* deviceSlot_;
};

}  // namespace pelmora
