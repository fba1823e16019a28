#include "MainFrame.h"

#include <QAction>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QThread>
#include <QToolBar>
#include <QToolButton>

#include <ctime>
#include <vector>

#include "CommandJob.h"
#include "CommandTexts.h"
#include "DeviceView.h"
#include "Dovrik.h"
#include "GroupJobPanel.h"
#include "GroupLauncher.h"
#include "JobStatus.h"
#include "LeftView.h"
#include "LogRelay.h"
#include "MySplitterWnd.h"
#include "PelmoraView.h"
#include "ReportCtrl.h"
#include "ServerSettingDialog.h"
#include "ServiceSettings.h"
#include "SystemControlDlg.h"
#include "TabSheet.h"

// The icons live in the application library; a static library's resources
// must be registered by hand.
static void LoadResources() {
    Q_INIT_RESOURCE(pelmora);
}

namespace pelmora {

namespace {

constexpr int kLeftPaneWidth = 200;
constexpr int kDevicePaneHeight = 200;
constexpr std::chrono::milliseconds kStatusInterval{500};
constexpr char kApplicationTitle[] = "Pelmora";
constexpr char kVersionSuffix[] = "V1.2";

}  // namespace

QString CMainFrame::Title() {
    return QString::fromLatin1(kApplicationTitle) + kVersionSuffix;
}

CMainFrame::CMainFrame(Options options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), settings_(*options_.settings) {
    if (!options_.now) options_.now = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    if (!options_.descriptorUse) options_.descriptorUse = CurrentDescriptorUse;
    if (!options_.inform) {
        options_.inform = [this](const QString& text, const QString& caption) {
            QMessageBox::information(this, caption, text);
        };
    }
    if (!options_.confirm) {
        options_.confirm = [this](const QString& text, const QString& caption) {
            QMessageBox box(QMessageBox::Information, caption, text,
                            QMessageBox::Yes | QMessageBox::No, this);
            return box.exec() == QMessageBox::Yes;
        };
    }
    log_ = std::make_unique<LogRelay>([this](const QStringList& lines) {
        if (leftView_ != nullptr) leftView_->AppendLogLines(lines);
    });
    LoadResources();
    setWindowTitle(Title());
    setWindowIcon(QIcon(":/icons/pelmora.svg"));
    BuildPanes();
    BuildGroupPanel();
    BuildMenu();
    BuildToolBar();
    BuildStatusBar();
    UpdateCommandStates();

    connect(&refreshTimer_, &QTimer::timeout, this, &CMainFrame::Refresh);
    connect(&drainTimer_, &QTimer::timeout, this, [this] {
        // While messages keep waiting the next tick comes soon; each tick
        // does a bounded amount of work, so the window stays responsive.
        const bool backlog = DrainTick();
        const auto interval = backlog ? options_.backlogInterval : options_.drainInterval;
        if (drainTimer_.interval() != interval.count())
            drainTimer_.setInterval(static_cast<int>(interval.count()));
    });
    connect(&statusTimer_, &QTimer::timeout, this, &CMainFrame::UpdateStatus);
    statusTimer_.start(static_cast<int>(kStatusInterval.count()));
    resize(1440, 900);
    RestoreWindowState();
    commandView_->InitialUpdate();
    UpdateStatus();
}

CMainFrame::~CMainFrame() {
    SaveWindowState();
    refreshTimer_.stop();
    drainTimer_.stop();
    statusTimer_.stop();
    if (running_) DSStopService();
    // The panes go before the log relay they write to: the command view's
    // worker may still be logging until it is stopped.
    delete takeCentralWidget();
    leftView_ = nullptr;
    deviceView_ = nullptr;
    commandView_ = nullptr;
}

void CMainFrame::BuildPanes() {
    outer_ = new CMySplitterWnd(Qt::Horizontal, this);
    leftView_ = nullptr;
    deviceView_ = new CDeviceView;
    LinkApi link = DovrikLink();
    // The commit is sent from the window thread: it goes through the
    // engine's sending threads, so a terminal that stopped reading cannot
    // stop the window.
    LinkApi commitLink{[this](std::uint32_t id, std::uint16_t length, const std::uint8_t* data) {
        return commandView_->Engine().SendLater(id, std::vector<std::uint8_t>(data, data + length),
                                                text::kCommitName)
                   ? 1
                   : 0;
    }};
    leftView_ = new CLeftView(*deviceView_, std::move(commitLink), outer_);
    leftView_->SetLogSink([this](const QString& line) { log_->PostText(line); });
    inner_ = new QSplitter(Qt::Vertical, outer_);
    inner_->addWidget(deviceView_);
    commandView_ = new CPelmoraView(*log_, link, *deviceView_, options_.engineTiming, inner_);
    commandView_->SetInform(options_.inform);
    inner_->addWidget(commandView_);
    outer_->addWidget(leftView_);
    outer_->addWidget(inner_);
    outer_->setSizes({kLeftPaneWidth, 1240});
    outer_->setStretchFactor(0, 0);
    outer_->setStretchFactor(1, 1);
    inner_->setSizes({kDevicePaneHeight, 640});
    inner_->setStretchFactor(0, 0);
    inner_->setStretchFactor(1, 1);
    leftView_->setFixedWidth(kLeftPaneWidth);
    setCentralWidget(outer_);
    connect(deviceView_, &CDeviceView::ReadBackRequested, this, &CMainFrame::ReadBackRow);
    connect(deviceView_, &CDeviceView::VersionsRequested, this, &CMainFrame::QueryVersionsRow);
    connect(deviceView_, &CDeviceView::DisconnectRequested, this, &CMainFrame::DisconnectRow);
    connect(leftView_, &CLeftView::PageRequested, this, [this](CLeftView::Page page) {
        switch (page) {
            case CLeftView::Page::Configuration:
                commandView_->ShowPage(CPelmoraView::Page::Configuration);
                break;
            case CLeftView::Page::Control:
                commandView_->ShowPage(CPelmoraView::Page::Control);
                break;
            case CLeftView::Page::DataSend:
                commandView_->ShowPage(CPelmoraView::Page::DataSend);
                break;
        }
    });
}

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
    }

    view->addSeparator();
    add(view, kFindDevice, QStringLiteral("筛选设备"), &CMainFrame::FindDevice)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));

    QMenu* system = menuBar()->addMenu(QStringLiteral("系统设置(&S)"));
    add(system, kServiceSettings, QStringLiteral("服务设置"), &CMainFrame::OpenSettings)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
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
    statusBar()->addWidget(statusPane0_);
    statusBar()->addWidget(jobPane_, 1);
    statusBar()->addWidget(cancel);
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
    // Written only when changed: a label relays the status bar out.
    if (statusPane0_->text() != service) statusPane0_->setText(service);
    if (jobPane_->text() != job) jobPane_->setText(job);
    actions_.at(kCancelJobs)->setEnabled((running && !running->cancelling) || waiting > 0);
    commandView_->ShowJobState(running, waiting, now);
}

void CMainFrame::SaveWindowState() {
    settings_.StoreWindowState("geometry", saveGeometry());
    settings_.StoreWindowState("state", saveState());
    settings_.StoreWindowState("outerSplitter", outer_->saveState());
    settings_.StoreWindowState("innerSplitter", inner_->saveState());
    settings_.StoreWindowState("deviceColumns", deviceView_->List()->header()->saveState());
    settings_.StoreWindowState("groupColumns", groupPanel_->Table()->horizontalHeader()->saveState());
    settings_.StoreWindowState("groupPanel", groupDock_->saveGeometry());
    settings_.Sync();
}

void CMainFrame::RestoreWindowState() {
    // Each piece on its own: a stored value that does not fit (another
    // version, a damaged file) is passed by and that piece keeps its default.
    if (!restoreGeometry(settings_.WindowState("geometry"))) {
        // First start: as large as the screen allows, up to 1440 x 900.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect room = screen->availableGeometry();
            resize(std::min(1440, room.width()), std::min(900, room.height()));
        }
    }
    restoreState(settings_.WindowState("state"));
    outer_->restoreState(settings_.WindowState("outerSplitter"));
    inner_->restoreState(settings_.WindowState("innerSplitter"));
    deviceView_->List()->header()->restoreState(settings_.WindowState("deviceColumns"));
    groupPanel_->Table()->horizontalHeader()->restoreState(settings_.WindowState("groupColumns"));
    groupDock_->restoreGeometry(settings_.WindowState("groupPanel"));
}

QAction* CMainFrame::Action(Command command) const {
    const auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::UpdateCommandStates() {
    actions_.at(kStartService)->setEnabled(!running_);
    actions_.at(kStopService)->setEnabled(running_);
}

void CMainFrame::LogLine(const QString& line) {
    log_->PostText(line);
}

void CMainFrame::StartService() {
    if (running_) return;
    if (!DSStartService(static_cast<std::uint16_t>(settings_.port))) {
        LogLine(QStringLiteral("启动接收线程失败,关闭数据中心服务\r\n"));
        return;
    }
    LogLine(QStringLiteral("服务启动,侦听端口为%1\r\n").arg(settings_.port));
    refreshTimer_.start(settings_.pollSeconds * 1000);
    running_ = true;
    drainTimer_.start(static_cast<int>(options_.drainInterval.count()));
    UpdateCommandStates();
    UpdateStatus();
}

void CMainFrame::StopService() {
    refreshTimer_.stop();
    // The drain timer goes on: messages received before the stop still reach the log.
    DSStopService();
    LogLine(QStringLiteral("停止数据中心服务成功!"));
    running_ = false;
    deviceView_->RemoveAllRows();
    UpdateCommandStates();
    UpdateStatus();
    if (options_.stopPause.count() > 0)
        QThread::msleep(static_cast<unsigned long>(options_.stopPause.count()));
}

void CMainFrame::OpenSettings() {
    if (running_) {
        options_.inform(QStringLiteral("请先停止服务后再设置!"), QStringLiteral("提示"));
        return;
    }
    CServerSetting dialog(settings_.port, settings_.pollSeconds, settings_.offlineSeconds, this);
    connect(&dialog, &CServerSetting::Refused, this,
            [this](const QString& message) { options_.inform(message, QStringLiteral("提示")); });
    if (dialog.exec() != QDialog::Accepted) return;
    settings_.port = dialog.Port();
    settings_.StorePort(dialog.Port());
    settings_.pollSeconds = dialog.PollSeconds();
    settings_.offlineSeconds = dialog.OfflineSeconds();
}

void CMainFrame::ClearLog() {
    leftView_->ClearLog();
}

void CMainFrame::RestartDevice() {
    if (!running_) {
        options_.inform(QStringLiteral("服务未启动!"), QStringLiteral("提示"));
        return;
    }
    if (!options_.confirm(QStringLiteral("确认对选择的设备进行重启吗?"), QStringLiteral("YES")))
        return;
    commandView_->Engine().SubmitPageCommand(*deviceView_, CommandKind::RestartDevice);
}

void CMainFrame::GroupRestart() {
    if (!running_) {
        options_.inform(QStringLiteral("服务未启动!"), QStringLiteral("提示"));
        return;
    }
    commandView_->Launcher().Launch(CommandKind::RestartDevice);
}

void CMainFrame::CancelJobs() {
    commandView_->Engine().CancelJobs();
    UpdateStatus();
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

void CMainFrame::BuildGroupPanel() {
    groupPanel_ = new CGroupJobPanel;
    groupDock_ = new QDockWidget(QStringLiteral("群发任务"), this);
    groupDock_->setObjectName(QStringLiteral("groupDock"));
    groupDock_->toggleViewAction()->setText(QStringLiteral("群发任务面板"));
    groupDock_->setWidget(groupPanel_);
    addDockWidget(Qt::RightDockWidgetArea, groupDock_);
    // Floating at first, so the fixed-size pages keep their room; the
    // operator may dock it.
    groupDock_->setFloating(true);
    groupDock_->resize(560, 640);
    groupDock_->hide();
    connect(groupPanel_, &CGroupJobPanel::LogLine, this, &CMainFrame::LogLine);
    GroupLauncher& launcher = commandView_->Launcher();
    launcher.SetConfirm(options_.confirm);
    launcher.SetStarted([this](const std::shared_ptr<GroupJob>& job) {
        groupPanel_->Show(job);
        if (!groupDock_->isVisible()) {
            if (groupDock_->isFloating())
                groupDock_->move(geometry().right() - groupDock_->width() - 20,
                                 geometry().top() + 80);
            groupDock_->show();
        }
    });
}

void CMainFrame::Refresh() {
    const int count = DSGetModemCount();
    const std::int64_t now = options_.now();
    std::vector<ModemInfo> online;
    online.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int position = 0; position < count; ++position) {
        ModemInfo info{};
        if (!DSGetModemByPosition(static_cast<std::uint32_t>(position), &info)) continue;
        // Signed: a clock set back counts as recent.
        if (now - static_cast<std::int64_t>(info.lastUpdateTime) >= settings_.offlineSeconds) {
            DSCloseConnectionByDeviceID(info.deviceId);
        } else {
            online.push_back(info);
        }
    }
    deviceView_->Refresh(online);
    CheckDescriptors();
}

void CMainFrame::CheckDescriptors() {
    // A few are kept for the log file, the settings and the window system.
    constexpr long kReserve = 16;
    const std::optional<DescriptorUse> use = options_.descriptorUse();
    if (!use) return;
    if (!descriptorsExhausted_ && use->open >= use->limit - kReserve) {
        descriptorsExhausted_ = true;
        LogLine(QStringLiteral("注意!可用的连接描述符已用尽(%1/%2),新的终端暂时无法接入,"
                               "连接释放后将自动恢复")
                    .arg(use->open)
                    .arg(use->limit));
    } else if (descriptorsExhausted_ && use->open < use->limit - 2 * kReserve) {
        descriptorsExhausted_ = false;
        LogLine(QStringLiteral("连接描述符已恢复(%1/%2),可以接入新的终端")
                    .arg(use->open)
                    .arg(use->limit));
    }
}

bool CMainFrame::DrainTick() {
    QElapsedTimer clock;
    clock.start();
    CommandEngine& engine = commandView_->Engine();
    _PACKET packet;
    int taken = 0;
    while (DSGetNextData(&packet, 0)) {
        engine.IntakePacket(packet.deviceId, packet.data, packet.length, *deviceView_);
        if (++taken % 32 == 0 && clock.elapsed() >= options_.drainBudget.count()) return true;
    }
    return false;
}

}  // namespace pelmora
