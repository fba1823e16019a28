// The warning record's window: the filters narrow the list, a record opens
// with every terminal's outcomes and exports them as CSV, and the terminals
// whose latest attempt failed get the job again, through the window's own
// group launch and its confirmation.
#include <gtest/gtest.h>

#include "WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include "GbkCodec.h"
#include "GroupJobPanel.h"
#include "GroupLauncher.h"
#include "HistoryView.h"
#include "Store.h"
#include "WarningRecorder.h"

namespace pelmora {
namespace {

using testing::Pump;

std::int64_t At(int day, int hour) {
    return QDateTime(QDate(2026, 3, day), QTime(hour, 0)).toSecsSinceEpoch();
}

std::int64_t AddRecord(store::Store& store, CommandKind kind, bool group, std::string content,
                       std::int64_t queued, std::vector<store::Outcome> outcomes) {
    store::Warning w;
    w.group = group;
    w.kind = static_cast<int>(kind);
    w.content = std::move(content);
    w.operatorName = "duty";
    w.queued = w.started = queued;
    w.state = "finished";
    const std::int64_t id = store.AddWarning(w);
    for (store::Outcome& o : outcomes) {
        o.warningId = id;
        o.time = queued + o.attempt;
    }
    store.AddOutcomes(std::move(outcomes));
    return id;
}

TEST(HistoryViewTest, FiltersNarrowTheListAndARecordOpensWithItsOutcomesAndExports) {
    auto store = store::MemoryStore();
    store::Terminal east;
    east.deviceId = 0x0001e240;
    east.name = "东村";
    east.regionCode = "110101";
    east.regionName = "东城区";
    east.sim = "13800138000";
    store::Terminal west;
    west.deviceId = 0x0001e241;
    west.name = "=cmd|' /C calc'!A0";
    west.regionCode = "120101";
    store->SaveTerminals({east, west});
    const std::int64_t storm =
        AddRecord(*store, CommandKind::SendPlayContent, true, "暴雨红色预警,请转移", At(1, 10),
                  {{0, east.deviceId, 1, "成功", 0, ""},
                   {0, west.deviceId, 1, "超时", 0, ""},
                   {0, west.deviceId, 2, "成功", 0, ""}});
    AddRecord(*store, CommandKind::PlayMp3, true, "0003", At(5, 9),
              {{0, west.deviceId, 1, "离线", 0, ""}});
    AddRecord(*store, CommandKind::ReadVersion, false, "", At(10, 8),
              {{0, east.deviceId, 1, "成功", 0, "V1.2.0"}});
    ASSERT_TRUE(store->Flush());

    QStringList informed;
    HistoryView::Hooks hooks;
    hooks.inform = [&](const QString& text, const QString&) { informed << text; };
    HistoryView view(*store, hooks);
    const WarningListModel& list = view.List();
    ASSERT_TRUE(view.Query());
    ASSERT_EQ(list.rowCount(), 3);  // newest first
    EXPECT_EQ(list.Cell(0, WarningListModel::kKind), QStringLiteral("版本查询"));
    EXPECT_EQ(list.Cell(0, WarningListModel::kScope), QStringLiteral("单机"));
    EXPECT_EQ(list.Cell(2, WarningListModel::kId), QString::number(storm));
    EXPECT_EQ(list.Cell(2, WarningListModel::kKind), QStringLiteral("群发播放内容"));
    EXPECT_EQ(list.Cell(2, WarningListModel::kStarted), QStringLiteral("2026-03-01 10:00:00"));
    EXPECT_EQ(list.Cell(2, WarningListModel::kState), QStringLiteral("完成"));

    // Days, both ends included.
    view.FromCheck()->setChecked(true);
    view.FromDate()->setDate(QDate(2026, 3, 1));
    view.ToCheck()->setChecked(true);
    view.ToDate()->setDate(QDate(2026, 3, 5));
    ASSERT_TRUE(view.Query());
    EXPECT_EQ(list.rowCount(), 2);
    // Region and text; a terminal's latest outcome, not an earlier one.
    view.RegionBox()->setText(QStringLiteral(" 1201 "));
    view.TextBox()->setText(QStringLiteral("暴雨"));
    ASSERT_TRUE(view.Query());
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.Cell(0, WarningListModel::kId), QString::number(storm));
    // From after to: said so, and the list stays as it was.
    view.FromDate()->setDate(QDate(2026, 3, 6));
    EXPECT_FALSE(view.Query());
    ASSERT_EQ(informed.size(), 1);
    EXPECT_TRUE(informed[0].contains(QStringLiteral("晚于截止日期")));
    EXPECT_EQ(list.rowCount(), 1);
    view.FromCheck()->setChecked(false);
    view.WordBox()->setCurrentText(QStringLiteral("超时"));
    ASSERT_TRUE(view.Query());
    EXPECT_EQ(list.rowCount(), 0);

    ASSERT_TRUE(view.OpenRecord(storm));
    const OutcomeModel& outcomes = view.Outcomes();
    ASSERT_EQ(outcomes.rowCount(), 3);  // by terminal, then attempt
    EXPECT_EQ(outcomes.Cell(0, OutcomeModel::kDevice), QStringLiteral("0001e240"));
    EXPECT_EQ(outcomes.Cell(0, OutcomeModel::kName), QStringLiteral("东村"));
    EXPECT_EQ(outcomes.Cell(0, OutcomeModel::kRegion), QStringLiteral("110101 东城区"));
    EXPECT_EQ(outcomes.Cell(1, OutcomeModel::kWord), QStringLiteral("超时"));
    EXPECT_EQ(outcomes.Cell(2, OutcomeModel::kAttempt), QStringLiteral("2"));
    EXPECT_TRUE(view.SummaryText().contains(QStringLiteral("共 2 台终端")));
    EXPECT_TRUE(view.SummaryText().contains(QStringLiteral("成功 2")));
    EXPECT_FALSE(view.SummaryText().contains(QStringLiteral("超时")));
    EXPECT_FALSE(view.ResendButton()->isEnabled());  // nothing failed
    EXPECT_FALSE(view.OpenRecord(storm + 100));

    QTemporaryDir dir;
    const QString path = dir.filePath("record.csv");
    view.SetAskSaveFile([&](const QString& suggested) {
        EXPECT_TRUE(suggested.contains(QString::number(storm)));
        return path;
    });
    view.ExportButton()->click();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBF设备ID,名称,区划代码,区划名称,SIM卡号,次数"));
    EXPECT_TRUE(csv.contains("=\"0001e240\",东村,=\"110101\",东城区,=\"13800138000\",1,是,成功"));
    EXPECT_TRUE(csv.contains("'=cmd"));
    EXPECT_EQ(csv.count("\r\n"), 4);
}

class HistoryResendTest : public testing::WindowTest {};

TEST_F(HistoryResendTest, ResendGoesToExactlyTheTerminalsWhoseLatestAttemptFailed) {
    ASSERT_EQ(store::kSucceededWord, dispatch::OutcomeWord(GroupOutcome::Succeeded));
    Connect();  // kTerminal online and answering; the others not listed
    constexpr std::uint32_t kFirstTime = 0x00B00001, kSecondTime = 0x00B00002, kAway = 0x00B00003;
    const std::string content = "山洪预警";
    store::Store& store = frame_->Store();
    const std::int64_t id = AddRecord(store, CommandKind::SendPlayContent, true, content, At(2, 7),
                                      {{0, kFirstTime, 1, "成功", 0, ""},
                                       {0, kSecondTime, 1, "超时", 0, ""},
                                       {0, kSecondTime, 2, "成功", 0, ""},
                                       {0, kAway, 1, "离线", 0, ""},
                                       {0, kTerminal, 1, "超时", 0, ""},
                                       {0, kTerminal, 2, "拒绝", 0, ""}});
    ASSERT_TRUE(store.Flush());

    frame_->findChild<QAction*>(QStringLiteral("historyAction"))->trigger();
    HistoryView& view = frame_->History();
    ASSERT_GE(view.List().rowCount(), 1);
    ASSERT_TRUE(view.OpenRecord(id));
    ASSERT_TRUE(view.ResendButton()->isEnabled());
    QStringList asked;
    bool answer = false;
    frame_->CommandView()->Launcher().SetConfirm([&](const QString& text, const QString&) {
        asked << text;
        return answer;
    });
    view.ResendButton()->click();  // No: nothing is sent
    answer = true;
    view.ResendButton()->click();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_TRUE(asked[1].contains(QStringLiteral("记录 %1 中未成功的 2 台设备").arg(id)));
    EXPECT_TRUE(asked[1].contains(QStringLiteral("山洪预警")));
    EXPECT_TRUE(asked[1].contains(QStringLiteral("其中 1 台离线")));

    CGroupJobPanel& panel = *frame_->GroupPanel();
    ASSERT_TRUE(Pump([&] {
        panel.Update();
        return panel.CountsText().contains(QStringLiteral("已完成"));
    }));
    const GroupJobModel& members = panel.Model();
    ASSERT_EQ(members.rowCount(), 2);
    EXPECT_EQ(members.Cell(0, GroupJobModel::kDevice), QStringLiteral("0001e240"));
    EXPECT_EQ(members.Cell(0, GroupJobModel::kOutcome), QStringLiteral("成功"));
    EXPECT_EQ(members.Cell(1, GroupJobModel::kDevice), QStringLiteral("00b00003"));
    EXPECT_EQ(members.Cell(1, GroupJobModel::kOutcome), QStringLiteral("离线"));

    // A record of its own, with the same content.
    WaitIdle();
    ASSERT_TRUE(store.Flush());
    const auto latest = store.LatestWarnings(1);
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_NE(latest[0].id, id);
    EXPECT_EQ(latest[0].content, content);
    EXPECT_EQ(latest[0].gbkHash, dispatch::Sha256Hex(*Utf8ToGbk(content)));
}

}  // namespace
}  // namespace pelmora
