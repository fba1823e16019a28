// pelmora-guide-shots: the pictures of the operator's guide (docs/guide),
// taken from the real main window while simulated terminals answer it over
// loopback, all in this one process. Each step does what the operator does:
// ticks rows, presses the window's own buttons and menu commands, answers
// the confirmations; then the window is saved as a PNG under a fixed name.
//
//   pelmora-guide-shots OUTDIR                    every picture of the guide
//   pelmora-guide-shots --window-only NAME OUTDIR  one full-window picture
//
// --size WxH sets the window's logical size (default 1366x768). A step that
// does not finish within its limit ends the program with its name and exit
// status 1.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <httplib.h>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "AddPhoneDlg.h"
#include "BaseConfig.h"
#include "CmdDataObj.h"
#include "CountConfirmDialog.h"
#include "DeviceConfigDlg.h"
#include "DeviceView.h"
#include "Dovrik.h"
#include "FleetHealthActions.h"
#include "GatewayActions.h"
#include "GprsDataDlg.h"
#include "GroupJobPanel.h"
#include "HistoryView.h"
#include "LeftView.h"
#include "ListCtrlEx.h"
#include "LogRelay.h"
#include "MainFrame.h"
#include "Mp3Control.h"
#include "NumberListPage.h"
#include "PelmoraView.h"
#include "QtChinese.h"
#include "RegionTreeModel.h"
#include "RegistryActions.h"
#include "ReportCtrl.h"
#include "ReviewBar.h"
#include "ServiceSettings.h"
#include "SystemControlDlg.h"
#include "TabSheet.h"
#include "TerminalSimulator.h"
#include "UpgradeControl.h"
#include "WarningDesk.h"
#include "WarningWorkspace.h"
#include "Workspaces.h"

namespace {

using namespace std::chrono_literals;
using pelmora::CMainFrame;
using pelmora::CPelmoraView;

struct StepFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The terminals the operator works with by name; a fleet follows them.
constexpr std::uint32_t kFirstNamed = 0x20260001;
constexpr int kNamed = 5;
constexpr std::uint32_t kFirstFleet = 0x20261001;
constexpr std::size_t kFleet = 30;
constexpr auto kStepLimit = 60s;

// The usual service port when it is free, so the pictures show it.
std::uint16_t ServicePort() {
    asio::io_context io;
    asio::error_code error;
    asio::ip::tcp::acceptor probe(io);
    const asio::ip::tcp::endpoint usual(asio::ip::address_v4::loopback(), pelmora::kDefaultPort);
    probe.open(usual.protocol(), error);
    if (!error) probe.bind(usual, error);
    if (!error) return pelmora::kDefaultPort;
    asio::ip::tcp::acceptor any(io, {asio::ip::address_v4::loopback(), 0});
    return any.local_endpoint().port();
}

template <typename T>
T* Child(QObject* root, const char* name) {
    T* child = root->findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) throw StepFailed(std::string("the window has no control ") + name);
    return child;
}

class GuideShots {
  public:
    GuideShots(QString outDir, QSize windowSize)
        : outDir_(std::move(outDir)), windowSize_(windowSize) {
        if (!work_.isValid()) throw StepFailed("no temporary folder");
        // The log files, the settings and the exported CSV stay in the
        // temporary folder; the log shows the CSV's name only.
        qputenv("PELMORA_LOG_DIR", work_.filePath("logs").toUtf8());
        QDir::setCurrent(work_.path());
        settings_ = std::make_unique<pelmora::ServiceSettings>(work_.filePath("Pelmora.conf"));
        settings_->Load();
        settings_->port = ServicePort();
        CMainFrame::Options options;
        options.settings = settings_.get();
        // Replies are looked for every 100 ms; the limits stay the service's.
        options.engineTiming.textPollInterval = 100ms;
        options.engineTiming.textPolls = 600;
        // Nothing in these steps should make the window tell the operator
        // something; what it says fails the step.
        options.inform = [this](const QString& text, const QString&) { told_ = text; };
        options.confirm = [this](const QString& text, const QString& caption) {
            return Confirm(text, caption);
        };
        options.confirmCount = [this](const QString& text, const QString& caption,
                                      std::size_t count) {
            return ConfirmCount(text, caption, count);
        };
        // The HTTP interface on a free port, for the review's picture.
        options.gateway = true;
        options.gatewayPort = 0;
        frame_ = std::make_unique<CMainFrame>(options);
        frame_->show();
        frame_->resize(windowSize_);
        Settle(300ms);
    }
    void ThrowIfFailed() const {
        if (!failure_.empty()) throw StepFailed(failure_);
    }
    ~GuideShots() {
        sim_.reset();
        frame_.reset();
        DSStopService();
    }

    // 1: the service settings, then the service started as F5 does.
    void StartService(bool pictures) {
        if (pictures) ShotOfModalDialog("01-service-settings.png", [&] { frame_->OpenSettings(); });
        // Silent terminals stay listed while the pictures are taken.
        settings_->offlineSeconds = 600;
        frame_->Action(CMainFrame::kStartService)->trigger();
        if (!frame_->Running())
            throw StepFailed("the service did not start on port " +
                             std::to_string(settings_->port));
    }

    // Five named terminals (one on battery, one that leaves) and a fleet of
    // which some refuse and some stay silent.
    void ConnectTerminals() {
        dovrik::sim::TerminalSimulator::Options options;
        options.port = static_cast<std::uint16_t>(settings_->port);
        sim_ = std::make_unique<dovrik::sim::TerminalSimulator>(options);
        // One at a time, so that the named terminals head the list in order.
        for (int i = 0; i < kNamed; ++i) {
            dovrik::sim::TerminalSpec terminal;
            terminal.deviceId = kFirstNamed + static_cast<std::uint32_t>(i);
            terminal.simNumber = "1390755000" + std::to_string(i + 1);
            terminal.address = {10, 64, 12, static_cast<std::uint8_t>(21 + i)};
            // Its report names it as its row does.
            pelmora::AlarmSettings settings = dovrik::sim::DefaultTerminalSettings();
            settings.dtu.modemId =
                QStringLiteral("%1").arg(terminal.deviceId, 8, 16, QChar(u'0')).toStdString();
            settings.dtu.modemPhoneNumber = terminal.simNumber;
            sim_->MakeStateful(sim_->Add(terminal), {}, settings);
            Wait("a terminal registers", [&] { return DSGetModemCount() == i + 1; });
            frame_->Refresh();
        }
        dovrik::sim::FleetPlan plan;
        plan.count = kFleet;
        plan.firstId = kFirstFleet;
        plan.answerDelay = 50ms;
        plan.refusingShare = 0.1;
        plan.silentShare = 0.1;
        fleet_ = sim_->AddFleet(plan);
        const int all = kNamed + static_cast<int>(kFleet);
        Wait("all terminals register", [&] { return DSGetModemCount() == all; });
        frame_->Refresh();
        // The last named terminal leaves: its row stays, offline.
        sim_->Close(kNamed - 1);
        Wait("a terminal leaves", [&] { return DSGetModemCount() == all - 1; });
        frame_->Refresh();
        sim_->SendStatus(0, dovrik::sim::PowerSource::Mains);
        sim_->SendStatus(2, dovrik::sim::PowerSource::Battery);
        Wait("the status messages are logged",
             [&] { return LogText().contains(QStringLiteral("[状态 备电]")); });
        frame_->UpdateStatus();
    }

    // 2: the filter, the tick buttons, the counts and a row's menu.
    void DeviceList() {
        WindowPicture("01-service-running.png");
        frame_->Action(CMainFrame::kFindDevice)->trigger();
        Devices().FilterBox()->setText(QStringLiteral("2026000"));
        Child<QPushButton>(&Devices(), "checkOnlineShown")->click();
        Settle(200ms);
        Save("02-device-list.png",
             Devices().grab(QRect(0, 0, pelmora::CDeviceView::kListWidth, Devices().height())));
        QMenu* menu = Devices().RowMenu(Row(0));
        menu->popup(Devices().List()->viewport()->mapToGlobal(QPoint(120, 12)));
        SaveWithPopup("02-row-menu.png", menu, QRect(QPoint(0, 0), QSize(900, 320)));
        menu->close();
    }

    // 3: read back the ticked terminal's settings and edit one.
    void ReadBack() {
        TickOnly(0);
        frame_->Spaces().Show(pelmora::Workspaces::kPages);
        View().ShowPage(CPelmoraView::Page::Configuration);
        Child<QPushButton>(&Config().BaseConfig(), "button1005")->click();
        WaitIdle("the read-back");
        Wait("the pages show the read-back",
             [&] { return View().Engine().PagesHold(kFirstNamed); });
        Settle(200ms);
    }
    void WindowPicture(const QString& name) {
        frame_->UpdateStatus();
        Settle(200ms);
        Save(name, frame_->grab());
    }
    void EditAndSave() {
        pelmora::CListCtrlEx* grid = Config().BaseConfig().Grid();
        const int row = GridRow(grid, QStringLiteral("短信预警播报次数:"));
        grid->DisplayEditor(row, 1);
        Config().BaseConfig().DefaultEditor()->setText(QStringLiteral("5"));
        Settle(100ms);
        WindowPicture("03-read-back.png");
        grid->HideEditor(true);
        Child<QPushButton>(&Config().BaseConfig(), "button1004")->click();
        WaitIdle("the save");
        if (sim_->Settings(0).smsPlayNumber != 5)
            throw StepFailed("the save did not reach the terminal");
        SaveMenu("03-view-menu.png", QStringLiteral("视图(&V)"));
    }

    // 4: a number added to the admin list.
    void NumberLists() {
        Config().Tabs().ShowPage(1);
        pelmora::CNumberListPage* admin = Config().NumberPage(1);
        admin->SetConfirm([](const QString&, const QString&) { return true; });
        admin->SetNumberEntry([this](pelmora::CAddPhoneDlg& dialog) {
            dialog.Edit()->setText(QStringLiteral("13905550199"));
            dialog.show();
            Settle(200ms);
            Save("04-add-number.png", dialog.grab());
            return dialog.TryAccept();
        });
        const int before = admin->List()->RowCount();
        admin->OnAddNumber();
        WaitIdle("the number add");
        Wait("the number is listed", [&] { return admin->List()->RowCount() == before + 1; });
        // The whole page: its buttons stand at the right edge, which a
        // narrow window shows only when scrolled to.
        Settle(200ms);
        Save("04-number-lists.png",
             View().PageWidget(CPelmoraView::Page::Configuration)->grab(QRect(0, 0, 1200, 240)));
    }

    // 5: MP3 play and stop, the versions, the upgrade parameters, the menu
    // with the restart.
    void RemoteControl() {
        Child<QPushButton>(frame_->LeftView(), "controlButton")->click();
        Control().Tabs().ShowPage(0);
        pelmora::CMp3Control& mp3 = Control().Mp3Page();
        mp3.TitleList()->setCurrentIndex(std::min(2, mp3.TitleList()->count() - 1));
        mp3.PlayButton()->click();
        WaitIdle("MP3 play");
        mp3.QueryButton()->click();
        WaitIdle("the version query");
        Wait("the versions are shown", [&] { return !mp3.SoftwareVersionBox()->text().isEmpty(); });
        WindowPicture("05-mp3-versions.png");

        Control().Tabs().ShowPage(1);
        pelmora::CUpgradeControl& upgrade = Control().UpgradePage();
        upgrade.ServerAddress()->setText(QStringLiteral("218.5.77.20"));
        upgrade.Version()->setText(QStringLiteral("V1.2.1"));
        for (QComboBox* list : upgrade.findChildren<QComboBox*>())
            if (list->currentIndex() < 0) list->setCurrentIndex(0);
        upgrade.SetPasswordEntry(
            [] { return std::optional<QString>(QStringLiteral("tarnpiked")); });
        upgrade.SetButton()->click();
        WaitIdle("the upgrade parameters");
        WindowPicture("05-upgrade.png");
        SaveMenu("05-device-menu.png", QStringLiteral("设备管理(&E)"));
    }

    // 6: a text the ticked terminal broadcasts.
    void PlayContent() {
        Child<QPushButton>(frame_->LeftView(), "dataSendButton")->click();
        DataSend().Content()->setPlainText(QStringLiteral("山洪预警：请沿河群众立即向高处转移。"));
        DataSend().SendButton()->click();
        WaitIdle("the play content");
        // The whole page: its buttons stand at the bottom right, which a
        // small window shows only when scrolled to.
        Settle(200ms);
        Save("06-play-content.png", View().PageWidget(CPelmoraView::Page::DataSend)->grab());
    }

    // 8: a version query the terminal never answers, shown while it runs,
    // then cancelled with Ctrl+. (the menu command).
    void RunningJobAndCancel() {
        dovrik::sim::TerminalScript mute;
        mute.frameResults[pelmora::kVersionRequest] = std::nullopt;
        sim_->SetScript(1, mute);
        TickOnly(1);
        Child<QPushButton>(frame_->LeftView(), "controlButton")->click();
        Control().Tabs().ShowPage(0);
        Control().Mp3Page().SoftwareVersionBox()->clear();
        Control().Mp3Page().BootVersionBox()->clear();
        Control().Mp3Page().QueryButton()->click();
        Wait("the query runs", [&] { return View().Engine().Running().has_value(); });
        Settle(2200ms);
        WindowPicture("08-job-strip.png");
        frame_->Action(CMainFrame::kCancelJobs)->trigger();
        WaitIdle("the cancel");
        sim_->SetScript(1, {});
    }

    // 7: a warning to every listed terminal, the panel live and finished.
    void GroupWarning() {
        Devices().FilterBox()->clear();
        Child<QPushButton>(&Devices(), "checkShown")->click();
        frame_->findChild<QAction*>(QStringLiteral("viewPage2"))->trigger();
        DataSend().Content()->setPlainText(
            QStringLiteral("台风红色预警：今晚有强台风登陆，请立即转移到安全地带。"));
        confirmShot_ = "07-group-confirm.png";
        DataSend().GroupSendButton()->click();
        if (!confirmShot_.isEmpty()) throw StepFailed("the group send asked nothing");
        pelmora::CGroupJobPanel& panel = *frame_->GroupPanel();
        // Answering and refusing terminals are done; the silent ones wait.
        const QString waiting = QStringLiteral("进行中 %1").arg(fleet_.silent.size());
        Wait("the answers of the group", [&] {
            panel.Update();
            return panel.CountsText().contains(waiting);
        });
        Settle(300ms);
        Save("07-group-panel.png", frame_->GroupDock()->grab());
        WindowPicture("07-group-window.png");
        panel.CancelButton()->click();
        Wait("the group job ends", [&] {
            panel.Update();
            return panel.CountsText().contains(QStringLiteral("已完成"));
        });
        WaitIdle("the group job");
        panel.SetAskFileName([] { return QStringLiteral("group-outcomes.csv"); });
        panel.ExportButton()->click();
        Settle(300ms);
        Save("07-group-done.png", frame_->GroupDock()->grab());
    }

    // 10: the registry imported, the device list with it, the record and
    // the follow-ups owed to the terminal that left.
    void RegistryAndRecord() {
        const QString csv = work_.filePath("terminals.csv");
        QFile file(csv);
        if (!file.open(QIODevice::WriteOnly)) throw StepFailed("cannot write " + csv.toStdString());
        file.write(QStringLiteral("\uFEFF设备ID,名称,区划代码,区划名称,纬度,经度,标签,备注\r\n"
                                  "20260001,东门广场,520102001,南明区花果园街道,26.57,106.71,"
                                  "城区;广场,\r\n"
                                  "20260002,河滨小学,520102002,南明区河滨街道,26.56,106.72,"
                                  "学校,\r\n"
                                  "20260003,水库大坝,520113101,白云区沙文镇,26.70,106.66,"
                                  "水库;重点,\r\n"
                                  "20260005,新村村委,520113102,白云区牛场乡,26.72,106.60,"
                                  "农村,新装\r\n"
                                  "20269001,渡口,520113103,白云区都拉乡,26.74,106.62,"
                                  "渡口,待安装\r\n")
                       .toUtf8());
        file.close();
        frame_->Registry().SetAskFiles([csv] { return csv; }, [] { return QString(); });
        frame_->Registry().Import();
        told_.clear();
        frame_->Refresh();
        // The terminals of one district: online, offline and never seen.
        Devices().FilterBox()->setText(QStringLiteral("白云区"));
        Settle(300ms);
        Save("10-device-registry.png", Devices().grab());
        Devices().FilterBox()->clear();
        pelmora::HistoryView& history = frame_->History();
        frame_->Spaces().Show(pelmora::Workspaces::kRecords);
        Settle(300ms);
        Save("10-history.png", history.grab());
        history.ListTable()->selectRow(0);
        history.OpenSelected();
        Settle(300ms);
        Save("10-record.png", history.grab());
        ShotOfModalDialog("10-follow-ups.png",
                          [&] { MenuAction(QStringLiteral("待补发预警..."))->trigger(); });
    }
    // 11: the warning workspace: a template, targets by tag, saved as a
    // target group, the send and its outcomes in place.
    void WarningConsole() {
        Devices().UncheckAll();
        pelmora::WarningWorkspace& space = frame_->Warning();
        frame_->Spaces().Show(pelmora::Workspaces::kWarning);
        space.SetAskName(
            [](const QString&, const QString&) { return QStringLiteral("水利/山洪橙色预警"); });
        space.Content()->setPlainText(QStringLiteral(
            "山洪橙色预警：上游水库正在泄洪，请沿河群众立即转移到高处，不要在河边停留。"));
        space.SaveTemplate();
        space.SetAskName(
            [](const QString&, const QString&) { return QStringLiteral("白云区和学校"); });
        // A district of the registry, and the schools anywhere.
        frame_->Health().Flush();
        auto* regions = qobject_cast<pelmora::RegionTreeModel*>(space.RegionTree()->model());
        if (regions == nullptr) throw StepFailed("the warning form has no region tree");
        regions->SetChecked("520113", true);
        space.RegionTree()->expandAll();
        space.TagsBox()->setText(QStringLiteral("学校"));
        space.SaveGroup();
        space.ValidityBox()->setValue(60);
        WindowPicture("11-warning-compose.png");
        space.PublishButton()->click();
        if (!space.ShowingOutcomes())
            throw StepFailed("the warning was not sent: " + told_.toStdString());
        Wait("the warning's outcomes", [&] {
            space.Outcomes()->Update();
            return space.findChild<QPushButton*>("openRecord")->isEnabled();
        });
        WaitIdle("the warning");
        WindowPicture("11-warning-outcomes.png");
        space.BackToCompose();
    }

    // 14: an authority's alert for the district posted to the interface,
    // taken into the form for review; then refused, so the pictures after it
    // show the form alone.
    void AlertReview() {
        pelmora::WarningWorkspace& space = frame_->Warning();
        frame_->Spaces().Show(pelmora::Workspaces::kWarning);
        httplib::Client client("127.0.0.1", frame_->Gateway()->Port());
        client.set_bearer_token_auth(settings_->gateway.token.toStdString());
        QFile example(QStringLiteral(PELMORA_SOURCE_DIR "/examples/alert.xml"));
        if (!example.open(QIODevice::ReadOnly)) throw StepFailed("examples/alert.xml is missing");
        std::string xml = example.readAll().toStdString();
        // The example's county is the guide's district; Severe waits for review.
        const auto swap = [&](const std::string& from, const std::string& to) {
            if (const auto at = xml.find(from); at != std::string::npos)
                xml.replace(at, from.size(), to);
        };
        swap("<value>420102</value>", "<value>520113</value>");
        swap("<severity>Extreme</severity>", "<severity>Severe</severity>");
        swap("2099-12-31T20:00:00+08:00",
             QDateTime::currentDateTime()
                 .addSecs(6 * 3600)
                 .toOffsetFromUtc(8 * 3600)
                 .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss+08:00"))
                 .toStdString());
        const auto answer = client.Post("/api/v1/alerts", xml, "application/cap+xml");
        if (!answer || answer->status != 202)
            throw StepFailed("the alert was not taken: " + (answer ? answer->body : "no answer"));
        Wait("the alert in review", [&] { return space.Reviews()->List()->count() == 1; });
        const std::int64_t id = space.Reviews()->List()->currentData().toLongLong();
        if (!space.TakeReview(id)) throw StepFailed("the alert could not be taken into the form");
        Settle(300ms);
        WindowPicture("14-alert-review.png");
        frame_->Gateway()->Desk().Refuse(id);
        space.LeaveReview();
        space.Reviews()->Refresh();
    }

    // The window once in each workspace, as `base`-<workspace>.png.
    void WorkspacePictures(const QString& base) {
        const std::pair<pelmora::Workspaces::Kind, const char*> spaces[] = {
            {pelmora::Workspaces::kWarning, "warning"},
            {pelmora::Workspaces::kDevices, "devices"},
            {pelmora::Workspaces::kPages, "pages"},
            {pelmora::Workspaces::kRecords, "records"},
        };
        for (const auto& [kind, name] : spaces) {
            frame_->Spaces().Show(kind);
            WindowPicture(QStringLiteral("%1-%2.png").arg(base, QString::fromLatin1(name)));
        }
    }

    QAction* MenuAction(const QString& text) {
        for (QAction* menu : frame_->menuBar()->actions())
            if (menu->menu() != nullptr)
                for (QAction* action : menu->menu()->actions())
                    if (action->text() == text) return action;
        throw StepFailed("no menu command " + text.toStdString());
    }

    // 9: the log pane with the terminals' status messages.
    void LogPane() {
        sim_->SendStatus(0, dovrik::sim::PowerSource::Mains);
        sim_->SendStatus(2, dovrik::sim::PowerSource::Battery);
        const int lines = LogText().count(QStringLiteral("[状态"));
        Wait("the status messages are logged",
             [&] { return LogText().count(QStringLiteral("[状态")) >= lines + 2; });
        // Taller than at first, as an operator drags it to read.
        auto* dock = frame_->findChild<QDockWidget*>(QStringLiteral("logDock"));
        frame_->resizeDocks({dock}, {300}, Qt::Vertical);
        Settle(200ms);
        Save("09-log.png", dock->grab());
        frame_->resizeDocks({dock}, {120}, Qt::Vertical);
    }

  private:
    pelmora::CDeviceView& Devices() { return *frame_->DeviceView(); }
    CPelmoraView& View() { return *frame_->CommandView(); }
    pelmora::CDeviceConfigDlg& Config() { return View().ConfigPages(); }
    pelmora::CSystemControlDlg& Control() { return View().ControlPages(); }
    pelmora::CGPRSDataDlg& DataSend() { return View().DataSendPage(); }

    // The row of the named terminal `index`.
    int Row(int index) {
        const int row = Devices().FindRow(QStringLiteral("%1").arg(
            kFirstNamed + static_cast<std::uint32_t>(index), 8, 16, QChar(u'0')));
        if (row < 0) throw StepFailed("a named terminal is not listed");
        return row;
    }
    void TickOnly(int index) {
        Devices().UncheckAll();
        Devices().List()->SetChecked(Row(index), true);
    }

    QString LogText() {
        frame_->Log().Flush();
        return frame_->LeftView()->LogText();
    }

    static int GridRow(pelmora::CListCtrlEx* grid, const QString& label) {
        for (int row = 0; row < grid->RowCount(); ++row)
            if (grid->ItemText(row, 0) == label) return row;
        throw StepFailed("the settings grid has no row " + label.toStdString());
    }

    // Runs the window's events until the condition holds.
    void Wait(const char* what, const std::function<bool()>& condition,
              std::chrono::milliseconds limit = kStepLimit) {
        ThrowIfFailed();
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                throw StepFailed(std::string(what) + ": not done within " +
                                 std::to_string(limit.count() / 1000) + " s");
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(1ms);
        }
    }
    void WaitIdle(const char* what) {
        Wait(what, [&] { return View().Engine().Idle(); });
        frame_->Log().Flush();
        Settle(100ms);
        if (!told_.isEmpty())
            throw StepFailed(std::string(what) + ": the window said \"" + told_.toStdString() +
                             "\"");
    }
    // Runs the window's events for a while: timers, layout, drawing.
    static void Settle(std::chrono::milliseconds time) {
        const auto end = std::chrono::steady_clock::now() + time;
        while (std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(1ms);
        }
    }

    // Also called from the window's own handlers, through which nothing may
    // be thrown: a failure is kept and thrown by the next wait or check.
    void Save(const QString& name, const QPixmap& picture) {
        const QString path = QDir(outDir_).filePath(name);
        if (picture.isNull() || !picture.save(path, "PNG")) {
            if (failure_.empty()) failure_ = "could not save " + path.toStdString();
            return;
        }
        std::printf("%s\n", qPrintable(path));
    }
    // A part of the window with a popup drawn where it stands.
    void SaveWithPopup(const QString& name, QWidget* popup, QRect region) {
        Settle(300ms);
        QPixmap picture = frame_->grab(region);
        QPainter painter(&picture);
        const QPoint at = popup->mapToGlobal(QPoint(0, 0)) - frame_->mapToGlobal(region.topLeft());
        painter.drawPixmap(at, popup->grab());
        painter.end();
        Save(name, picture);
    }
    // A menu of the menu bar, open.
    void SaveMenu(const QString& name, const QString& title) {
        for (QAction* action : frame_->menuBar()->actions()) {
            if (action->text() != title || action->menu() == nullptr) continue;
            QMenu* menu = action->menu();
            const QRect item = frame_->menuBar()->actionGeometry(action);
            menu->popup(frame_->menuBar()->mapToGlobal(item.bottomLeft()));
            SaveWithPopup(name, menu, QRect(0, 0, 560, 300));
            menu->close();
            return;
        }
        throw StepFailed("the menu bar has no menu " + title.toStdString());
    }
    // The dialog `open` shows modally, saved and closed.
    void ShotOfModalDialog(const QString& name, const std::function<void()>& open) {
        bool saved = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || saved) return;
            saved = true;
            Settle(200ms);
            Save(name, dialog->grab());
            dialog->reject();
        });
        poll.start(50);
        open();
        if (!saved) throw StepFailed("no dialog for " + name.toStdString());
        ThrowIfFailed();
    }
    // The confirmation as the window asks it, saved when a picture is due.
    bool Confirm(const QString& text, const QString& caption) {
        if (confirmShot_.isEmpty()) return true;
        QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Yes | QMessageBox::No,
                        frame_.get());
        box.setDefaultButton(QMessageBox::No);
        box.show();
        Settle(200ms);
        Save(confirmShot_, box.grab());
        confirmShot_.clear();
        return true;
    }

    // The question for many terminals, the number typed as the operator
    // does, saved when a picture is due.
    bool ConfirmCount(const QString& text, const QString& caption, std::size_t count) {
        pelmora::CountConfirmDialog dialog(text, caption, count, frame_.get());
        dialog.show();
        dialog.CountBox()->setText(QString::number(count));
        Settle(200ms);
        if (!confirmShot_.isEmpty()) Save(confirmShot_, dialog.grab());
        confirmShot_.clear();
        return dialog.ConfirmButton()->isEnabled();
    }

    QTemporaryDir work_;
    QString outDir_;
    QSize windowSize_;
    std::unique_ptr<pelmora::ServiceSettings> settings_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<dovrik::sim::TerminalSimulator> sim_;
    dovrik::sim::Fleet fleet_;
    QString confirmShot_;  // the next confirmation's picture, if any
    QString told_;         // the window's last message to the operator
    std::string failure_;  // the first picture that could not be saved
};

std::optional<QSize> ParseSize(const QString& text) {
    const QStringList parts = text.split(u'x');
    bool wide = false;
    bool high = false;
    if (parts.size() != 2) return std::nullopt;
    const QSize size(parts[0].toInt(&wide), parts[1].toInt(&high));
    if (!wide || !high || size.width() < 640 || size.height() < 480) return std::nullopt;
    return size;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pelmora");
    pelmora::InstallQtChinese(app);
    QCommandLineParser parser;
    parser.setApplicationDescription("Takes the pictures of the operator's guide.");
    parser.addHelpOption();
    const QCommandLineOption windowOnly(
        "window-only", "Save only the full window, in each workspace, as <name>-<workspace>.png.",
        "name");
    const QCommandLineOption size("size", "The window's logical size.", "WxH", "1366x768");
    parser.addOptions({windowOnly, size});
    parser.addPositionalArgument("outdir", "Folder of the pictures.");
    parser.process(app);
    const QStringList folders = parser.positionalArguments();
    const std::optional<QSize> windowSize = ParseSize(parser.value(size));
    if (folders.size() != 1 || !windowSize) {
        std::fprintf(stderr,
                     "guide-shots: give one output folder and --size as WxH (at least 640x480)\n");
        return 2;
    }
    // Absolute: the program works in a temporary folder.
    const QString outDir = QDir(folders[0]).absolutePath();
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "guide-shots: cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    try {
        GuideShots shots(outDir, *windowSize);
        const bool all = !parser.isSet(windowOnly);
        shots.StartService(all);
        shots.ConnectTerminals();
        if (all) shots.DeviceList();
        shots.ReadBack();
        QString base =
            all ? QStringLiteral("window-%1x%2").arg(windowSize->width()).arg(windowSize->height())
                : parser.value(windowOnly);
        if (base.endsWith(QStringLiteral(".png"))) base.chop(4);
        shots.WorkspacePictures(base);
        if (!all) {
            shots.ThrowIfFailed();
            return 0;
        }
        shots.EditAndSave();
        shots.NumberLists();
        shots.RemoteControl();
        shots.PlayContent();
        shots.RunningJobAndCancel();
        shots.GroupWarning();
        shots.LogPane();
        shots.RegistryAndRecord();
        shots.WarningConsole();
        shots.AlertReview();
        shots.ThrowIfFailed();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "guide-shots: %s\n", error.what());
        return 1;
    }
    return 0;
}
