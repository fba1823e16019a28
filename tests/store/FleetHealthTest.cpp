// The fleet's health by region, without a window: the tree the registry's
// region codes make (odd ones too), its counts as terminals come and go, the
// failed flags of warnings, the list of changes, and the terminals of a
// county.
#include <gtest/gtest.h>

#include "FleetHealth.h"
#include "RegistryKeeper.h"
#include "Store.h"
#include "WarningRecorder.h"

namespace pelmora::dispatch {
namespace {

store::Terminal At(std::uint32_t id, std::string code, std::string regionName = {}) {
    store::Terminal t;
    t.deviceId = id;
    t.name = "终端" + std::to_string(id);
    t.regionCode = std::move(code);
    t.regionName = std::move(regionName);
    return t;
}

ModemInfo Online(std::uint32_t id) {
    ModemInfo info{};
    info.deviceId = id;
    info.loginTime = 100;
    return info;
}

std::vector<std::string> Codes(const FleetHealth& health, const std::vector<int>& nodes) {
    std::vector<std::string> codes;
    for (const int node : nodes) codes.push_back(health.NodeAt(node).code);
    return codes;
}

TEST(FleetHealth, CountsByRegionFollowTheFleetAndListWhatChanged) {
    auto db = store::MemoryStore();
    RegistryKeeper keeper(*db);
    keeper.Replace({At(1, "420102001001", "东村"), At(2, "420102001002"),
                    At(3, "420102002", "城关镇"), At(4, "420103"), At(5, ""), At(6, "42010x"),
                    At(7, "4201020"), At(8, "abc"), At(9, "42010")});
    keeper.Seen({Online(1), Online(2), Online(4)}, 1000);
    keeper.Seen({Online(1), Online(4)}, 1010);  // 2 was seen, is offline now
    keeper.Power(4, true, 1010);
    FleetHealth health(keeper);
    keeper.SetChangeListener([&](std::uint32_t id, TerminalChange change, std::int64_t now) {
        health.Note(id, change, now);
    });

    // Codes that are not a level's digits hang under the longest level
    // prefix there is; no region comes last.
    EXPECT_EQ(Codes(health, health.TopNodes()), (std::vector<std::string>{"42", "abc", ""}));
    const int county = health.Find("420102");
    ASSERT_GE(county, 0);
    EXPECT_EQ(Codes(health, health.NodeAt(health.Find("4201")).children),
              (std::vector<std::string>{"42010", "420102", "420103", "42010x"}));
    EXPECT_EQ(Codes(health, health.NodeAt(county).children),
              (std::vector<std::string>{"4201020", "420102001", "420102002"}));
    EXPECT_EQ(health.NodeAt(health.NodeAt(county).parent).code, "4201");
    EXPECT_EQ(health.NodeAt(health.Find("420102002")).name, "城关镇");
    EXPECT_EQ(health.NodeAt(health.Find("420102")).name, "420102");
    EXPECT_EQ(health.NodeAt(health.Find("")).name, "未设区划");
    using Counts = FleetHealth::Counts;
    EXPECT_EQ(health.CountsOf("420102"), (Counts{4, 1, 1, 2, 0, 0}));
    EXPECT_EQ(health.CountsOf("42"), (Counts{7, 2, 1, 4, 1, 0}));
    EXPECT_EQ(health.CountsOf("nowhere"), Counts{});
    EXPECT_EQ(health.TerminalsIn({"420102"}), (std::vector<std::uint32_t>{1, 2, 3, 7}));
    EXPECT_EQ(health.TerminalsIn({"4201"}), (std::vector<std::uint32_t>{1, 2, 3, 4, 6, 7, 9}));
    EXPECT_EQ(health.TerminalsIn({"420102001", "", "420102001001", "x"}),
              (std::vector<std::uint32_t>{1, 2, 5}));

    // A terminal's change moves its own chain of nodes only.
    health.TakeChangedNodes();
    keeper.Seen({Online(4)}, 1020);  // 1 leaves
    keeper.Power(1, true, 1021);
    EXPECT_FALSE(health.Stale());
    EXPECT_EQ(Codes(health, health.TakeChangedNodes()),
              (std::vector<std::string>{"42", "4201", "420102", "420102001", "420102001001"}));
    EXPECT_EQ(health.CountsOf("420102001"), (Counts{2, 0, 2, 0, 1, 0}));

    // Only warnings count: a failure marks the terminal and is listed, a
    // cancel changes nothing, a later success clears it.
    WarningRecorder recorder(*db, "值班员", [] { return std::int64_t{1030}; });
    recorder.SetWarningListener([&](std::vector<store::Outcome> o) { health.Outcomes(o); });
    const std::int64_t read = recorder.Started({CommandKind::ReadSettings, false, "", 1, {}});
    recorder.Outcomes(read, {{3, GroupOutcome::TimedOut, 1030, ""}});
    const std::int64_t job = recorder.Started({CommandKind::SendPlayContent, true, "雨", 3, {}});
    recorder.Outcomes(job, {{3, GroupOutcome::TimedOut, 1031, ""},
                            {4, GroupOutcome::Refused, 1031, ""},
                            {2, GroupOutcome::Cancelled, 1031, ""}});
    EXPECT_EQ(health.CountsOf("42").failed, 2);
    const std::int64_t song = recorder.Started({CommandKind::PlayMp3, true, "3", 1, {}});
    recorder.Outcomes(song, {{4, GroupOutcome::Succeeded, 1040, ""}});
    EXPECT_EQ(health.CountsOf("42").failed, 1);
    EXPECT_TRUE(health.Failed(3));

    EXPECT_TRUE(health.Changes().empty()) << "listed only at Publish";
    EXPECT_EQ(health.Publish().added, 4u);
    EXPECT_EQ(std::vector<FleetHealth::Change>(health.Changes().begin(), health.Changes().end()),
              (std::vector<FleetHealth::Change>{{1020, 1, "离线"},
                                                {1021, 1, "电池供电"},
                                                {1031, 3, "预警失败:超时"},
                                                {1031, 4, "预警失败:拒绝"}}));
    // The list keeps the latest thousand; the unseen count counts them all.
    for (std::uint32_t i = 0; i < 1000; ++i) {
        keeper.Seen({Online(4)}, 2000 + i);
        keeper.Seen({}, 2000 + i);
    }
    const FleetHealth::Published published = health.Publish();
    EXPECT_EQ(published.added, 1000u);
    EXPECT_EQ(published.dropped, 4u);
    EXPECT_EQ(health.Changes().front(), (FleetHealth::Change{2000, 4, "离线"}));
    EXPECT_EQ(health.Unseen(), 1004);
    health.MarkSeen();
    EXPECT_EQ(health.Unseen(), 0);
    EXPECT_EQ(health.Changes().size(), 1000u);
    health.ClearChanges();
    EXPECT_TRUE(health.Changes().empty());

    // A region edited: the tree is built again when its owner says so.
    OperatorFields moved;
    moved.regionCode = "420103";
    ASSERT_EQ(keeper.SetOperatorFields(1, moved), "");
    EXPECT_TRUE(health.Stale());
    health.Rebuild();
    EXPECT_FALSE(health.Stale());
    EXPECT_EQ(health.TerminalsIn({"420103"}), (std::vector<std::uint32_t>{1, 4}));
    EXPECT_EQ(health.Find("420102001001"), -1);

    // At the next start the failed flags come back from the record.
    ASSERT_TRUE(db->Flush());
    FleetHealth restarted(keeper);
    EXPECT_EQ(FleetHealth::LatestWarningOutcomes(*db).size(), 3u);
    restarted.Outcomes({{9, 2, 1, "超时", 2000, ""}});  // while the record was read
    restarted.LoadFailures(*db);
    EXPECT_TRUE(restarted.Failed(3));
    EXPECT_FALSE(restarted.Failed(4)) << "its MP3 title played later";
    EXPECT_TRUE(restarted.Failed(2)) << "what came in since the start stays";
    EXPECT_EQ(restarted.CountsOf("42").failed, 2);
    EXPECT_EQ(restarted.Publish().added, 1u) << "only what came in is listed";
}

}  // namespace
}  // namespace pelmora::dispatch
