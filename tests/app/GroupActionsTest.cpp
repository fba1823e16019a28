// Group actions in the running window: every ticked terminal at once, the
// offline ones skipped, after a confirmation that names the action, quotes
// the content and counts the terminals and the hidden ones; the panel shows
// each terminal's outcome live, cancels, and exports the outcomes; end to end
// through the real library and simulated terminals.
#include <gtest/gtest.h>

#include "WindowFixture.h"

#include <QDockWidget>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolBar>

#include "DrillMode.h"
#include "GbkCodec.h"
#include "GprsDataDlg.h"
#include "GroupJobPanel.h"
#include "GroupLauncher.h"
#include "Mp3Control.h"
#include "Store.h"
#include "SystemControlDlg.h"

namespace pelmora {
namespace {

using namespace std::chrono_literals;
using testing::Pump;

class GroupActionsTest : public testing::WindowTest {
  protected:
    static constexpr std::uint32_t kFirst = 0x00A00001;

    // Time enough to cancel a silent terminal's wait before its limit.
    GroupActionsTest() { framePolls_ = 12000; }

    // `count` answering terminals listed online and ticked, plus one that
    // left: listed offline and ticked too.
    void ConnectGroup(int count, dovrik::sim::TerminalScript script = {}) {
        frame_->StartService();
        StartSimulator();
        for (int i = 0; i <= count; ++i)
            AddTerminal(kFirst + static_cast<std::uint32_t>(i), script);
        ASSERT_TRUE(Pump([&] { return DSGetModemCount() == count + 1; }));
        frame_->Refresh();
        sim_->Close(static_cast<std::size_t>(count));
        ASSERT_TRUE(Pump([&] { return DSGetModemCount() == count; }));
        frame_->Refresh();
        CDeviceTable* list = frame_->DeviceView()->List();
        for (int row = 0; row < list->RowCount(); ++row) list->SetChecked(row, true);
    }
    CGroupJobPanel& Panel() { return *frame_->GroupPanel(); }
    bool PanelDone() {
        Panel().Update();
        return Panel().CountsText().contains(QStringLiteral("已完成"));
    }
};

TEST_F(GroupActionsTest, PlayContentGoesToEveryTickedOnlineTerminalAndEachOutcomeIsShown) {
    QStringList asked;
    frame_->CommandView()->Launcher().SetConfirm([&](const QString& text, const QString&) {
        asked << text;
        return true;
    });
    ConnectGroup(3);
    CGPRSDataDlg& page = frame_->CommandView()->DataSendPage();
    page.findChild<QPlainTextEdit*>("1010")->setPlainText(QStringLiteral("暴雨预警"));
    page.GroupSendButton()->click();

    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(QStringLiteral("4 台设备")));
    EXPECT_TRUE(asked[0].contains(QStringLiteral("群发播放内容")));
    EXPECT_TRUE(asked[0].contains(QStringLiteral("其中 1 台离线")));
    EXPECT_TRUE(frame_->GroupDock()->isVisible() || !frame_->isVisible());
    ASSERT_TRUE(Pump([&] { return PanelDone(); }));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(sim_->Messages(i).size(), 1u);
    EXPECT_TRUE(sim_->Messages(3).empty());

    const GroupJobModel& model = Panel().Model();
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.Cell(3, GroupJobModel::kDevice), "00a00004");
    EXPECT_EQ(model.Cell(3, GroupJobModel::kOutcome), QStringLiteral("离线"));
    EXPECT_EQ(model.Cell(0, GroupJobModel::kOutcome), QStringLiteral("成功"));
    EXPECT_TRUE(Panel().CountsText().contains(QStringLiteral("成功 3")));
    EXPECT_TRUE(Log().contains(QStringLiteral("群发播放内容完成: 成功 3, 拒绝 0, 超时 0, 离线 1")));

    const QString path = dir_.filePath("outcomes.csv");
    Panel().SetAskFileName([&] { return path; });
    Panel().ExportButton()->click();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    ASSERT_GE(lines.size(), 5);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("设备ID,状态,分片,软件版本,BOOT版本")));
    EXPECT_TRUE(lines[4].startsWith(QStringLiteral("00a00004,离线")));
}

TEST_F(GroupActionsTest, ConfirmationQuotesTheContentAndCountsTheRowsTheFilterHides) {
    CDeviceView& view = *frame_->DeviceView();
    for (std::uint32_t i = 0; i < 3; ++i) {
        ModemInfo info{};
        info.deviceId = kFirst + i;
        view.UpdateFromModem(info);
    }
    view.CheckAllShown();
    view.SetFilterText("00a00001");
    QString asked;
    frame_->CommandView()->Launcher().SetConfirm([&](const QString& text, const QString&) {
        asked = text;
        return false;
    });
    const QString first60 = QString(59, QChar(u'警')) + QStringLiteral("报");
    frame_->CommandView()->DataSendPage().findChild<QPlainTextEdit*>("1010")->setPlainText(
        first60 + QStringLiteral("之后不引"));
    frame_->CommandView()->DataSendPage().GroupSendButton()->click();

    EXPECT_TRUE(asked.contains(QStringLiteral("3 台设备执行“群发播放内容”")));
    EXPECT_TRUE(asked.contains(QStringLiteral("“") + first60 + QStringLiteral("…”")));
    EXPECT_TRUE(asked.contains(QStringLiteral("其中 2 台被设备列表的筛选隐藏(已勾选但未显示)")));
    EXPECT_FALSE(asked.contains(QStringLiteral("之后")));
}

TEST_F(GroupActionsTest, VersionsAreShownAndCancelEndsWhatIsUnanswered) {
    ConnectGroup(2);
    frame_->CommandView()->ControlPages().Mp3Page().GroupQueryButton()->click();
    ASSERT_TRUE(Pump([&] { return PanelDone(); }));
    WaitIdle();  // the panel tells "done" a moment before the worker is free
    EXPECT_EQ(Panel().Model().Cell(0, GroupJobModel::kSoftware), "V1.2.0");
    EXPECT_EQ(Panel().Model().Cell(1, GroupJobModel::kBoot), "BOOT-1.0");
    ASSERT_TRUE(Pump([&] {
        const auto t = frame_->Store().FindTerminal(kFirst + 1);
        return t && t->firmware == "软件版本 V1.2.0, 引导版本 BOOT-1.0";
    })) << "the registry keeps the versions found";

    // Terminals that never answer a stop: cancelled before their time limit,
    // their frames out and unanswered.
    dovrik::sim::TerminalScript silent;
    silent.defaultFrameResult = std::nullopt;
    for (std::size_t i = 0; i < 2; ++i) sim_->SetScript(i, silent);
    frame_->CommandView()->ControlPages().Mp3Page().GroupStopButton()->click();
    ASSERT_TRUE(Pump([&] {
        Panel().Update();
        return Panel().Model().Cell(0, GroupJobModel::kOutcome) == QStringLiteral("等待应答") &&
               Panel().Model().Cell(1, GroupJobModel::kOutcome) == QStringLiteral("等待应答");
    })) << Panel().Model().Cell(0, GroupJobModel::kOutcome).toStdString()
        << " / " << Panel().Model().Cell(1, GroupJobModel::kOutcome).toStdString() << " / "
        << Panel().CountsText().toStdString();
    Panel().CancelButton()->click();
    ASSERT_TRUE(Pump([&] { return PanelDone(); }));

    // Both jobs are in the record, with each terminal's word.
    ASSERT_TRUE(frame_->Store().Flush());
    const auto records = frame_->Store().LatestWarnings(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[1].group);
    EXPECT_EQ(records[1].state, "finished");
    EXPECT_FALSE(records[1].operatorName.empty());
    int succeeded = 0;
    for (const auto& outcome : frame_->Store().OutcomesOf(records[1].id)) {
        if (outcome.word != "成功") continue;
        ++succeeded;
        EXPECT_NE(outcome.detail.find("V1.2.0"), std::string::npos);
    }
    EXPECT_EQ(succeeded, 2);
    int unconfirmed = 0;
    for (const auto& outcome : frame_->Store().OutcomesOf(records[0].id))
        unconfirmed += outcome.word == "已发送未确认";
    EXPECT_EQ(unconfirmed, 2);
    EXPECT_TRUE(Panel().CountsText().contains(QStringLiteral("已发送未确认 2")));
    EXPECT_TRUE(Log().contains(QStringLiteral("已发送未确认 2")));
}

}  // namespace
}  // namespace pelmora

namespace pelmora {
namespace {

TEST_F(GroupActionsTest, ATerminalThatMissedAWarningGetsItWhenItRegistersEvenAfterARestart) {
    const QString database = dir_.filePath("pelmora.db");
    MakeFrame(database);
    ConnectGroup(2);
    CGPRSDataDlg& page = frame_->CommandView()->DataSendPage();
    page.findChild<QPlainTextEdit*>("1010")->setPlainText(QStringLiteral("暴雨预警"));
    page.GroupSendButton()->click();
    ASSERT_TRUE(Pump([&] { return PanelDone(); }));
    WaitIdle();
    const std::uint32_t missed = kFirst + 2;
    ASSERT_TRUE(frame_->Store().Flush());
    const std::int64_t warning = frame_->Store().LatestWarnings(1).at(0).id;

    // The program ends and starts again; the terminal that was away registers.
    sim_.reset();
    frame_->StopService();
    MakeFrame(database);
    frame_->StartService();
    StartSimulator();
    AddTerminal(missed);
    ASSERT_TRUE(Pump([] { return DSGetModemCount() == 1; }));
    frame_->Refresh();
    ASSERT_TRUE(Pump([&] { return sim_->Messages(0).size() == 1; }));
    WaitIdle();
    EXPECT_TRUE(Log().contains(QStringLiteral("补发预警记录%1(第2次发送)").arg(warning)));
    ASSERT_TRUE(frame_->Store().Flush());
    const auto records = frame_->Store().LatestWarnings(5);
    ASSERT_EQ(records.size(), 1u) << "the follow-up is part of the first record";
    std::vector<std::pair<int, std::string>> attempts;
    for (const auto& outcome : frame_->Store().OutcomesOf(warning))
        if (outcome.deviceId == missed) attempts.emplace_back(outcome.attempt, outcome.word);
    EXPECT_EQ(attempts, (std::vector<std::pair<int, std::string>>{{1, "离线"}, {2, "成功"}}));
    EXPECT_TRUE(frame_->Store().PendingFollowUps().empty());

    // Registering again sends nothing more: it answered with success.
    sim_->Close(0);
    ASSERT_TRUE(Pump([] { return DSGetModemCount() == 0; }));
    frame_->Refresh();
    AddTerminal(missed);
    ASSERT_TRUE(Pump([] { return DSGetModemCount() == 1; }));
    frame_->Refresh();
    WaitIdle();
    EXPECT_TRUE(sim_->Messages(1).empty());
}

}  // namespace
}  // namespace pelmora

namespace pelmora {
namespace {

TEST_F(GroupActionsTest,
       ManyTerminalsNeedTheirNumberTypedAndADrillIsMarkedOnTheWireAndInTheRecord) {
    QStringList asked;
    frame_->CommandView()->Launcher().SetConfirm([&](const QString& text, const QString&) {
        asked << text;
        return true;
    });
    settings_->massConfirmAbove = 3;
    ConnectGroup(3);  // four ticked, one of them offline
    CGPRSDataDlg& page = frame_->CommandView()->DataSendPage();
    page.findChild<QPlainTextEdit*>("1010")->setPlainText(QStringLiteral("暴雨预警"));
    typedCountAnswer_ = false;
    page.GroupSendButton()->click();
    ASSERT_EQ(counted_.size(), 1);
    EXPECT_TRUE(counted_[0].startsWith(QStringLiteral("4: ")));
    EXPECT_TRUE(counted_[0].contains(QStringLiteral("暴雨预警")));
    EXPECT_TRUE(asked.isEmpty()) << "no plain Yes for many terminals";
    WaitIdle();
    EXPECT_TRUE(sim_->Messages(0).empty()) << "not typed: nothing sent";
    // A harmless kind asks the plain question whatever the count.
    frame_->CommandView()->ControlPages().Mp3Page().GroupQueryButton()->click();
    ASSERT_TRUE(Pump([&] { return PanelDone(); }));
    WaitIdle();
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(counted_.size(), 1);

    // Drill mode: the banner and title say so, the content goes with the
    // drill text in front, and the record is a drill.
    ASSERT_TRUE(frame_->Drill().Set(true));
    EXPECT_FALSE(frame_->Drill().Banner()->isHidden());
    EXPECT_TRUE(frame_->windowTitle().contains(QStringLiteral("演练模式")));
    typedCountAnswer_ = true;
    page.GroupSendButton()->click();
    ASSERT_TRUE(Pump([&] { return PanelDone(); }));
    WaitIdle();
    EXPECT_TRUE(counted_.last().contains(QStringLiteral("【演练】暴雨预警")));
    const std::string drillText = Utf8ToGbk("【演练】暴雨预警").value();
    const std::vector<std::uint8_t> sent = sim_->Messages(0).back();
    EXPECT_NE(std::string(sent.begin(), sent.end()).find(drillText), std::string::npos);
    ASSERT_TRUE(frame_->Store().Flush());
    auto latest = frame_->Store().LatestWarnings(2);
    ASSERT_EQ(latest.size(), 2u);
    EXPECT_TRUE(latest[0].drill);
    EXPECT_EQ(latest[0].content, "【演练】暴雨预警");
    EXPECT_FALSE(latest[1].drill) << "the version query before it";

    ASSERT_TRUE(frame_->Drill().Set(false));
    EXPECT_TRUE(frame_->Drill().Banner()->isHidden());
    EXPECT_FALSE(frame_->windowTitle().contains(QStringLiteral("演练模式")));
    frame_->CommandView()->ControlPages().Mp3Page().GroupQueryButton()->click();
    ASSERT_TRUE(Pump([&] { return PanelDone(); }));
    WaitIdle();
    ASSERT_TRUE(frame_->Store().Flush());
    EXPECT_FALSE(frame_->Store().LatestWarnings(1).at(0).drill);
}

}  // namespace
}  // namespace pelmora
