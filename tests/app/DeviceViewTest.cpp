// Choosing a group in the device list: the filter, the tick buttons and the
// counts, and what a refresh keeps of them; the registry's rows, with their
// region and tag boxes and the long-offline count, and a terminal's page.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>

#include "DeviceTable.h"
#include "DeviceView.h"
#include "RegistryKeeper.h"
#include "Store.h"
#include "TerminalPage.h"

namespace pelmora {

void PrintTo(const CDeviceView::Counts& counts, std::ostream* out) {
    *out << "checked " << counts.checked << ", shown " << counts.shown << ", online "
         << counts.online << ", total " << counts.total << ", battery " << counts.battery
         << ", long offline " << counts.longOffline << ", never online " << counts.neverOnline;
}

namespace {

ModemInfo Terminal(std::uint32_t id, const char* sim, std::uint8_t lastAddressByte) {
    ModemInfo info{};
    info.deviceId = id;
    std::memcpy(info.simNumber, sim, std::min(std::strlen(sim), sizeof info.simNumber - 1));
    const std::uint8_t address[4] = {10, 20, 0, lastAddressByte};
    std::memcpy(info.ipAddress, address, sizeof address);
    info.loginTime = 1700000000;
    info.lastUpdateTime = 1700000000 + id;
    return info;
}

class DeviceViewTest : public ::testing::Test {
  protected:
    // The ID texts of the rows, in list order, that `pick` accepts.
    template <typename Pick>
    std::string Ids(Pick pick) const {
        QStringList ids;
        for (int row = 0; row < view_.RowCount(); ++row)
            if (pick(row)) ids << view_.Cell(row, 0);
        return ids.join(' ').toStdString();
    }
    std::string Shown() const {
        return Ids([this](int row) { return view_.IsShown(row); });
    }
    std::string Ticked() const {
        return Ids([this](int row) { return view_.IsChecked(row); });
    }
    void Tick(const char* id, bool on) {
        view_.List()->SetChecked(view_.FindRow(std::string(id)), on);
    }
    void Press(const char* name) { view_.findChild<QPushButton*>(name)->click(); }
    CDeviceView::Counts Counts(int checked, int shown, int online, int total) const {
        return {checked, shown, online, total};
    }

    CDeviceView view_;
};

TEST_F(DeviceViewTest, FilterTickButtonsAndCountsWorkTogether) {
    const std::vector<ModemInfo> all = {
        Terminal(0xa100, "13900000001", 7), Terminal(0xa101, "13900000002", 8),
        Terminal(0xb200, "13800000003", 77), Terminal(0xb201, "13800000004", 78),
        Terminal(0xc300, "13700000005", 9)};
    view_.Refresh(all);
    view_.Refresh({all[0], all[1], all[2], all[4]});  // 0000b201 goes offline
    EXPECT_EQ(view_.CountsLabel()->text().toStdString(), "已选 0 | 显示 5 | 在线 4 / 共 5");

    // The ID ignores case; the SIM number and the address match anywhere.
    view_.FilterBox()->setText("B2");
    EXPECT_EQ(Shown(), "0000b200 0000b201");
    view_.SetFilterText("1390000");
    EXPECT_EQ(Shown(), "0000a100 0000a101");
    EXPECT_EQ(view_.FilterBox()->text(), "1390000");
    view_.SetFilterText("20.0.7");
    EXPECT_EQ(Shown(), "0000a100 0000b200 0000b201");
    for (const char* odd : {"(*[\\", "%s%n", "\xe5\x9c\xa8\xe7\xba\xbf"}) {
        view_.SetFilterText(QString::fromUtf8(odd));
        EXPECT_EQ(view_.RowCounts().shown, 0) << odd;
    }
    view_.SetFilterText(" b2 ");  // spaces around the text do not count
    EXPECT_EQ(view_.RowCounts(), Counts(0, 2, 4, 5));

    Press("checkOnlineShown");
    EXPECT_EQ(Ticked(), "0000b200");
    Press("checkShown");
    EXPECT_EQ(Ticked(), "0000b200 0000b201");

    // Hidden rows keep their ticks, and count as ticked wherever ticks are
    // read: the first ticked row is still the hidden 0000b200.
    view_.SetFilterText("a1");
    EXPECT_EQ(Ticked(), "0000b200 0000b201");
    EXPECT_EQ(view_.RowCounts(), Counts(2, 2, 4, 5));
    Press("checkShown");
    EXPECT_EQ(Ticked(), "0000a100 0000a101 0000b200 0000b201");
    Tick("0000a100", false);  // one box, as the operator clicks it
    EXPECT_EQ(view_.CountsLabel()->text().toStdString(), "已选 3 | 显示 2 | 在线 4 / 共 5");
    const std::vector<std::pair<std::string, bool>> group = {
        {"0000a101", true}, {"0000b200", true}, {"0000b201", false}};
    EXPECT_EQ(view_.CheckedTerminals(), group);

    Press("uncheckAll");
    EXPECT_EQ(Ticked(), "");
    view_.FilterBox()->clear();
    EXPECT_EQ(view_.RowCounts(), Counts(0, 5, 4, 5));
}

TEST_F(DeviceViewTest, RefreshKeepsTicksAndTheFilter) {
    view_.Refresh({Terminal(0x100, "13900000100", 1), Terminal(0x101, "13900000101", 2),
                   Terminal(0x200, "13800000200", 3), Terminal(0x201, "13800000201", 4)});
    Tick("00000200", true);
    view_.SetFilterText("139");
    Press("checkShown");

    // 0x101 and 0x201 go offline, 0x102 and 0x202 arrive; 0x100 takes a
    // SIM number outside the filter, 0x200 one inside it.
    view_.Refresh({Terminal(0x100, "13800000100", 1), Terminal(0x200, "13900000200", 3),
                   Terminal(0x102, "13900000102", 5), Terminal(0x202, "13800000202", 6)});
    EXPECT_EQ(Ticked(), "00000100 00000101 00000200");
    EXPECT_EQ(Shown(), "00000101 00000200 00000102");
    EXPECT_EQ(view_.Cell(view_.FindRow(std::string("00000101")), 5), QStringLiteral("离线"));
    EXPECT_EQ(view_.RowCounts(), Counts(3, 3, 4, 6));

    // Hidden rows stay hidden when a sort moves them, and through the next
    // refresh.
    view_.List()->SortByColumn(0);
    view_.List()->SortByColumn(0);
    view_.Refresh({Terminal(0x202, "13800000202", 6)});
    EXPECT_EQ(Shown(), "00000200 00000102 00000101");
    EXPECT_EQ(view_.RowCounts(), Counts(3, 3, 1, 6));

    // A stop empties the list; the filter stays for the next start.
    view_.RemoveAllRows();
    EXPECT_EQ(view_.CountsLabel()->text().toStdString(), "已选 0 | 显示 0 | 在线 0 / 共 0");
    view_.Refresh({Terminal(0x100, "13800000100", 1), Terminal(0x101, "13900000101", 2)});
    EXPECT_EQ(Shown(), "00000101");
}

TEST_F(DeviceViewTest, BatteryCountAndRemovingOneOfflineRowKeepTheCountsRight) {
    view_.Refresh({Terminal(0xa1, "13800000001", 1), Terminal(0xb2, "13800000002", 2),
                   Terminal(0xc3, "13900000003", 3)});
    const std::string battery = "\xb1\xb8\xb5\xe7", mains = "\xd6\xf7\xb5\xe7";  // GBK
    view_.SetPowerText(view_.FindRow(std::string("000000a1")), battery);
    view_.SetPowerText(view_.FindRow(std::string("000000b2")), battery);
    view_.SetPowerText(view_.FindRow(std::string("000000b2")), battery);  // no change
    view_.SetPowerText(view_.FindRow(std::string("000000a1")), mains);
    EXPECT_EQ(view_.RowCounts().battery, 1);

    // b2 leaves: hidden by the filter and ticked, it still goes whole.
    view_.Refresh({Terminal(0xa1, "13800000001", 1), Terminal(0xc3, "13900000003", 3)});
    Tick("000000b2", true);
    view_.SetFilterText("139");
    EXPECT_FALSE(view_.RemoveOfflineRow(view_.FindRow(std::string("000000a1"))));  // online
    EXPECT_TRUE(view_.RemoveOfflineRow(view_.FindRow(std::string("000000b2"))));
    EXPECT_EQ(view_.RowCounts(), (CDeviceView::Counts{0, 1, 2, 2, 0}));
    view_.SetFilterText("");
    EXPECT_EQ(Shown(), "000000a1 000000c3");
    // The rows after it are still found, and it comes back as a new row.
    view_.Refresh({Terminal(0xc3, "13900000003", 3), Terminal(0xb2, "13800000002", 2)});
    EXPECT_EQ(Shown(), "000000a1 000000c3 000000b2");
    EXPECT_EQ(view_.RowCounts(), (CDeviceView::Counts{0, 3, 2, 3, 0}));
}

// What the table itself shows, top to bottom: the rows the filter leaves,
// in list order, kept sorted as their texts change.
TEST_F(DeviceViewTest, TheTableShowsTheShownRowsInListOrderAsTheyChange) {
    const auto onScreen = [this] {
        const QAbstractItemModel* table = view_.List()->model();
        QStringList ids;
        for (int r = 0; r < table->rowCount(); ++r) ids << table->index(r, 0).data().toString();
        return ids.join(' ').toStdString();
    };
    std::vector<ModemInfo> all = {Terminal(0x300, "13900000001", 1),
                                  Terminal(0x100, "13800000002", 2),
                                  Terminal(0x200, "13900000003", 3)};
    view_.Refresh(all);
    view_.List()->SortByColumn(CDeviceView::kUpdate);
    EXPECT_EQ(onScreen(), "00000100 00000200 00000300");
    all[2].lastUpdateTime += 0x200;  // 0x200 now the latest
    view_.Refresh(all);
    EXPECT_EQ(onScreen(), "00000100 00000300 00000200");
    EXPECT_EQ(Ids([](int) { return true; }), "00000100 00000300 00000200");

    view_.SetFilterText("1390");
    EXPECT_EQ(onScreen(), "00000300 00000200");
    // A box clicked in the table ticks that row and counts.
    QAbstractItemModel* table = view_.List()->model();
    table->setData(table->index(1, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(Ticked(), "00000200");
    EXPECT_TRUE(view_.CountsLabel()->text().startsWith(QStringLiteral("已选 1 | 显示 2")));

    // Many rows leaving the filter in one refresh are left out all at once.
    std::vector<ModemInfo> many;
    for (std::uint32_t id = 0x400; id < 0x440; ++id) many.push_back(Terminal(id, "13900000000", 9));
    view_.Refresh(many);
    EXPECT_EQ(table->rowCount(), 2 + 64);
    for (ModemInfo& info : many) std::memcpy(info.simNumber, "138", 3);
    view_.Refresh(many);
    EXPECT_EQ(onScreen(), "00000300 00000200");
    EXPECT_EQ(view_.RowCounts(), Counts(1, 2, 64, 67));
}

// The list with a registry in memory behind it, on the test's clock.
class RegistryViewTest : public DeviceViewTest {
  protected:
    static constexpr std::int64_t kNow = 1'800'000'000;

    static store::Terminal Registered(std::uint32_t id, std::int64_t lastSeen,
                                      const char* regionCode = "", const char* regionName = "",
                                      const char* tags = "") {
        store::Terminal t;
        t.deviceId = id;
        t.firstSeen = t.lastSeen = lastSeen;
        t.regionCode = regionCode;
        t.regionName = regionName;
        t.tags = tags;
        return t;
    }
    void Load(std::vector<store::Terminal> terminals) {
        keeper_.Replace(std::move(terminals));
        view_.SetRegistry({&keeper_, [this] { return now_; }, [this] { return minutes_; }});
        view_.ShowRegistry();
    }
    QStringList Entries(QComboBox* box) const {
        QStringList entries;
        for (int i = 0; i < box->count(); ++i) entries << box->itemText(i);
        return entries;
    }
    void Choose(QComboBox* box, const QString& data) { box->setCurrentIndex(box->findData(data)); }

    std::unique_ptr<store::Store> store_ = store::MemoryStore();
    dispatch::RegistryKeeper keeper_{*store_};
    std::int64_t now_ = kNow;
    int minutes_ = 30;
};

TEST_F(RegistryViewTest, RegionAndTagBoxesFilterAndFollowTheRegistry) {
    Load({Registered(0xa1, kNow, "3301", "东区", "学校;山区"),
          Registered(0xa2, kNow, "3302", "", " 山区 "), Registered(0xa3, kNow),
          Registered(0xa4, kNow, "", "西区", "学校")});
    EXPECT_EQ(Entries(view_.RegionBox()), QStringList({"全部区划", "3302", "东区 (3301)", "西区"}));
    EXPECT_EQ(Entries(view_.TagBox()), QStringList({"全部标签", "山区", "学校"}));
    EXPECT_EQ(view_.Cell(view_.FindRow(std::string("000000a1")), CDeviceView::kRegion), "东区");
    EXPECT_EQ(view_.Cell(view_.FindRow(std::string("000000a2")), CDeviceView::kRegion), "3302");

    Choose(view_.RegionBox(), "3301");
    EXPECT_EQ(Shown(), "000000a1");
    Choose(view_.TagBox(), QStringLiteral("山区"));  // both at once
    EXPECT_EQ(Shown(), "000000a1");
    Choose(view_.RegionBox(), "");
    EXPECT_EQ(Shown(), "000000a1 000000a2");
    view_.SetTagFilter("");
    EXPECT_EQ(view_.TagBox()->currentIndex(), 0);
    // The text matches names, region names and codes, and tags too.
    view_.SetFilterText("3301");
    EXPECT_EQ(Shown(), "000000a1");
    view_.SetFilterText(QStringLiteral("西"));
    EXPECT_EQ(Shown(), "000000a4");
    view_.SetFilterText(QStringLiteral("学校"));
    EXPECT_EQ(Shown(), "000000a1 000000a4");
    view_.SetFilterText("");

    // The registry changes: the boxes follow, and a chosen region that is
    // gone chooses every region again.
    view_.SetRegionFilter("3302");
    EXPECT_EQ(Shown(), "000000a2");
    dispatch::OperatorFields moved;
    moved.regionCode = "3301";
    moved.tags = QStringLiteral("水库").toStdString();
    ASSERT_EQ(keeper_.SetOperatorFields(0xa2, moved), "");
    view_.ShowRegistry();
    EXPECT_EQ(Entries(view_.RegionBox()), QStringList({"全部区划", "东区 (3301)", "西区"}));
    EXPECT_EQ(Entries(view_.TagBox()), QStringList({"全部标签", "山区", "水库", "学校"}));
    EXPECT_EQ(view_.RegionBox()->currentIndex(), 0);
    EXPECT_EQ(view_.RowCounts().shown, 4);
    EXPECT_EQ(view_.Cell(view_.FindRow(std::string("000000a2")), CDeviceView::kTags),
              QStringLiteral("水库"));
}

TEST_F(RegistryViewTest, LongOfflineCountFollowsTheClockAndTheTerminalsComingOnline) {
    Load({Registered(0xb1, kNow - 31 * 60), Registered(0xb2, kNow - 29 * 60),
          Registered(0xb3, kNow - 10 * 60), Registered(0xb4, 0)});
    EXPECT_EQ(view_.RowCounts().longOffline, 1);
    EXPECT_EQ(view_.RowCounts().neverOnline, 1);
    EXPECT_TRUE(view_.CountsLabel()->text().endsWith(QStringLiteral(" | 离线超过30分钟: 1")))
        << view_.CountsLabel()->text().toStdString();
    EXPECT_EQ(view_.Cell(view_.FindRow(std::string("000000b2")), CDeviceView::kOnline),
              QStringLiteral("离线 29 分钟"));

    // Two minutes on, at the pass without a refresh; 0xb1 then comes online.
    now_ += 120;
    view_.ShowRegistry();
    EXPECT_EQ(view_.Cell(view_.FindRow(std::string("000000b2")), CDeviceView::kOnline),
              QStringLiteral("离线 31 分钟"));
    EXPECT_EQ(view_.RowCounts().longOffline, 2);
    const ModemInfo b1 = Terminal(0xb1, "13900000001", 1);
    keeper_.Seen({b1}, now_);
    view_.Refresh({b1});
    EXPECT_EQ(view_.RowCounts().longOffline, 1);
    EXPECT_EQ(view_.RowCounts().online, 1);
    EXPECT_EQ(view_.RowCount(), 4);
    // A shorter long-offline time counts more.
    minutes_ = 5;
    view_.ShowRegistry();
    EXPECT_EQ(view_.RowCounts().longOffline, 2);
    EXPECT_TRUE(view_.CountsLabel()->text().endsWith(QStringLiteral(" | 离线超过5分钟: 2")));
}

TEST_F(RegistryViewTest, ALargeRegistryJoinsTheListAtOnceWithOneRowPerTerminal) {
    std::vector<store::Terminal> fleet;
    const int count = CDeviceView::kRowsPerPass + 500;
    for (int i = 0; i < count; ++i)
        fleet.push_back(Registered(0x1000 + static_cast<std::uint32_t>(i), kNow - 3600));
    Load(std::move(fleet));
    EXPECT_EQ(view_.RowCount(), 0);  // made, not yet listed

    // One of them comes online before the rest are made: its own row only.
    const ModemInfo online = Terminal(0x1000 + count - 1, "13900000001", 1);
    keeper_.Seen({online}, now_);
    view_.Refresh({online});
    EXPECT_EQ(view_.RowCount(), count);
    EXPECT_EQ(view_.RowCounts().online, 1);
    const int row = view_.FindRow(QString::asprintf("%08x", online.deviceId));
    EXPECT_EQ(view_.Cell(row, CDeviceView::kOnline), QStringLiteral("在线"));
    EXPECT_EQ(view_.Cell(view_.FindRow(std::string("00001000")), CDeviceView::kOnline),
              QStringLiteral("离线 1 小时"));
}

TEST_F(RegistryViewTest, TerminalPageSavesTheOperatorsFieldsAndRefusesBadCoordinates) {
    Load({Registered(0xc1, kNow - 3600, "3301", "东区")});
    store_->AddEvents({{kNow - 7200, 0xc1, "online", "10.0.0.1"},
                       {kNow - 3600, 0xc1, "offline", ""},
                       {kNow - 3000, 0xc1, "power", "备电"}});
    ASSERT_TRUE(store_->Flush());
    QStringList told;
    CTerminalPage page(keeper_, 0xc1, kNow,
                       [&](const QString& text, const QString&) { told << text; });
    ASSERT_EQ(page.History()->rowCount(), 3);
    EXPECT_EQ(page.History()->item(0, 1)->text(), QStringLiteral("电源"));
    EXPECT_EQ(page.History()->item(2, 1)->text(), QStringLiteral("上线"));
    EXPECT_EQ(page.History()->item(2, 2)->text(), "10.0.0.1");
    EXPECT_EQ(page.Field("regionName")->text(), QStringLiteral("东区"));

    page.Field("name")->setText(QStringLiteral(" 东村广播 "));
    page.Field("latitude")->setText("91");
    EXPECT_FALSE(page.Save());
    page.Field("latitude")->setText("north");
    EXPECT_FALSE(page.Save());
    ASSERT_EQ(told.size(), 2);
    EXPECT_TRUE(told[0].contains(QStringLiteral("纬度必须在 -90 到 90 之间")));
    EXPECT_TRUE(told[1].contains(QStringLiteral("纬度不是数字")));
    EXPECT_EQ(keeper_.Terminals().at(0xc1).name, "");

    page.Field("latitude")->setText("30.25");
    page.Field("longitude")->setText("-120.5");
    page.Field("tags")->setText(QStringLiteral("学校;山区"));
    EXPECT_TRUE(page.Save());
    ASSERT_TRUE(store_->Flush());
    const std::optional<store::Terminal> saved = store_->FindTerminal(0xc1);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->name, QStringLiteral("东村广播").toStdString());
    EXPECT_EQ(saved->latitude, 30.25);
    EXPECT_EQ(saved->longitude, -120.5);
    EXPECT_EQ(saved->regionCode, "3301");
    view_.ShowRegistry();
    EXPECT_EQ(view_.Cell(0, CDeviceView::kName), QStringLiteral("东村广播"));
}

}  // namespace
}  // namespace pelmora
