// The main window's commands as the operator reaches them: the menu, the tool
// bar and the status bar, and the states they show; the device list's row
// commands.
#include "MainFrame.h"

#include "DrillMode.h"
#include "FleetHealthActions.h"
#include "FollowUpActions.h"
#include "GatewayActions.h"
#include "GroupJob.h"
#include "HistoryView.h"
#include "RegistryActions.h"
#include "ReviewBar.h"
#include "WarningWorkspace.h"

#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "CommandEngine.h"
#include "DeviceView.h"
#include "Dovrik.h"
#include "JobStatus.h"
#include "PelmoraView.h"
#include "ServiceSettings.h"
#include "Store.h"
#include "SystemControlDlg.h"
#include "TabSheet.h"
#include "Workspaces.h"

namespace pelmora {

void CMainFrame::BuildMenu() {
    auto add = [this](QMenu* menu, Command id, const QString& text, void (CMainFrame::*slot)()) {
        QAction* action = menu->addAction(text);
        if (slot != nullptr) connect(action, &QAction::triggered, this, slot);
        actions_[id] = action;
        return action;
    };
    QMenu* service = menuBar()->addMenu(QStringLiteral("服务控制(&F)"));
    add(service, kStartService, QStringLiteral("启动服务(&S)"), &CMainFrame::StartService)
        ->setShortcut(QKeySequence(Qt::Key_F5));
    add(service, kStopService, QStringLiteral("停止服务(&T)"), &CMainFrame::StopService)
        ->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    add(service, kClearLog, QStringLiteral("清除日志(&C)"), &CMainFrame::ClearLog)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    QAction* exit = service->addAction(QStringLiteral("退出(&X)"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    actions_[kExit] = exit;

    QMenu* devices = menuBar()->addMenu(QStringLiteral("设备管理(&E)"));
    devices->addSeparator();
    add(devices, kAddDevice, QStringLiteral("添加设备"), nullptr)->setEnabled(false);
    add(devices, kDeleteDevice, QStringLiteral("删除设备"), nullptr)->setEnabled(false);
    devices->addSeparator();
    add(devices, kRestartDevice, QStringLiteral("设备重启"), &CMainFrame::RestartDevice)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    add(devices, kGroupRestart, QStringLiteral("群发重启"), &CMainFrame::GroupRestart)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    add(devices, kCancelJobs, QStringLiteral("取消当前操作"), &CMainFrame::CancelJobs)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
    devices->addSeparator();
    QAction* panel = groupDock_->toggleViewAction();
    panel->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    devices->addAction(panel);
    // The registry's CSV and the warning record, after the menu's own entries.
    registry_ = std::make_unique<RegistryActions>(
        *keeper_, [this](const QString& line) { LogLine(line); }, options_.confirm, options_.inform,
        this, options_.now,
        [this] {
            deviceView_->ShowRegistry();
            UpdateStatus();
        });
    connect(deviceView_, &CDeviceView::TerminalPageRequested, registry_.get(),
            &RegistryActions::ShowTerminalPage);
    devices->addSeparator();
    connect(devices->addAction(QStringLiteral("导入终端登记...")), &QAction::triggered,
            registry_.get(), &RegistryActions::Import);
    connect(devices->addAction(QStringLiteral("导出终端登记...")), &QAction::triggered,
            registry_.get(), &RegistryActions::Export);
    // The records workspace (Ctrl+H on the workspace bar).
    QAction* history = devices->addAction(QStringLiteral("预警记录..."));
    history->setObjectName(QStringLiteral("historyAction"));
    connect(history, &QAction::triggered, this,
            [this] { workspaces_->Show(Workspaces::kRecords); });

    // The pages without a send: "远程配置" on the left also commits the
    // configuration, which restarts the terminal.
    QMenu* view = menuBar()->addMenu(QStringLiteral("视图(&V)"));
    const std::pair<QString, CPelmoraView::Page> pages[] = {
        {QStringLiteral("远程配置页面"), CPelmoraView::Page::Configuration},
        {QStringLiteral("远程控制页面"), CPelmoraView::Page::Control},
        {QStringLiteral("数据发送页面"), CPelmoraView::Page::DataSend},
    };
    int key = Qt::Key_1;
    for (const auto& [text, page] : pages) {
        QAction* action = view->addAction(text);
        action->setShortcut(QKeySequence(static_cast<int>(Qt::CTRL) | key++));
        action->setObjectName(QStringLiteral("viewPage%1").arg(static_cast<int>(page)));
        connect(action, &QAction::triggered, this,
                [this, target = page] { commandView_->ShowPage(target); });
        connect(action, &QAction::triggered, this,
                [this] { workspaces_->Show(Workspaces::kPages); });
    }

    view->addSeparator();
    add(view, kFindDevice, QStringLiteral("筛选设备"), &CMainFrame::FindDevice)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));

    QMenu* system = menuBar()->addMenu(QStringLiteral("系统设置(&S)"));
    add(system, kServiceSettings, QStringLiteral("服务设置"), &CMainFrame::OpenSettings)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    // Follow-up delivery, beside the specified entries.
    followUpActions_ = std::make_unique<FollowUpActions>(
        *followUps_, *keeper_, *recorder_, commandView_->Engine(), settings_,
        [this](const QString& line) { LogLine(line); }, this);
    connect(system->addAction(QStringLiteral("预警设置...")), &QAction::triggered,
            followUpActions_.get(), &FollowUpActions::EditSettings);
    // Drill mode, with its banner above the panes.
    drill_ = new DrillMode(
        *this, *title_, commandView_->Engine(), settings_,
        [this](const QString& line) { LogLine(line); }, options_.inform);
    system->addSeparator();
    system->addAction(drill_->Action());
    system->addAction(health_->SoundAction());
    connect(followUpActions_.get(), &FollowUpActions::SettingsChanged, drill_,
            &DrillMode::ApplyPrefix);
    connect(devices->addAction(QStringLiteral("待补发预警...")), &QAction::triggered,
            followUpActions_.get(), &FollowUpActions::ShowPending);
    if (options_.gateway) {
        gateway_ = std::make_unique<GatewayActions>(
            *store_, *followUps_, *keeper_, commandView_->Engine(), settings_,
            [this](const QString& line) { LogLine(line); },
            GatewayActions::Options{options_.inboxFolder, options_.gatewayPort, options_.now},
            this);
        gateway_->SetDrillPrefix(settings_.drillPrefix);
        connect(followUpActions_.get(), &FollowUpActions::SettingsChanged, gateway_.get(),
                [this] { gateway_->SetDrillPrefix(settings_.drillPrefix); });
        connect(system->addAction(QStringLiteral("网关设置...")), &QAction::triggered,
                gateway_.get(), &GatewayActions::EditSettings);
        // What comes through it and waits: above the warning form.
        warning_->SetDesk(&gateway_->Desk(), [this]() -> std::shared_ptr<GroupJob> {
            if (!gateway_->Send()) return nullptr;
            return commandView_->Engine().CurrentGroupJob();
        });
        connect(gateway_.get(), &GatewayActions::ReviewsChanged, warning_->Reviews(),
                &ReviewBar::Refresh);
    }
}

void CMainFrame::ReportStoreProblem() {
    if (const QString problem = QString::fromStdString(store_->Problem()); !problem.isEmpty()) {
        // Once, in the log and in a message after the window is shown.
        const QString text =
            store_->Persistent()
                ? QStringLiteral("注意!预警记录数据库已损坏,已另存并新建: %1").arg(problem)
                : QStringLiteral(
                      "注意!预警记录数据库无法使用(%1),本次运行的终端登记和预警记录"
                      "只保存在内存中")
                      .arg(problem);
        LogLine(text);
        QTimer::singleShot(0, this,
                           [this, text] { options_.inform(text, QStringLiteral("提示")); });
    }
}

void CMainFrame::BuildToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("工具栏"));
    bar->setObjectName("mainToolBar");
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(22, 22));
    struct Slot {
        Command id;
        const char* icon;
        QString text;
    };
    const Slot toolSlots[] = {
        {kStartService, ":/icons/start.svg", QStringLiteral("启动服务")},
        {kStopService, ":/icons/stop.svg", QStringLiteral("停止服务")},
        {kServiceSettings, ":/icons/settings.svg", QStringLiteral("服务设置")},
        {kRestartDevice, ":/icons/restart.svg", QStringLiteral("设备重启")},
        {kClearLog, ":/icons/clearlog.svg", QStringLiteral("清除日志")},
    };
    for (const Slot& slot : toolSlots) {
        if (slot.id == kRestartDevice) bar->addSeparator();
        QAction* action = actions_.at(slot.id);
        // The tool bar shows the short text; the menu keeps its mnemonic.
        auto* button = new QAction(QIcon(slot.icon), slot.text, bar);
        button->setToolTip(slot.text);
        connect(button, &QAction::triggered, action, &QAction::trigger);
        connect(action, &QAction::enabledChanged, button, &QAction::setEnabled);
        button->setEnabled(action->isEnabled());
        button->setObjectName(QString("tool%1").arg(static_cast<int>(slot.id)));
        bar->addAction(button);
        action->setIcon(QIcon(slot.icon));
    }
    bar->addSeparator();
    bar->addAction(drill_->Action());
    drill_->AddBanner();
}

void CMainFrame::BuildStatusBar() {
    statusPane0_ = new QLabel(" ");
    statusPane0_->setObjectName("servicePane");
    jobPane_ = new QLabel;
    jobPane_->setObjectName("jobPane");
    auto* cancel = new QToolButton;
    cancel->setObjectName("statusCancel");
    cancel->setDefaultAction(actions_.at(kCancelJobs));
    cancel->setToolButtonStyle(Qt::ToolButtonTextOnly);
    statusPane1_ = new QLabel(QString::fromLatin1(kApplicationTitle));
    alertPane_ = new QLabel;
    alertPane_->setObjectName("offlineAlertPane");
    statusBar()->addWidget(statusPane0_);
    statusBar()->addWidget(jobPane_, 1);
    statusBar()->addWidget(cancel);
    statusBar()->addPermanentWidget(alertPane_);
    statusBar()->addPermanentWidget(statusPane1_);
}

void CMainFrame::UpdateStatus() {
    const CDeviceView::Counts counts = deviceView_->RowCounts();
    const QString service =
        (running_ ? QStringLiteral("服务运行中, 端口 %1") : QStringLiteral("服务未启动, 端口 %1"))
            .arg(settings_.port) +
        QStringLiteral(" | 在线 %1, 离线 %2, 备电 %3")
            .arg(counts.online)
            .arg(counts.total - counts.online)
            .arg(counts.battery);
    CommandEngine& engine = commandView_->Engine();
    const std::optional<RunningJob> running = engine.Running();
    const std::size_t waiting = engine.WaitingCount();
    const auto now = std::chrono::steady_clock::now();
    const QString job = JobPaneText(running, waiting, now);
    const QString alert = LongOfflineText(counts, settings_.offlineAlertMinutes) +
                          QStringLiteral(" | 从未上线: %1").arg(counts.neverOnline);
    // Written only when changed: a label relays the status bar out.
    if (statusPane0_->text() != service) statusPane0_->setText(service);
    if (alertPane_->text() != alert) alertPane_->setText(alert);
    if (jobPane_->text() != job) jobPane_->setText(job);
    actions_.at(kCancelJobs)->setEnabled((running && !running->cancelling) || waiting > 0);
    commandView_->ShowJobState(running, waiting, now);
}

void CMainFrame::FindDevice() {
    QLineEdit* box = deviceView_->FilterBox();
    box->setFocus(Qt::ShortcutFocusReason);
    box->selectAll();
}

void CMainFrame::ReadBackRow(const QString& idText) {
    const int row = deviceView_->FindRow(idText);
    if (row < 0) return;
    commandView_->ShowPage(CPelmoraView::Page::Configuration);
    commandView_->Engine().SubmitPageCommand(SingleRowList(*deviceView_, row),
                                             CommandKind::ReadSettings);
    UpdateStatus();
}

void CMainFrame::QueryVersionsRow(const QString& idText) {
    const int row = deviceView_->FindRow(idText);
    if (row < 0) return;
    // The versions are shown on the MP3 page, the control panel's first.
    commandView_->ShowPage(CPelmoraView::Page::Control);
    commandView_->ControlPages().Tabs().ShowPage(0);
    commandView_->Engine().SubmitPageCommand(SingleRowList(*deviceView_, row),
                                             CommandKind::ReadVersion);
    UpdateStatus();
}

void CMainFrame::DisconnectRow(const QString& idText) {
    std::uint32_t id = 0;
    if (!running_ || !ParseDeviceId(idText.toStdString(), id)) return;
    if (!options_.confirm(QStringLiteral("确认断开设备%1的连接吗?").arg(idText),
                          QStringLiteral("提示")))
        return;
    DSCloseConnectionByDeviceID(id);
    LogLine(QStringLiteral("已断开设备%1的连接").arg(idText));
    Refresh();
}

QAction* CMainFrame::Action(Command command) const {
    const auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::UpdateCommandStates() {
    actions_.at(kStartService)->setEnabled(!running_);
    actions_.at(kStopService)->setEnabled(running_);
}

}  // namespace pelmora
