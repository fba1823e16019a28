// The main window and its service: command states, the settings and their
// store, and the refresh and drain against the real library with simulated
// terminals (the clock of the silence test is injected).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QTranslator>

#include <atomic>
#include <thread>

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include "BaseConfig.h"
#include "CmdDataObj.h"
#include "CommandTexts.h"
#include "DeviceConfigDlg.h"
#include "DeviceView.h"
#include "Dovrik.h"
#include "LeftView.h"
#include "LogRelay.h"
#include "LoopbackPort.h"
#include "MainFrame.h"
#include "PelmoraView.h"
#include "QtChinese.h"
#include "RegistryActions.h"
#include "DeviceTable.h"
#include "ServerSettingDialog.h"
#include "ServiceSettings.h"
#include "Store.h"
#include "TerminalPage.h"
#include "TerminalSimulator.h"

namespace pelmora {
namespace {

using namespace std::chrono_literals;
using dovrik::sim::TerminalSimulator;

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class MainFrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        qputenv("PELMORA_LOG_DIR", dir_.filePath("logs").toUtf8());
        settings_ = std::make_unique<ServiceSettings>(dir_.filePath("settings.ini"));
        settings_->Load();
        settings_->port = testsupport::FreePort();
        CMainFrame::Options options;
        options.settings = settings_.get();
        options.now = [this] { return now_.load(); };
        options.stopPause = 0ms;
        options.inform = [this](const QString& text, const QString&) { informed_.push_back(text); };
        options.confirm = [this](const QString& text, const QString&) {
            asked_ << text;
            return answer_;
        };
        options_ = options;
        frame_ = std::make_unique<CMainFrame>(options);
    }
    CMainFrame::Options options_;
    void TearDown() override {
        sim_.reset();
        frame_.reset();
        DSStopService();
    }

    QString Log() {
        frame_->Log().Flush();
        return frame_->LeftView()->LogText();
    }
    void StartWithTerminals(int count) {
        frame_->StartService();
        ASSERT_TRUE(frame_->Running());
        TerminalSimulator::Options options;
        options.port = static_cast<std::uint16_t>(settings_->port);
        sim_ = std::make_unique<TerminalSimulator>(options);
        for (int i = 0; i < count; ++i) {
            dovrik::sim::TerminalSpec setup;
            setup.deviceId = 0x100 + static_cast<std::uint32_t>(i);
            sim_->Add(setup);
        }
        ASSERT_TRUE(Eventually([&] { return DSGetModemCount() == count; }));
        now_ = std::time(nullptr);
        frame_->Refresh();
    }
    QString Cell(int row, int column) { return frame_->DeviceView()->Cell(row, column); }
    // Rows of terminals that are not connected, listed online and ticked.
    static void ListTicked(CDeviceView& view, std::initializer_list<std::uint32_t> ids) {
        for (const std::uint32_t id : ids) {
            ModemInfo info{};
            info.deviceId = id;
            view.UpdateFromModem(info);
            view.List()->SetChecked(view.FindRow(QString::asprintf("%08x", id)), true);
        }
    }
    // Terminals connect at once, so their rows come in any order.
    QString CellOf(std::uint32_t id, int column) {
        const int row = frame_->DeviceView()->FindRow(QString::asprintf("%08x", id).toStdString());
        return row < 0 ? QString("<no row>") : Cell(row, column);
    }

    QTemporaryDir dir_;
    std::unique_ptr<ServiceSettings> settings_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<TerminalSimulator> sim_;
    std::atomic<std::int64_t> now_{0};
    QStringList informed_;
    QStringList asked_;
    bool answer_ = true;
};

TEST_F(MainFrameTest, CommandsFollowTheServiceState) {
    EXPECT_EQ(frame_->windowTitle(), "PelmoraV1.2");
    EXPECT_TRUE(frame_->Action(CMainFrame::kStartService)->isEnabled());
    EXPECT_FALSE(frame_->Action(CMainFrame::kStopService)->isEnabled());
    EXPECT_FALSE(frame_->Action(CMainFrame::kAddDevice)->isEnabled());
    EXPECT_FALSE(frame_->Action(CMainFrame::kDeleteDevice)->isEnabled());
    EXPECT_EQ(frame_->Action(CMainFrame::kStartService)->text(), QStringLiteral("启动服务(&S)"));

    frame_->StartService();
    EXPECT_FALSE(frame_->Action(CMainFrame::kStartService)->isEnabled());
    EXPECT_TRUE(frame_->Action(CMainFrame::kStopService)->isEnabled());
    auto* toolbar = frame_->findChild<QToolBar*>("mainToolBar");
    ASSERT_NE(toolbar, nullptr);
    auto* startTool =
        toolbar->findChild<QAction*>(QString("tool%1").arg(CMainFrame::kStartService));
    ASSERT_NE(startTool, nullptr);
    EXPECT_FALSE(startTool->isEnabled());
    EXPECT_EQ(startTool->text(), QStringLiteral("启动服务"));
    EXPECT_EQ(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_TRUE(Log().endsWith(QStringLiteral("服务启动,侦听端口为%1\r\n").arg(settings_->port)));

    frame_->OpenSettings();  // refused while running
    EXPECT_EQ(informed_, QStringList{QStringLiteral("请先停止服务后再设置!")});
    frame_->StopService();
    EXPECT_TRUE(frame_->Action(CMainFrame::kStartService)->isEnabled());
    EXPECT_TRUE(Log().endsWith(QStringLiteral("停止数据中心服务成功!")));
}

TEST_F(MainFrameTest, StartOnABusyPortIsLoggedAndStaysStopped) {
    frame_->StartService();
    CMainFrame::Options options;
    options.settings = settings_.get();
    CMainFrame second(options);
    second.StartService();  // the library already runs: refused
    EXPECT_FALSE(second.Running());
    second.Log().Flush();
    EXPECT_TRUE(second.LeftView()->LogText().endsWith(
        QStringLiteral("启动接收线程失败,关闭数据中心服务\r\n")));
}

TEST_F(MainFrameTest, RestartAsksOnlyWhileRunning) {
    frame_->RestartDevice();
    EXPECT_EQ(informed_, QStringList{QStringLiteral("服务未启动!")});
    frame_->StartService();
    frame_->RestartDevice();  // confirmed, but no terminal is ticked
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设备ID为空，选择设备")));
}

TEST_F(MainFrameTest, RestartNamesTheOneTerminalItRestarts) {
    frame_->StartService();
    ListTicked(*frame_->DeviceView(), {0x0001E240, 0x0001E241, 0x0001E242});
    answer_ = false;
    frame_->RestartDevice();
    frame_->DeviceView()->List()->SetChecked(0, false);
    frame_->DeviceView()->List()->SetChecked(1, false);
    frame_->RestartDevice();
    EXPECT_EQ(asked_,
              (QStringList{QStringLiteral("确认对选择的设备进行重启吗?\n"
                                          "将重启设备0001e240(已勾选3台,仅重启第一台)"),
                           QStringLiteral("确认对选择的设备进行重启吗?\n将重启设备0001e242")}));
    EXPECT_FALSE(Log().contains(QStringLiteral("设备重启中")));
}

TEST_F(MainFrameTest, EnterAloneAnswersNoToRestartAndGroupRestart) {
    CMainFrame::Options options;
    options.settings = settings_.get();
    options.stopPause = 0ms;
    CMainFrame real(options);  // the real question boxes
    real.StartService();
    ListTicked(*real.DeviceView(), {0x0001E240, 0x0001E241});
    QStringList seen;
    QTimer enter;
    QObject::connect(&enter, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        seen << box->text();
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No)) << box->text().toStdString();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &key);
        if (box->isVisible()) {
            ADD_FAILURE() << "Enter left the box open";
            box->reject();
        }
    });
    enter.start(5);
    real.RestartDevice();
    real.GroupRestart();
    enter.stop();
    ASSERT_EQ(seen.size(), 2);
    EXPECT_TRUE(seen[1].contains(QStringLiteral("2 台设备")));
    real.Log().Flush();
    EXPECT_FALSE(real.LeftView()->LogText().contains(QStringLiteral("设备重启中")));
    EXPECT_FALSE(real.LeftView()->LogText().contains(QStringLiteral("群发设备重启:")));
}

TEST_F(MainFrameTest, RefreshListsTerminalsAndDropsSilentOnes) {
    StartWithTerminals(3);
    CDeviceView& view = *frame_->DeviceView();
    ASSERT_EQ(view.RowCount(), 3);
    EXPECT_EQ(CellOf(0x100, 0), "00000100");
    EXPECT_EQ(CellOf(0x100, 5), QStringLiteral("在线"));
    EXPECT_EQ(CellOf(0x100, 6), QStringLiteral("未知"));
    EXPECT_EQ(CellOf(0x100, 3), "13800000000");

    // Terminal 0x101 goes away: its row stays, offline.
    sim_->Close(1);
    ASSERT_TRUE(Eventually([] { return DSGetModemCount() == 2; }));
    frame_->Refresh();
    EXPECT_EQ(view.RowCount(), 3);
    EXPECT_EQ(CellOf(0x101, 5), QStringLiteral("离线"));
    EXPECT_EQ(CellOf(0x100, 5), QStringLiteral("在线"));

    // Silence for the offline time disconnects at the next refresh.
    now_ += settings_->offlineSeconds;
    frame_->Refresh();
    // Positions are not counted again after a disconnect: the terminal that
    // moved into the visited position goes at the next refresh.
    EXPECT_EQ(DSGetModemCount(), 1);
    frame_->Refresh();
    EXPECT_EQ(DSGetModemCount(), 0);
    EXPECT_EQ(CellOf(0x100, 5), QStringLiteral("离线"));
    EXPECT_TRUE(Eventually([&] { return sim_->State(0) == dovrik::sim::TerminalState::Closed; }));

    // The run's rows go with the stop; the registry keeps the three
    // terminals it saw, so they stay listed, offline since they left.
    frame_->StopService();
    EXPECT_EQ(view.RowCount(), 3);
    EXPECT_EQ(view.RowCounts().online, 0);
    EXPECT_EQ(CellOf(0x101, 5), QStringLiteral("离线 2 分钟"));
}

TEST_F(MainFrameTest, RegisteredTerminalsAreListedOfflineUntilTheyComeOnline) {
    const std::string path = dir_.filePath("pelmora.db").toStdString();
    const std::int64_t now = std::time(nullptr);
    now_ = now;
    {
        auto db = store::OpenStore(path);
        store::Terminal hours;  // the simulated terminal, three hours gone
        hours.deviceId = 0x100;
        hours.firstSeen = now - 5 * 86400;
        hours.lastSeen = now - 3 * 3600 - 30;
        hours.name = "东村";
        store::Terminal minutes;
        minutes.deviceId = 0x200;
        minutes.firstSeen = minutes.lastSeen = now - 45 * 60;
        store::Terminal days;
        days.deviceId = 0x300;
        days.firstSeen = days.lastSeen = now - 3 * 86400 - 60;
        store::Terminal never;  // imported, never online
        never.deviceId = 0x7;
        db->SaveTerminals({hours, minutes, days, never});
        ASSERT_TRUE(db->Flush());
    }
    frame_.reset();
    options_.databasePath = path;
    frame_ = std::make_unique<CMainFrame>(options_);
    CDeviceView& view = *frame_->DeviceView();
    ASSERT_TRUE(Eventually([&] { return view.RowCount() == 4; }));
    EXPECT_EQ(CellOf(0x100, CDeviceView::kOnline), QStringLiteral("离线 3 小时"));
    EXPECT_EQ(CellOf(0x100, CDeviceView::kName), QStringLiteral("东村"));
    EXPECT_EQ(CellOf(0x200, CDeviceView::kOnline), QStringLiteral("离线 45 分钟"));
    EXPECT_EQ(CellOf(0x300, CDeviceView::kOnline), QStringLiteral("离线 3 天"));
    EXPECT_EQ(CellOf(0x7, CDeviceView::kOnline), QStringLiteral("从未上线"));
    frame_->UpdateStatus();
    EXPECT_EQ(frame_->OfflineAlertPane()->text(),
              QStringLiteral("离线超过30分钟: 3 | 从未上线: 1"));
    // The engine takes them as offline: nothing is sent.
    const int never = view.FindRow(std::string("00000007"));
    frame_->CommandView()->Engine().SubmitPageCommand(SingleRowList(view, never),
                                                      CommandKind::ReadVersion);
    EXPECT_TRUE(Log().contains(QStringLiteral("注意!设备00000007离线,将不进行发送!")));
    // The row menu opens the terminal's page.
    QMenu* menu = view.RowMenu(never);
    menu->findChild<QAction*>("terminalPageRow")->trigger();
    menu->deleteLater();
    ASSERT_TRUE(Eventually([&] { return frame_->findChild<CTerminalPage*>() != nullptr; }));
    frame_->findChild<CTerminalPage*>()->close();

    // 0x100 comes online: its own row, online for the engine.
    StartWithTerminals(1);
    EXPECT_EQ(view.RowCount(), 4);
    EXPECT_EQ(CellOf(0x100, CDeviceView::kOnline), QStringLiteral("在线"));
    EXPECT_EQ(view.OnlineText(view.FindRow(std::string("00000100"))), text::kOnline);
    EXPECT_EQ(CellOf(0x100, CDeviceView::kName), QStringLiteral("东村"));
    EXPECT_EQ(view.RowCounts().online, 1);

    frame_->StopService();
    EXPECT_EQ(view.RowCount(), 4);
    EXPECT_EQ(CellOf(0x100, CDeviceView::kOnline), QStringLiteral("离线"));
    EXPECT_EQ(CellOf(0x7, CDeviceView::kOnline), QStringLiteral("从未上线"));
}

TEST_F(MainFrameTest, ADatabaseHeldByAnotherProgramIsSaidOnceAndTheRecordGoesOn) {
    const std::string path = dir_.filePath("pelmora.db").toStdString();
    auto other = store::OpenStore(path);  // as another Pelmora would
    ASSERT_TRUE(other->Persistent());
    frame_.reset();
    options_.databasePath = path;
    frame_ = std::make_unique<CMainFrame>(options_);
    ASSERT_TRUE(Eventually([&] {
        QApplication::processEvents();
        return !informed_.empty();
    }));
    EXPECT_TRUE(informed_.back().contains(QStringLiteral("只保存在内存中")));
    EXPECT_TRUE(Log().contains(QStringLiteral("预警记录数据库无法使用")));
    EXPECT_FALSE(frame_->Store().Persistent());
}

TEST_F(MainFrameTest, RegistryImportListsBadRowsAndTakesTheGoodOnesOnlyWhenConfirmed) {
    const QString in = dir_.filePath("in.csv"), out = dir_.filePath("out.csv");
    {
        QFile file(in);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("设备ID,名称,标签\r\n0001e240,东村,学校\r\nbad,西村,\r\n"
                                  "00000007,南村,\r\n")
                       .toUtf8());
    }
    frame_->Registry().SetAskFiles([&] { return in; }, [&] { return out; });
    answer_ = false;
    frame_->Registry().Import();
    ASSERT_EQ(asked_.size(), 1);
    EXPECT_TRUE(asked_.back().contains(QStringLiteral("第3行")));
    ASSERT_TRUE(frame_->Store().Flush());
    EXPECT_TRUE(frame_->Store().Terminals().empty());

    answer_ = true;
    frame_->Registry().Import();
    ASSERT_TRUE(frame_->Store().Flush());
    const auto terminals = frame_->Store().Terminals();
    ASSERT_EQ(terminals.size(), 2u);
    EXPECT_EQ(terminals[1].name, "东村");
    EXPECT_EQ(terminals[1].tags, "学校");

    frame_->Registry().Export();
    QFile exported(out);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_TRUE(exported.readAll().contains("=\"0001e240\",\xE4\xB8\x9C"));  // ="0001e240",东
}

TEST_F(MainFrameTest, AStatusBeforeTheRowIsAnsweredAndShownWhenTheRowAppears) {
    StartWithTerminals(0);
    dovrik::sim::TerminalSpec setup;
    setup.deviceId = 0x100;
    sim_->Add(setup);
    ASSERT_TRUE(Eventually([] { return DSGetModemCount() == 1; }));
    sim_->SendStatus(0, dovrik::sim::PowerSource::Battery);
    const auto answer = PackFrame(0x100, kStatusAnswer, {});
    ASSERT_TRUE(Eventually([&] {
        frame_->DrainTick();
        return sim_->Received(0) == answer;
    }));
    EXPECT_EQ(frame_->DeviceView()->RowCount(), 0);
    frame_->Refresh();
    EXPECT_EQ(CellOf(0x100, 6), QStringLiteral("备电"));
}

TEST_F(MainFrameTest, DrainLogsAnswersStatusAndKeepsWorkingAfterAStop) {
    StartWithTerminals(1);
    sim_->SendStatus(0, dovrik::sim::PowerSource::Battery);
    ASSERT_TRUE(Eventually([&] {
        frame_->DrainTick();
        return CellOf(0x100, 6) == QStringLiteral("备电");
    }));
    const auto answer = PackFrame(0x100, kStatusAnswer, {});
    EXPECT_TRUE(Eventually([&] {
        const auto received = sim_->Received(0);
        return received == answer;
    }));

    sim_->SendText(0, "before the stop");
    ASSERT_TRUE(Eventually([] { return true; }, 100ms));
    std::this_thread::sleep_for(100ms);
    frame_->StopService();
    frame_->DrainTick();
    EXPECT_TRUE(Log().contains(QStringLiteral("00000100:before the stop")));
    EXPECT_TRUE(frame_->DrainTimer().isActive());
}

TEST_F(MainFrameTest, DrainWorksInBoundedTicksAndKeepsTheOrder) {
    // A budget of nothing: each tick stops after its first small batch.
    CMainFrame::Options options;
    options.settings = settings_.get();
    options.stopPause = 0ms;
    options.drainBudget = 0ms;
    frame_ = std::make_unique<CMainFrame>(options);
    StartWithTerminals(1);
    constexpr int kMessages = 300;
    for (int i = 0; i < kMessages; ++i) {
        sim_->SendText(0, "m" + std::to_string(i));
        std::this_thread::sleep_for(500us);  // mostly one receive each
    }
    std::this_thread::sleep_for(100ms);
    int ticks = 1;
    while (frame_->DrainTick()) ++ticks;
    EXPECT_GT(ticks, 1);
    // Messages may share a receive; their text, in order, is what counts.
    QString received;
    for (const QString& line : Log().split("\r\n")) {
        if (line.startsWith("00000100:")) received += line.mid(9);
    }
    QString sent;
    for (int i = 0; i < kMessages; ++i) sent += QString("m%1").arg(i);
    EXPECT_EQ(received, sent);
}

TEST_F(MainFrameTest, RunningOutOfDescriptorsIsToldOnceAndSoIsTheRecovery) {
    std::optional<DescriptorUse> use = DescriptorUse{100, 1024};
    CMainFrame::Options options;
    options.settings = settings_.get();
    options.stopPause = 0ms;
    options.descriptorUse = [&use] { return use; };
    frame_ = std::make_unique<CMainFrame>(options);
    const QString exhausted = QStringLiteral("注意!可用的连接描述符已用尽");
    const QString recovered = QStringLiteral("连接描述符已恢复");
    frame_->Refresh();
    use->open = 1020;
    frame_->Refresh();
    frame_->Refresh();
    EXPECT_EQ(Log().count(exhausted), 1);
    EXPECT_TRUE(Log().contains(QStringLiteral("(1020/1024)")));
    use->open = 1000;  // not yet clear of the edge: still exhausted
    frame_->Refresh();
    EXPECT_EQ(Log().count(recovered), 0);
    use->open = 900;
    frame_->Refresh();
    frame_->Refresh();
    EXPECT_EQ(Log().count(recovered), 1);
    use.reset();  // a platform that cannot tell says nothing
    frame_->Refresh();
    EXPECT_EQ(Log().count(exhausted), 1);
}

TEST_F(MainFrameTest, TerminalThatStopsReadingNeverFreezesTheWindow) {
    qputenv("DOVRIK_SEND_TIMEOUT_MS", "300");
    StartWithTerminals(1);
    qunsetenv("DOVRIK_SEND_TIMEOUT_MS");

    // A terminal that registers, then keeps sending status messages and all
    // but stops reading (a few bytes now and then); long messages for it (a
    // broadcast, say) fill its socket, until one goes out only in part.
    constexpr std::uint32_t kStuck = 0xDEAD;
    asio::io_context io;
    asio::ip::tcp::socket stuck(io);
    stuck.open(asio::ip::tcp::v4());
    stuck.set_option(asio::socket_base::receive_buffer_size(1024));
    stuck.connect({asio::ip::address_v4::loopback(), static_cast<std::uint16_t>(settings_->port)});
    dovrik::sim::TerminalSpec setup;
    setup.deviceId = kStuck;
    asio::write(stuck, asio::buffer(dovrik::sim::RegistrationMessage(setup)));
    ASSERT_TRUE(Eventually([] { return DSGetModemCount() == 2; }));
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const auto status = dovrik::sim::EscapeStream(
            dovrik::sim::StatusMessage(kStuck, dovrik::sim::PowerSource::Battery));
        asio::error_code error;
        std::uint8_t trickle[16];
        for (int round = 1; !stop && !error; ++round) {
            asio::write(stuck, asio::buffer(status), error);
            if (round % 500 == 0 && stuck.available(error) > 0) {
                stuck.read_some(asio::buffer(trickle), error);
            }
            std::this_thread::sleep_for(200us);  // small receives, each one answered
        }
    });
    std::thread fill([&] {
        // A send that wrote nothing in time leaves the terminal listed; one
        // cut off in part drops it.
        const std::vector<std::uint8_t> content(4096, 'A');
        while (!stop && DSGetModemCount() == 2) DSSendData(kStuck, 4096, content.data());
    });

    // The window's own loop: every tick comes back; the other terminal is
    // still listed and answered; the stuck one is dropped and reported.
    const std::size_t answerSize = PackFrame(0x100, kStatusAnswer, {}).size();
    std::size_t asked = 0;
    std::size_t answered = 0;
    bool dropped = false;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline && !(dropped && answered >= 3)) {
        while (frame_->DrainTick()) {
        }
        now_ = std::time(nullptr);
        frame_->Refresh();
        QCoreApplication::processEvents();
        EXPECT_EQ(CellOf(0x100, 5), QStringLiteral("在线"));
        answered = sim_->Received(0).size() / answerSize;
        if (answered == asked) {
            sim_->SendStatus(0, dovrik::sim::PowerSource::Mains);
            ++asked;
        }
        dropped = CellOf(kStuck, 5) == QStringLiteral("离线");
        std::this_thread::sleep_for(2ms);
    }
    stop = true;
    flood.join();
    fill.join();
    EXPECT_TRUE(dropped);
    EXPECT_GE(answered, 3u);
    EXPECT_EQ(CellOf(kStuck, 6), QStringLiteral("备电"));
    EXPECT_TRUE(
        Eventually([&] { return Log().contains(QStringLiteral("注意!向设备0000dead发送失败")); }));
}

TEST_F(MainFrameTest, DeviceRowsSurviveReRegistrationAndSorting) {
    StartWithTerminals(2);
    sim_->SendStatus(1, dovrik::sim::PowerSource::Mains);
    ASSERT_TRUE(Eventually([&] {
        frame_->DrainTick();
        return CellOf(0x101, 6) == QStringLiteral("主电");
    }));
    // 0x101 registers again on a new connection: same row, power kept.
    dovrik::sim::TerminalSpec setup;
    setup.deviceId = 0x101;
    sim_->Add(setup);
    ASSERT_TRUE(Eventually([&] { return sim_->State(1) == dovrik::sim::TerminalState::Closed; }));
    frame_->Refresh();
    EXPECT_EQ(frame_->DeviceView()->RowCount(), 2);
    EXPECT_EQ(CellOf(0x101, 6), QStringLiteral("主电"));
    EXPECT_EQ(CellOf(0x101, 5), QStringLiteral("在线"));

    // After a sort the rows are still found by their IDs.
    frame_->DeviceView()->List()->SortByColumn(0);
    frame_->DeviceView()->List()->SortByColumn(0);  // descending
    EXPECT_EQ(Cell(0, 0), "00000101");
    EXPECT_EQ(frame_->DeviceView()->FindRow(std::string("00000100")), 1);
    frame_->Refresh();
    EXPECT_EQ(frame_->DeviceView()->RowCount(), 2);
}

TEST_F(MainFrameTest, ListKeepsItsWidth) {
    frame_->resize(2400, 900);
    frame_->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame_->DeviceView()->List()->width(), CDeviceView::kListWidth);
    EXPECT_EQ(frame_->LeftView()->width(), 200);
}

TEST_F(MainFrameTest, ViewMenuShowsEachPageWithoutSendingAnything) {
    StartWithTerminals(1);
    frame_->DeviceView()->List()->SetChecked(0, true);
    CPelmoraView& view = *frame_->CommandView();
    auto trigger = [&](CPelmoraView::Page page) {
        frame_->findChild<QAction*>(QStringLiteral("viewPage%1").arg(static_cast<int>(page)))
            ->trigger();
        return view.VisiblePage() == page;
    };
    EXPECT_TRUE(trigger(CPelmoraView::Page::Control));
    EXPECT_TRUE(trigger(CPelmoraView::Page::DataSend));
    EXPECT_TRUE(trigger(CPelmoraView::Page::Configuration));
    QCoreApplication::processEvents();
    EXPECT_TRUE(sim_->Received(0).empty());  // above all, no configuration commit

    // Read-back and save with nothing ticked say why, as the other pages do.
    frame_->DeviceView()->List()->SetChecked(0, false);
    view.ConfigPages().BaseConfig().OnReadBack();
    view.ConfigPages().BaseConfig().OnSaveSettings();
    EXPECT_EQ(Log().count(QStringLiteral("设备ID为空，选择设备")), 2);
}

TEST(QtChinese, StandardButtonsReadChinese) {
    QTranslator* translator = InstallQtChinese(*QCoreApplication::instance());
    ASSERT_NE(translator, nullptr) << "Qt's Chinese catalogue is not installed";
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("是")));
    EXPECT_TRUE(box.button(QMessageBox::No)->text().startsWith(QStringLiteral("否")));
    EXPECT_TRUE(box.button(QMessageBox::Ok)->text().startsWith(QStringLiteral("确定")));
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

TEST(ServiceSettingsStore, DefaultsArePersistedAndTimesResetEachRun) {
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.ini");
    {
        ServiceSettings first(file);
        first.Load();
        EXPECT_EQ(first.port, 5001);
        first.StorePort(5003);
        first.pollSeconds = 60;
        first.offlineSeconds = 240;
    }
    ServiceSettings second(file);
    second.Load();
    EXPECT_EQ(second.port, 5003);
    EXPECT_EQ(second.pollSeconds, 5);
    EXPECT_EQ(second.offlineSeconds, 120);
}

TEST(ServiceSettingsStore, AnEarlierVersionsPortMovesOnceAndABrokenFileFallsBack) {
    QTemporaryDir dir;
    const QString file = dir.filePath("Pelmora.conf");
    const QString legacyFile = dir.filePath("Microsoft.conf");
    {
        QSettings legacy(legacyFile, QSettings::IniFormat);
        legacy.setValue("Pelmora", 5007);
        legacy.setValue("Other", "kept");
    }
    {
        ServiceSettings moved(file, legacyFile);
        moved.Load();
        EXPECT_EQ(moved.port, 5007);
        moved.StoreWindowState("geometry", QByteArray("\x01\x02", 2));
        moved.Sync();
    }
    {
        QSettings legacy(legacyFile, QSettings::IniFormat);
        EXPECT_FALSE(legacy.contains("Pelmora"));
        EXPECT_EQ(legacy.value("Other").toString(), "kept");
        legacy.setValue("Pelmora", 5010);  // an old copy of the program wrote it again
    }
    ServiceSettings again(file, legacyFile);
    again.Load();
    EXPECT_EQ(again.port, 5007);
    EXPECT_EQ(again.WindowState("geometry"), QByteArray("\x01\x02", 2));
    EXPECT_TRUE(again.WindowState("never").isEmpty());

    // A file that is not settings at all: defaults, and no exception.
    const QString broken = dir.filePath("broken.conf");
    {
        QFile out(broken);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("[service\nport=\xff\xfe\x00garbage\n=\n[[[\n");
    }
    ServiceSettings fallback(broken);
    fallback.Load();
    EXPECT_EQ(fallback.port, 5001);
    EXPECT_TRUE(fallback.WindowState("geometry").isEmpty());
}

TEST_F(MainFrameTest, AStoredPortThatIsNoPortIsRefusedWithALogLine) {
    for (const char* stored : {"0", "70000", "-1", "abc"}) {
        const QString file = dir_.filePath(QString("port-%1.ini").arg(stored));
        QSettings(file, QSettings::IniFormat).setValue("service/port", stored);
        ServiceSettings settings(file);
        settings.Load();
        EXPECT_EQ(settings.port, 5001) << stored;
        EXPECT_TRUE(settings.loadNotice.contains(QString("“%1”").arg(stored))) << stored;
        if (QString(stored) != "70000") continue;
        CMainFrame::Options options;
        options.settings = &settings;
        CMainFrame frame(options);
        frame.Log().Flush();
        EXPECT_TRUE(frame.LeftView()->LogText().contains(
            QStringLiteral("设置中保存的服务端口“70000”无效(应为1到65535),改用默认端口5001")));
    }
}

TEST(ServerSettingDialog, RefusesOutOfRangeValuesAndKeepsTheOldOnes) {
    CServerSetting dialog(5001, 5, 120);
    QStringList refused;
    QObject::connect(&dialog, &CServerSetting::Refused, [&](const QString& m) { refused << m; });
    for (const auto& [port, poll, offline] :
         std::vector<std::tuple<QString, QString, QString>>{{"0", "5", "120"},
                                                            {"65536", "5", "120"},
                                                            {"x", "5", "120"},
                                                            {"5002", "0", "120"},
                                                            {"5002", "5", "0"},
                                                            {"5002", "-3", "120"},
                                                            {"5002", "5", "1.5"}}) {
        dialog.PortBox()->setCurrentText(port);
        dialog.PollBox()->setCurrentText(poll);
        dialog.OfflineBox()->setCurrentText(offline);
        EXPECT_FALSE(dialog.TakeValues())
            << port.toStdString() << poll.toStdString() << offline.toStdString();
    }
    EXPECT_EQ(refused.size(), 7);
    EXPECT_EQ(dialog.Port(), 5001);
    dialog.PortBox()->setCurrentText("5002");
    dialog.PollBox()->setCurrentText("10");
    dialog.OfflineBox()->setCurrentText("240");
    EXPECT_TRUE(dialog.TakeValues());
    EXPECT_EQ(dialog.Port(), 5002);
    EXPECT_EQ(dialog.PollSeconds(), 10);
    EXPECT_EQ(dialog.OfflineSeconds(), 240);
}

}  // namespace
}  // namespace pelmora
