// The remote control panel: a banner and two pages under tabs, the MP3 and
// version page first, then the upgrade page. Hiding the panel keeps both
// pages' state.
#pragma once

#include <QWidget>

namespace pelmora {

class CMp3Control;
class CTabSheet;
class CUpgradeControl;
class CommandEngine;
class IDeviceList;

class CSystemControlDlg final : public QWidget {
    Q_OBJECT
  public:
    CSystemControlDlg(CommandEngine& engine, const IDeviceList& devices, QWidget* parent = nullptr);

    CTabSheet& Tabs() const { return *tabs_; }
    CMp3Control& Mp3Page() const { return *mp3Page_; }
    CUpgradeControl& UpgradePage() const { return *upgradePage_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    CTabSheet* tabs_;
    CMp3Control* mp3Page_;
    CUpgradeControl* upgradePage_;
};

}  // namespace pelmora
