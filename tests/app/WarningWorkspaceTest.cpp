// The warning workspace as an operator uses it: a template, targets by tag
// and by tick, the counts, the send with its validity, the outcomes in place
// and the record.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include "FleetHealthActions.h"
#include "GroupJobPanel.h"
#include "HistoryView.h"
#include "RegionTreeModel.h"
#include "RegistryKeeper.h"
#include "DeviceTable.h"
#include "WarningWorkspace.h"
#include "WindowFixture.h"
#include "Workspaces.h"

namespace pelmora {
namespace {

class WarningWorkspaceTest : public testing::WindowTest {};

TEST_F(WarningWorkspaceTest, ATemplateGoesToTheChosenTargetsAndItsOutcomesAndRecordFollow) {
    frame_->show();
    frame_->resize(1366, 768);
    QCoreApplication::processEvents();
    ASSERT_EQ(frame_->Spaces().Current(), Workspaces::kWarning);
    WarningWorkspace& space = frame_->Warning();

    // A template kept in the database, chosen and edited.
    space.SetAskName([](const QString&, const QString&) { return QStringLiteral("水利/山洪"); });
    space.Content()->setPlainText(QStringLiteral("山洪预警,请立即转移"));
    ASSERT_TRUE(space.SaveTemplate());
    ASSERT_EQ(frame_->Store().Templates().size(), 1u);
    EXPECT_EQ(frame_->Store().Templates()[0].category, "水利");
    space.Content()->clear();
    space.ApplyTemplate(space.TemplateBox()->findData(QStringLiteral("山洪")));
    space.Content()->appendPlainText(QStringLiteral("(演练除外)"));
    EXPECT_TRUE(space.MeasureLabel()->text().startsWith(QStringLiteral("共 ")));

    // Targets: a tag of the registry, plus the ticked row; one terminal is
    // tagged but never seen.
    frame_->StartService();
    StartSimulator();
    AddTerminal(kTerminal);
    AddTerminal(0x00B00002);
    ASSERT_TRUE(testing::Pump([] { return DSGetModemCount() == 2; }));
    frame_->Refresh();
    // With the workspace shown, the device list has room for 15 rows.
    CDeviceTable* list = frame_->DeviceView()->List();
    EXPECT_TRUE(list->isVisible());
    ASSERT_GT(list->sizeHintForRow(0), 0);
    EXPECT_GE(list->viewport()->height() / list->sizeHintForRow(0), 15);
    dispatch::RegistryKeeper& keeper = frame_->Keeper();
    store::Terminal never;
    never.deviceId = 0x00B00009;
    never.tags = "河边";
    keeper.Replace({keeper.Terminals().at(kTerminal), keeper.Terminals().at(0x00B00002), never});
    dispatch::OperatorFields fields;
    fields.tags = "河边;学校";
    ASSERT_EQ(keeper.SetOperatorFields(kTerminal, fields), "");
    space.TagsBox()->setText(QStringLiteral("河边"));
    EXPECT_EQ(space.CountLabel()->text(),
              QStringLiteral("目标: 共 2 台 — 在线 1 台,离线 0 台,从未上线 1 台"));
    frame_->DeviceView()->ShowRegistry();
    for (int row = 0; row < frame_->DeviceView()->RowCount(); ++row)
        frame_->DeviceView()->List()->SetChecked(row,
                                                 frame_->DeviceView()->IdText(row) == "00b00002");
    space.TickedCheck()->setChecked(true);
    EXPECT_TRUE(space.CountLabel()->text().contains(QStringLiteral("共 3 台 — 在线 2 台")));

    // A region of the tree: a county takes its towns.
    fields.tags.clear();
    fields.regionCode = "520113101";
    ASSERT_EQ(keeper.SetOperatorFields(0x00B00002, fields), "");
    frame_->Health().Flush();
    auto* regions = qobject_cast<RegionTreeModel*>(space.RegionTree()->model());
    ASSERT_NE(regions, nullptr);
    space.TickedCheck()->setChecked(false);
    space.TagsBox()->clear();
    regions->SetChecked("520113", true);
    EXPECT_EQ(space.Targets(), (std::vector<std::uint32_t>{0x00B00002}));
    EXPECT_TRUE(space.CountLabel()->text().contains(QStringLiteral("共 1 台 — 在线 1 台")));
    regions->SetChecked("520113", false);
    space.TagsBox()->setText(QStringLiteral("河边"));
    space.TickedCheck()->setChecked(true);

    // Saved as a target group, it comes back.
    space.SetAskName([](const QString&, const QString&) { return QStringLiteral("沿河"); });
    ASSERT_TRUE(space.SaveGroup());
    EXPECT_EQ(frame_->Store().TargetGroups().at(0).devices,
              (std::vector<std::uint32_t>{0x00B00002}));

    // Sent with a validity of its own: outcomes in place, then the record.
    space.ValidityBox()->setValue(30);
    space.PublishButton()->click();
    ASSERT_TRUE(space.ShowingOutcomes());
    ASSERT_TRUE(testing::Pump([&] {
        space.Outcomes()->Update();
        return space.findChild<QPushButton*>("openRecord")->isEnabled();
    }));
    EXPECT_FALSE(frame_->GroupDock()->isVisible());
    EXPECT_TRUE(space.Outcomes()->CountsText().contains(QStringLiteral("成功 2")));
    WaitIdle();
    ASSERT_TRUE(frame_->Store().Flush());
    const auto record = frame_->Store().LatestWarnings(1).at(0);
    EXPECT_EQ(record.content, "山洪预警,请立即转移\r\n(演练除外)");
    EXPECT_EQ(record.expires - record.queued, 30 * 60);
    space.findChild<QPushButton*>("openRecord")->click();
    EXPECT_EQ(frame_->Spaces().Current(), Workspaces::kRecords);
    ASSERT_NE(frame_->History().Detail(), nullptr);
    EXPECT_EQ(frame_->History().Detail()->warning.id, record.id);
}

}  // namespace
}  // namespace pelmora
