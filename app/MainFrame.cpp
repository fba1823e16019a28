#include "MainFrame.h"

#include <QAction>
#include <QDockWidget>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QThread>

#include <ctime>
#include <vector>

#include "CommandJob.h"
#include "CommandTexts.h"
#include "CountConfirmDialog.h"
#include "DeviceTable.h"
#include "DeviceView.h"
#include "DevicesWorkspace.h"
#include "Dovrik.h"
#include "FleetHealthActions.h"
#include "FollowUpActions.h"
#include "FollowUps.h"
#include "GatewayActions.h"
#include "GroupJobPanel.h"
#include "GroupLauncher.h"
#include "LeftView.h"
#include "LogRelay.h"
#include "LogView.h"
#include "MySplitterWnd.h"
#include "PagesWorkspace.h"
#include "PelmoraView.h"
#include "RegistryActions.h"
#include "RegistryKeeper.h"
#include "ServerSettingDialog.h"
#include "ServicePump.h"
#include "ServiceSettings.h"
#include "Store.h"
#include "SystemControlDlg.h"
#include "TabSheet.h"
#include "WarningRecorder.h"
#include "WarningWorkspace.h"
#include "WindowTitle.h"

// The icons live in the application library; a static library's resources
// must be registered by hand.
static void LoadResources() {
    Q_INIT_RESOURCE(pelmora);
}

namespace pelmora {

namespace {

constexpr std::chrono::milliseconds kStatusInterval{500};
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
    if (!options_.confirmCount) {
        options_.confirmCount = [this](const QString& text, const QString& caption,
                                       std::size_t count) {
            return CountConfirmDialog::Ask(this, text, caption, count);
        };
    }
    if (!options_.confirm) {
        options_.confirm = [this](const QString& text, const QString& caption) {
            QMessageBox box(QMessageBox::Information, caption, text,
                            QMessageBox::Yes | QMessageBox::No, this);
            box.setDefaultButton(QMessageBox::No);
            return box.exec() == QMessageBox::Yes;
        };
    }
    // The registry and the record: a database that cannot be opened leaves
    // them in memory, which the log says once the panes are there.
    store_ = options_.databasePath.empty() ? store::MemoryStore()
                                           : store::OpenStore(options_.databasePath);
    followUps_ = std::make_unique<dispatch::FollowUps>(*store_, options_.now);
    followUps_->Load();
    recorder_ = std::make_unique<dispatch::WarningRecorder>(*store_, dispatch::DesktopUser(),
                                                            options_.now, followUps_.get());
    keeper_ = std::make_unique<dispatch::RegistryKeeper>(*store_);
    recorder_->SetFirmwareListener([this](std::uint32_t id, std::string versions) {
        QMetaObject::invokeMethod(this, [this, id, versions] { keeper_->Firmware(id, versions); });
    });
    log_ = std::make_unique<LogRelay>([this](const QStringList& lines) {
        if (leftView_ != nullptr) leftView_->AppendLogLines(lines);
    });
    LoadResources();
    title_ = std::make_unique<WindowTitle>(*this, Title());
    health_ = std::make_unique<FleetHealthActions>(*keeper_, *recorder_, *store_, settings_,
                                                   *title_, FleetHealthActions::Options{});
    setWindowIcon(QIcon(":/icons/pelmora.svg"));
    BuildPanes();
    // The registry's terminals are listed too, online or not; a large
    // registry goes on filling the list once the window shows.
    deviceView_->SetRegistry(
        {keeper_.get(), options_.now, [this] { return settings_.offlineAlertMinutes; }});
    deviceView_->ShowRegistry();
    ReportStoreProblem();
    ServicePump::Options pump;
    pump.now = options_.now;
    pump.descriptorUse = options_.descriptorUse;
    pump.drainInterval = options_.drainInterval;
    pump.backlogInterval = options_.backlogInterval;
    pump.drainBudget = options_.drainBudget;
    pump.seen = [this](const std::vector<ModemInfo>& online, std::int64_t now) {
        followUpActions_->Registered(keeper_->Seen(online, now));
    };
    pump_ = std::make_unique<ServicePump>(std::move(pump), settings_, *deviceView_,
                                          commandView_->Engine(),
                                          [this](const QString& line) { LogLine(line); });
    BuildGroupPanel();
    BuildWorkspaces();
    BuildMenu();
    BuildToolBar();
    BuildStatusBar();
    LogView::MakeDock(*this, leftView_->LogTable());
    UpdateCommandStates();

    connect(&statusTimer_, &QTimer::timeout, this, &CMainFrame::UpdateStatus);
    statusTimer_.start(static_cast<int>(kStatusInterval.count()));
    resize(1440, 900);
    RestoreWindowState();
    commandView_->InitialUpdate();
    UpdateStatus();
    if (!settings_.loadNotice.isEmpty()) LogLine(settings_.loadNotice);
}

CMainFrame::~CMainFrame() {
    SaveWindowState();
    // The pump goes with the command view's engine it feeds, and so does
    // the gateway.
    gateway_.reset();
    pump_.reset();
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
    deviceView_ = new CDeviceView;
    LinkApi link = DovrikLink();
    // The commit is sent from the window thread: it goes through the
    // engine's sending threads, so a terminal that stopped reading cannot
    // stop the window.
    LinkApi commitLink{[this](std::uint32_t id, std::uint16_t length, const std::uint8_t* data) {
                           return commandView_->Engine().SendLater(
                                      id, std::vector<std::uint8_t>(data, data + length),
                                      text::kCommitName)
                                      ? 1
                                      : 0;
                       },
                       {}};
    leftView_ = new CLeftView(*deviceView_, std::move(commitLink));
    leftView_->SetLogSink([this](const QString& line) { log_->PostText(line); });
    commandView_ = new CPelmoraView(*log_, link, *deviceView_, options_.engineTiming);
    commandView_->Engine().SetRecorder(recorder_.get());
    commandView_->Engine().SetStatusListener(
        [this](std::uint32_t id, bool battery) { keeper_->Power(id, battery, options_.now()); });
    commandView_->SetInform(options_.inform);
    pages_ = new PagesWorkspace(leftView_, commandView_);
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

void CMainFrame::SaveWindowState() {
    settings_.StoreWindowState("geometry", saveGeometry());
    settings_.StoreWindowState("state", saveState());
    settings_.StoreWindowState("outerSplitter", pages_->Outer()->saveState());
    settings_.StoreWindowState("innerSplitter", pages_->Inner()->saveState());
    settings_.StoreWindowState("warningSplitter", warning_->Splitter()->saveState());
    settings_.StoreWindowState("devicesSplitter", devices_->Splitter()->saveState());
    settings_.StoreWindowState("deviceColumns", deviceView_->List()->header()->saveState());
    settings_.StoreWindowState("groupColumns",
                               groupPanel_->Table()->horizontalHeader()->saveState());
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
    pages_->Outer()->restoreState(settings_.WindowState("outerSplitter"));
    pages_->Inner()->restoreState(settings_.WindowState("innerSplitter"));
    warning_->Splitter()->restoreState(settings_.WindowState("warningSplitter"));
    devices_->Splitter()->restoreState(settings_.WindowState("devicesSplitter"));
    deviceView_->List()->header()->restoreState(settings_.WindowState("deviceColumns"));
    groupPanel_->Table()->horizontalHeader()->restoreState(settings_.WindowState("groupColumns"));
    groupDock_->restoreGeometry(settings_.WindowState("groupPanel"));
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
    pump_->Start();
    if (gateway_) gateway_->Start();
    running_ = true;
    UpdateCommandStates();
    UpdateStatus();
}

void CMainFrame::StopService() {
    pump_->StopRefresh();
    if (gateway_) gateway_->Stop();
    DSStopService();
    // A job in progress ends now: nothing more can be written or answered.
    commandView_->Engine().ServiceStopped();
    keeper_->AllGone(options_.now());
    LogLine(QStringLiteral("停止数据中心服务成功!"));
    running_ = false;
    // The run's rows go; the registered terminals stay, offline.
    deviceView_->RemoveAllRows();
    deviceView_->ShowRegistry();
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
    // Only the first ticked row's terminal is restarted: the question names
    // it. With nothing ticked the engine says so.
    int first = -1;
    int ticked = 0;
    for (int row = 0; row < deviceView_->RowCount(); ++row) {
        if (!deviceView_->IsChecked(row)) continue;
        if (first < 0) first = row;
        ++ticked;
    }
    if (first >= 0) {
        QString question = QStringLiteral("确认对选择的设备进行重启吗?\n将重启设备%1")
                               .arg(QString::fromStdString(deviceView_->IdText(first)));
        if (ticked > 1) question += QStringLiteral("(已勾选%1台,仅重启第一台)").arg(ticked);
        if (!options_.confirm(question, QStringLiteral("YES"))) return;
    }
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
    launcher.SetConfirmCount(options_.confirmCount, [this] {
        return static_cast<std::size_t>(settings_.massConfirmAbove);
    });
    launcher.SetRowShown([this](int row) { return deviceView_->IsShown(row); });
    launcher.SetStarted([this](const std::shared_ptr<GroupJob>& job) {
        // The warning workspace shows its own job in place.
        if (warning_ != nullptr && warning_->Claim(job)) return;
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
    pump_->Refresh();
}

bool CMainFrame::DrainTick() {
    return pump_->DrainTick();
}

QTimer& CMainFrame::RefreshTimer() {
    return pump_->RefreshTimer();
}

QTimer& CMainFrame::DrainTimer() {
    return pump_->DrainTimer();
}

}  // namespace pelmora
