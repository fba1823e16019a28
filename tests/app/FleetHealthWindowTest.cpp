// The fleet's health in the window: a terminal of the simulator going
// offline shows in the region tree, in the change list and as a count in the
// title (beside the drill mark), until the operator has seen it; the change
// sound is kept in the settings, and a stored value that is no switch falls
// back to off.
#include <gtest/gtest.h>

#include "WindowFixture.h"

#include <QAction>
#include <QDockWidget>
#include <QPushButton>
#include <QSettings>
#include <QTableView>

#include "DrillMode.h"
#include "FleetHealthActions.h"
#include "FleetHealthPanel.h"
#include "RegionTreeModel.h"

namespace pelmora {
namespace {

using testing::Pump;

class FleetHealthWindowTest : public testing::WindowTest {};

TEST_F(FleetHealthWindowTest, ATerminalGoingOfflineIsListedAndCountedInTheTitleUntilSeen) {
    Connect();
    FleetHealthActions& health = frame_->Health();
    health.Flush();  // as the timer would
    auto* panel = frame_->HealthDock()->findChild<FleetHealthPanel*>("fleetHealthPanel");
    ASSERT_NE(panel, nullptr);
    const QAbstractItemModel& changes = *panel->findChild<QTableView*>("changeTable")->model();
    const RegionTreeModel& regions = *panel->Regions();
    const QModelIndex none = regions.IndexOf("");
    ASSERT_TRUE(none.isValid());
    EXPECT_EQ(none.data().toString(), QStringLiteral("✓ 未设区划"));
    EXPECT_EQ(regions.IndexOf("", RegionTreeModel::kOnline).data().toInt(), 1);
    EXPECT_EQ(changes.rowCount(), 0);

    sim_->Close(0);
    ASSERT_TRUE(Pump([] { return DSGetModemCount() == 0; }));
    frame_->Refresh();
    health.Flush();
    ASSERT_EQ(changes.rowCount(), 1);
    EXPECT_EQ(changes.index(0, ChangeListModel::kDevice).data().toString(), "0001e240");
    EXPECT_EQ(changes.index(0, ChangeListModel::kWhat).data().toString(), QStringLiteral("离线"));
    EXPECT_EQ(regions.IndexOf("", RegionTreeModel::kOffline).data().toInt(), 1);
    EXPECT_TRUE(none.data().toString().startsWith(QStringLiteral("○ ")));
    EXPECT_EQ(frame_->windowTitle(), "(1) PelmoraV1.2");
    ASSERT_TRUE(frame_->Drill().Set(true));
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("(1) PelmoraV1.2 [演练模式]"));

    panel->findChild<QPushButton*>("changeSeen")->click();
    EXPECT_EQ(changes.rowCount(), 0);
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("PelmoraV1.2 [演练模式]"));
    ASSERT_TRUE(frame_->Drill().Set(false));
    EXPECT_EQ(frame_->windowTitle(), "PelmoraV1.2");

    // The sound is off unless the operator turns it on, and stays so.
    EXPECT_FALSE(health.SoundAction()->isChecked());
    health.SoundAction()->setChecked(true);
    settings_->Load();
    EXPECT_TRUE(settings_->healthSound);
    const QString file = dir_.filePath("loud.ini");
    QSettings(file, QSettings::IniFormat).setValue("health/sound", "loud");
    ServiceSettings loud(file);
    loud.Load();
    EXPECT_FALSE(loud.healthSound);
    EXPECT_TRUE(loud.loadNotice.contains(QStringLiteral("“health/sound”值“loud”无效")));
}

}  // namespace
}  // namespace pelmora
