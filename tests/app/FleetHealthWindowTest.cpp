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
#include <QWidget>

#include "DrillMode.h"
#include "FleetHealthActions.h"
#include "FleetHealthPanel.h"
#include "RegionTreeModel.h"
#include "RegistryKeeper.h"
#include "Store.h"
#include "WarningRecorder.h"
#include "WindowTitle.h"

namespace pelmora {
namespace {

using testing::Pump;

class FleetHealthWindowTest : public testing::WindowTest {};

TEST_F(FleetHealthWindowTest, ATerminalGoingOfflineIsListedAndCountedInTheTitleUntilSeen) {
    Connect();
    FleetHealthActions& health = frame_->Health();
    health.Flush();  // as the timer would
    auto* panel = frame_->findChild<FleetHealthPanel*>("fleetHealthPanel");
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

// The tree as another view chooses regions from it: checks go down to every
// region below and show in part above; counts change rows, never the model.
TEST(RegionTreeModel, ChecksCascadeAndGiveTheHighestCheckedRegionsAcrossANewTree) {
    QTemporaryDir dir;
    ServiceSettings settings(dir.filePath("settings.ini"));
    auto db = store::MemoryStore();
    dispatch::RegistryKeeper keeper(*db);
    const auto at = [](std::uint32_t id, const char* code) {
        store::Terminal t;
        t.deviceId = id;
        t.regionCode = code;
        t.regionName = std::string("区") + code;
        return t;
    };
    keeper.Replace({at(1, "420102001001"), at(2, "420102001002"), at(3, "420102002001"),
                    at(4, "420103001001")});
    dispatch::WarningRecorder recorder(*db, "值班员");
    QWidget window;
    WindowTitle title(window, "Pelmora");
    FleetHealthActions health(keeper, recorder, *db, settings, title, {});
    RegionTreeModel model(health, true);
    int resets = 0, changed = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] { ++changed; });
    EXPECT_EQ(model.IndexOf("420102001001").data().toString(),
              QStringLiteral("○ 区420102001001 (420102001001)"));

    model.SetChecked("420102", true);
    EXPECT_EQ(model.CheckedCodes(), std::vector<std::string>{"420102"});
    ASSERT_TRUE(model.setData(model.IndexOf("420102001002"), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(model.IndexOf("420102").data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    EXPECT_EQ(model.IndexOf("42").data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    EXPECT_EQ(model.CheckedCodes(), (std::vector<std::string>{"420102001001", "420102002"}));
    EXPECT_EQ(health.Health().TerminalsIn(model.CheckedCodes()),
              (std::vector<std::uint32_t>{1, 3}));

    // Every terminal online in one go: one pass, rows told, no reset.
    std::vector<ModemInfo> online(4);
    for (std::uint32_t id = 1; id <= 4; ++id) online[id - 1].deviceId = id;
    keeper.Seen(online, 1000);
    changed = 0;
    health.Flush();
    EXPECT_EQ(resets, 0);
    EXPECT_GT(changed, 0);
    EXPECT_EQ(model.IndexOf("42", RegionTreeModel::kOnline).data().toInt(), 4);
    EXPECT_TRUE(model.IndexOf("42").data().toString().startsWith(QStringLiteral("✓ ")));

    // A terminal added in a checked town: the tree is new, the town still
    // checked with it.
    keeper.Replace({at(5, "420102002002")});
    health.Flush();
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(model.CheckedCodes(), (std::vector<std::string>{"420102001001", "420102002"}));
    EXPECT_EQ(health.Health().TerminalsIn(model.CheckedCodes()),
              (std::vector<std::uint32_t>{1, 3, 5}));
}

}  // namespace
}  // namespace pelmora
