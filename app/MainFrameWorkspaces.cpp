// The main window's workspaces, assembled: warning (shown at start), devices,
// pages and records, each its own widget; the device list moves into the
// shown one.
#include <QLabel>
#include <QMainWindow>
#include <QStackedWidget>
#include <QToolBar>

#include "DeviceView.h"
#include "DevicesWorkspace.h"
#include "FleetHealthActions.h"
#include "FleetHealthPanel.h"
#include "HistoryView.h"
#include "LeftView.h"
#include "MainFrame.h"
#include "PagesWorkspace.h"
#include "PelmoraView.h"
#include "RegionTreeModel.h"
#include "RegistryKeeper.h"
#include "Store.h"
#include "WarningWorkspace.h"
#include "Workspaces.h"

namespace pelmora {

void CMainFrame::BuildWorkspaces() {
    workspaces_ = new Workspaces(*this, *deviceView_);
    WarningWorkspace::Hooks hooks;
    hooks.inform = options_.inform;
    hooks.log = [this](const QString& line) { LogLine(line); };
    hooks.serviceRunning = [this] { return running_; };
    hooks.rowShown = [this](int row) { return deviceView_->IsShown(row); };
    hooks.openRecord = [this] {
        workspaces_->Show(Workspaces::kRecords);
        if (const auto latest = store_->LatestWarnings(1); !latest.empty())
            History().OpenRecord(latest.front().id);
    };
    hooks.confirmRefuse = [this](std::int64_t id) {
        return options_.confirm(
            QStringLiteral("拒绝待审核记录%1?拒绝后不会发送,记录保留。").arg(id),
            QStringLiteral("审核"));
    };
    warning_ = new WarningWorkspace(*store_, *keeper_, commandView_->Launcher(), *deviceView_,
                                    settings_, std::move(hooks));
    // Regions to send to: the same tree as the health panel's, with checks.
    auto* regions = new RegionTreeModel(*health_, true, warning_);
    warning_->SetRegionModel(regions);
    devices_ = new DevicesWorkspace;
    devices_->SetHealthPanel(new FleetHealthPanel(*health_));
    HistoryView::Hooks history;
    history.inform = options_.inform;
    history.log = [this](const QString& line) { LogLine(line); };
    history.serviceRunning = [this] { return running_; };
    history.launcher = &commandView_->Launcher();
    history_ = new HistoryView(*store_, std::move(history));
    history_->setWindowFlags(Qt::Widget);

    workspaces_->Add(Workspaces::kWarning, warning_, QStringLiteral("预警发布"),
                     QKeySequence(Qt::CTRL | Qt::Key_W), warning_->DeviceSlot());
    workspaces_->Add(Workspaces::kDevices, devices_, QStringLiteral("设备状态"),
                     QKeySequence(Qt::CTRL | Qt::Key_D), devices_->DeviceSlot());
    workspaces_->Add(Workspaces::kPages, pages_, QStringLiteral("终端页面"),
                     QKeySequence(Qt::CTRL | Qt::Key_P), pages_->DeviceSlot());
    workspaces_->Add(Workspaces::kRecords, history_, QStringLiteral("预警记录"),
                     QKeySequence(Qt::CTRL | Qt::Key_H));
    setCentralWidget(workspaces_->Stack());
    addToolBar(workspaces_->Bar());
    connect(leftView_, &CLeftView::PageRequested, this,
            [this] { workspaces_->Show(Workspaces::kPages); });
    connect(workspaces_, &Workspaces::Shown, this, [this](Workspaces::Kind kind) {
        if (kind == Workspaces::kRecords) history_->Query();
        if (kind == Workspaces::kWarning) warning_->Recount();
    });
    workspaces_->Show(Workspaces::kWarning);
}

HistoryView& CMainFrame::History() {
    return *history_;
}

}  // namespace pelmora
