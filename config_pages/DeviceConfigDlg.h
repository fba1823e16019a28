// The remote configuration panel: a banner and the four configuration pages
// under tabs, "基本信息配置" first. Hiding the panel keeps every page's state.
// The banner names the terminal and the read-back the pages show.
#pragma once

#include <QWidget>

#include <optional>

#include "CommandJob.h"
#include "EngineUi.h"
#include "SettingsRecord.h"

class QLabel;

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
    // "显示设备 ... 的参数" with the time of its read-back, or that none was read.
    QString OriginText() const;
    static QString DescribeOrigin(const std::optional<SettingsOrigin>& origin);

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
    QLabel* originLabel_;
};

}  // namespace pelmora
