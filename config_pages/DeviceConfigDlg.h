// The remote configuration panel: a banner and the four configuration pages
// under tabs, "基本信息配置" first. Hiding the panel keeps every page's state.
#pragma once

#include <QWidget>

#include "CommandJob.h"
#include "EngineUi.h"

namespace pelmora {

class CBaseConfig;
class CNumberListPage;
class CTabSheet;
class CommandEngine;

class CDeviceConfigDlg final : public QWidget {
    Q_OBJECT
  public:
    CDeviceConfigDlg(CommandEngine& engine, IDeviceList& devices, QWidget* parent = nullptr);

    CBaseConfig& BaseConfig() const { return *baseConfig_; }
    // The number page of list kind 1 (admin), 2 (authorize) or 3 (backup).
    CNumberListPage* NumberPage(int listKind) const;
    CTabSheet& Tabs() const { return *tabs_; }

    // After a settings report: the grid and the three lists from the record.
    void FillPagesFromSettings();
    // The worker's number-list notices, handed to the page of their kind.
    void OnNumbersAdded(const ListChangeNotice& notice);
    void OnNumbersDeleted(const ListChangeNotice& notice);
    void OnNumbersReset(const ListChangeNotice& notice);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    CommandEngine& engine_;
    CTabSheet* tabs_;
    CNumberListPage* adminPage_;
    CNumberListPage* backupPage_;
    CNumberListPage* authorizePage_;
    CBaseConfig* baseConfig_;
};

}  // namespace pelmora
