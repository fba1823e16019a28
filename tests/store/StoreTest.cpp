// The store on SQLite: what it keeps survives a reopen, a damaged or held
// file never stops the centre, and the registry's CSV goes through a
// spreadsheet and back.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "FollowUps.h"
#include "RegistryCsv.h"
#include "RegistryKeeper.h"
#include "Store.h"
#include "Targets.h"
#include "WarningRecorder.h"

namespace pelmora::store {
namespace {

namespace fs = std::filesystem;

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pelmora-store-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "pelmora.db").string();
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
    std::string path_;
};

Terminal Named(std::uint32_t id, std::string name) {
    Terminal t;
    t.deviceId = id;
    t.name = std::move(name);
    t.latitude = 30.5;
    t.tags = "县城;学校";
    return t;
}

TEST_F(StoreTest, WhatWasCommittedSurvivesAReopenAndARunningJobEndsUnfinished) {
    std::int64_t id = 0;
    {
        auto store = OpenStore(path_);
        ASSERT_TRUE(store->Persistent()) << store->Problem();
        store->SaveTerminals({Named(0x0001e240, "东村"), Named(7, "西村")});
        Warning warning;
        warning.group = true;
        warning.content = "暴雨预警";
        warning.state = "running";
        id = store->AddWarning(warning);
        store->AddOutcomes({{id, 0x0001e240, 1, "成功", 100, ""}, {id, 7, 1, "超时", 160, ""}});
        store->SaveTemplate({"山洪", "水利", "旧文"});
        store->SaveTemplate({"山洪", "水利", "请立即转移"});  // replaces by name
        store->SaveTemplate({"地震", "地震", "x"});
        store->DeleteTemplate("地震");
        store->SaveTargetGroup({"沿河村", {"510101", "", "510102001"}, {"学校"}, {0x0001e240, 7}});
        ASSERT_TRUE(store->Flush());
        EXPECT_EQ(store->AddWarning(Warning{}), id + 1);
    }
    auto store = OpenStore(path_);
    ASSERT_TRUE(store->Persistent()) << store->Problem();
    const auto terminals = store->Terminals();
    ASSERT_EQ(terminals.size(), 2u);
    EXPECT_EQ(terminals[1], Named(0x0001e240, "东村"));
    const auto latest = store->LatestWarnings(10);
    ASSERT_EQ(latest.size(), 2u);
    EXPECT_EQ(latest[1].content, "暴雨预警");
    EXPECT_EQ(latest[1].state, "unfinished");
    EXPECT_EQ(store->OutcomesOf(id).size(), 2u);
    EXPECT_EQ(store->Templates(), (std::vector<WarningTemplate>{{"山洪", "水利", "请立即转移"}}));
    EXPECT_EQ(
        store->TargetGroups(),
        (std::vector<TargetGroup>{{"沿河村", {"510101", "510102001"}, {"学校"}, {0x0001e240, 7}}}));
    EXPECT_EQ(store->AddWarning(Warning{}), id + 2);  // ids go on after a restart
    // Events past their days are pruned at the next start.
    const std::int64_t now = std::time(nullptr);
    store->AddEvents({{now - (kEventDays + 1) * 86400, 7, "offline", ""}, {now, 7, "online", ""}});
    ASSERT_TRUE(store->Flush());
    store.reset();
    store = OpenStore(path_);
    EXPECT_EQ(store->EventsOf(7, 10).size(), 1u);
}

TEST_F(StoreTest, RecordsAreFoundByTimeKindRegionLatestOutcomeAndTextAndFollowUpsSurvive) {
    {
        auto store = OpenStore(path_);
        Terminal county = Named(1, "县城");
        county.regionCode = "420102001";
        Terminal village = Named(2, "村口");
        village.regionCode = "420103";
        store->SaveTerminals({county, village});
        auto add = [&](int kind, const char* content, std::int64_t queued) {
            Warning w;
            w.kind = kind;
            w.content = content;
            w.queued = queued;
            w.state = "finished";
            return store->AddWarning(w);
        };
        const std::int64_t rain = add(20, "暴雨红色预警", 1000);
        const std::int64_t song = add(18, "3", 2000);
        const std::int64_t wind = add(20, "大风蓝色预警", 3000);
        // Terminal 2 missed the rain warning first, then got it.
        store->AddOutcomes({{rain, 2, 1, "离线", 1000, ""},
                            {rain, 2, 2, "成功", 1500, ""},
                            {song, 1, 1, "超时", 2000, ""},
                            {wind, 2, 1, "离线", 3000, ""}});
        store->SaveFollowUps({{wind, 2, 9000, "pending", 1}, {rain, 2, 9000, "done", 2}});
        ASSERT_TRUE(store->Flush());
        auto ids = [&](auto narrow) {
            WarningQuery q;
            narrow(q);
            std::vector<std::int64_t> found;
            for (const Warning& w : store->FindWarnings(q)) found.push_back(w.id);
            return found;
        };
        EXPECT_EQ(ids([](WarningQuery&) {}), (std::vector<std::int64_t>{wind, song, rain}));
        EXPECT_EQ(ids([](WarningQuery& q) { q.from = 1500, q.to = 3000; }),
                  std::vector<std::int64_t>{song});
        EXPECT_EQ(ids([](WarningQuery& q) { q.kind = 20; }),
                  (std::vector<std::int64_t>{wind, rain}));
        EXPECT_EQ(ids([](WarningQuery& q) { q.regionCode = "420102"; }),
                  std::vector<std::int64_t>{song});
        // Only the latest attempt counts: the rain warning reached terminal 2.
        EXPECT_EQ(ids([](WarningQuery& q) { q.word = "离线"; }), std::vector<std::int64_t>{wind});
        EXPECT_EQ(ids([](WarningQuery& q) { q.text = "红色"; }), std::vector<std::int64_t>{rain});
        EXPECT_EQ(ids([](WarningQuery& q) { q.count = 1; }), std::vector<std::int64_t>{wind});
        ASSERT_TRUE(store->FindWarning(song));
        EXPECT_EQ(store->FindWarning(song)->content, "3");
        EXPECT_FALSE(store->FindWarning(99));
    }
    auto store = OpenStore(path_);
    EXPECT_EQ(store->PendingFollowUps(), (std::vector<FollowUp>{{3, 2, 9000, "pending", 1}}));
}

TEST_F(StoreTest, ADamagedHeldOrUnwritableFileLeavesTheStoreInMemory) {
    {
        std::ofstream junk(path_, std::ios::binary);
        junk << std::string(8192, 'x');
    }
    auto repaired = OpenStore(path_);
    EXPECT_TRUE(repaired->Persistent());
    EXPECT_NE(repaired->Problem().find("damaged"), std::string::npos);
    int asides = 0;
    for (const auto& entry : fs::directory_iterator(dir_))
        asides += entry.path().filename().string().find(".damaged-") != std::string::npos;
    EXPECT_EQ(asides, 1);  // kept aside, never deleted

    // A second program on the same file works in memory and says so.
    auto second = OpenStore(path_);
    EXPECT_FALSE(second->Persistent());
    EXPECT_NE(second->Problem().find("another program"), std::string::npos);
    second->SaveTerminals({Named(1, "a")});
    ASSERT_TRUE(second->Flush());
    EXPECT_EQ(second->Terminals().size(), 1u);
    repaired.reset();

    // A folder that cannot hold the file (here a file stands where the folder
    // would be, which stops root as well as anyone).
    { std::ofstream(dir_ / "notafolder") << "x"; }
    auto unwritable = OpenStore((dir_ / "notafolder" / "pelmora.db").string());
    EXPECT_FALSE(unwritable->Persistent());
    EXPECT_FALSE(unwritable->Problem().empty());
}

// A child process writes outcomes and says how many are committed; the
// test kills it mid-job. What was committed is there at the next start.
TEST_F(StoreTest, AKillLosesNothingCommittedAndTheJobEndsUnfinished) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeEnds[0]);
        auto store = OpenStore(path_);
        Warning warning;
        warning.group = true;
        warning.state = "running";
        const std::int64_t id = store->AddWarning(warning);
        for (std::uint32_t batch = 0;; ++batch) {
            std::vector<Outcome> outcomes;
            for (std::uint32_t i = 0; i < 100; ++i)
                outcomes.push_back({id, batch * 100 + i, 1, "成功", 1, ""});
            store->AddOutcomes(std::move(outcomes));
            if (!store->Flush()) ::_exit(2);
            const std::uint32_t committed = (batch + 1) * 100;
            if (::write(pipeEnds[1], &committed, sizeof committed) != sizeof committed) ::_exit(3);
        }
    }
    ::close(pipeEnds[1]);
    std::uint32_t committed = 0;
    while (committed < 1000) {
        ASSERT_EQ(::read(pipeEnds[0], &committed, sizeof committed),
                  static_cast<ssize_t>(sizeof committed));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(pipeEnds[0]);

    auto store = OpenStore(path_);
    ASSERT_TRUE(store->Persistent()) << store->Problem();
    const auto latest = store->LatestWarnings(1);
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_EQ(latest[0].state, "unfinished");
    EXPECT_GE(store->OutcomesOf(latest[0].id).size(), committed);
}

// Writes that fail for want of room are kept and go in once there is room:
// run in a child process, whose file-size limit stands in for a full disk.
int FullDiskChild(const std::string& path) {
    auto store = OpenStore(path);
    if (!store->Persistent()) return 10;
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    rlimit small = limit;
    small.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const std::int64_t id = store->AddWarning(Warning{});
    std::vector<Outcome> outcomes;
    for (std::uint32_t i = 0; i < 20000; ++i)
        outcomes.push_back({id, i, 1, "成功", 1, std::string(40, 'x')});
    store->AddOutcomes(outcomes);
    if (store->Flush()) return 11;  // it cannot have gone in
    if (store->Problem().empty()) return 12;
    ::setrlimit(RLIMIT_FSIZE, &limit);  // room again
    while (!store->Flush()) ::usleep(10000);
    return store->OutcomesOf(id).size() == outcomes.size() ? 0 : 13;
}

TEST_F(StoreTest, AFullDiskLosesNothingAndWritesResume) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: no threads inherited
    EXPECT_EXIT(::_exit(FullDiskChild(path_)), ::testing::ExitedWithCode(0), "");
}

TEST(RegistryKeeper, FollowsTheLinkAndWritesOnlyWhatChanged) {
    auto db = MemoryStore();
    db->SaveTerminals({Named(9, "never seen")});
    ASSERT_TRUE(db->Flush());
    dispatch::RegistryKeeper keeper(*db);
    ModemInfo info{};
    info.deviceId = 0x0001e240;
    std::memcpy(info.simNumber, "13800138000", 12);
    info.ipAddress[0] = 10;
    info.ipAddress[3] = 7;
    info.loginTime = 500;
    keeper.Seen({info}, 1000);
    keeper.Seen({info}, 1005);  // nothing new: nothing written
    keeper.Power(0x0001e240, true, 1010);
    keeper.Power(0x0001e240, true, 1020);
    ASSERT_TRUE(db->Flush());
    auto seen = db->FindTerminal(0x0001e240);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->sim, "13800138000");
    EXPECT_EQ(seen->address, "10.0.0.7");
    EXPECT_EQ(seen->firstSeen, 1000);
    EXPECT_EQ(seen->lastSeen, 1000);
    EXPECT_EQ(seen->power, kPowerBattery);
    EXPECT_EQ(seen->powerChanged, 1010);

    keeper.Seen({}, 2000);  // it left
    info.loginTime = 2500;  // and came back
    keeper.Seen({info}, 3000);
    ASSERT_TRUE(db->Flush());
    seen = db->FindTerminal(0x0001e240);
    EXPECT_EQ(seen->firstSeen, 1000);
    EXPECT_EQ(seen->lastSeen, 3000);
    EXPECT_EQ(db->FindTerminal(9)->firstSeen, 0);  // the operator's entry stays
    EXPECT_EQ(db->FindTerminal(9)->name, "never seen");
    // Its history, newest first: back online, offline, on battery, online.
    const auto history = db->EventsOf(0x0001e240, 10);
    ASSERT_EQ(history.size(), 4u);
    EXPECT_EQ(history[0], (Event{3000, 0x0001e240, "online", "10.0.0.7"}));
    EXPECT_EQ(history[1].kind, "offline");
    EXPECT_EQ(history[2], (Event{1010, 0x0001e240, "power", "备电"}));
    EXPECT_EQ(history[3].time, 1000);
}

TEST_F(StoreTest, MissedTerminalsGetAWarningAgainWhenTheyRegisterUntilItExpiresEvenAfterARestart) {
    std::int64_t now = 1000;
    const auto clock = [&] { return now; };
    const auto online = [](std::uint32_t) { return true; };
    std::int64_t warning = 0;
    {
        auto store = OpenStore(path_);
        dispatch::FollowUps followUps(*store, clock);
        dispatch::WarningRecorder recorder(*store, "值班员", clock, &followUps);
        recorder.SetDefaultValidity(3600);
        // A read-back is never followed up; a play-content job is.
        const std::int64_t read = recorder.Started({CommandKind::ReadSettings, false, "", 1, {}});
        recorder.Outcomes(read, {{9, GroupOutcome::Offline, now, ""}});
        const std::int64_t job =
            recorder.Started({CommandKind::SendPlayContent, true, "rain", 4, {}});
        recorder.Outcomes(job, {{1, GroupOutcome::Offline, now, ""},
                                {2, GroupOutcome::TimedOut, now, ""},
                                {3, GroupOutcome::Succeeded, now, ""},
                                {4, GroupOutcome::Cancelled, now, ""}});
        recorder.Ended(job, true);
        ASSERT_TRUE(store->Flush());
        warning = store->LatestWarnings(1).at(0).id;
        EXPECT_EQ(store->FindWarning(warning)->expires, 1000 + 3600);
        EXPECT_FALSE(followUps.Next(online)) << "nobody registered yet";
        // Terminal 1 comes back: the follow-up is attempt 2 of the same record.
        followUps.Registered({1, 3, 9});
        auto next = followUps.Next(online);
        ASSERT_TRUE(next);
        EXPECT_EQ(next->warningId, warning);
        EXPECT_EQ(next->text, "rain");
        EXPECT_EQ(next->attempt, 2);
        EXPECT_EQ(next->deviceIds, std::vector<std::uint32_t>{1});
        followUps.Taken(*next);
        EXPECT_FALSE(followUps.Next(online)) << "taken, not due again until it registers";
        RecordedJob again{CommandKind::SendPlayContent, true, "rain", 1, {warning, 2, -1}};
        const std::int64_t second = recorder.Started(again);
        recorder.Outcomes(second, {{1, GroupOutcome::Succeeded, now + 5, ""}});
        recorder.Ended(second, true);
        // A late failure of the first attempt never makes it owed again.
        followUps.Settled(warning, CommandKind::SendPlayContent, "rain", 4600, 1, 1,
                          GroupOutcome::TimedOut);
        ASSERT_TRUE(store->Flush());
        EXPECT_EQ(store->LatestWarnings(5).size(), 2u) << "the follow-up added no record";
        const auto outcomes = store->OutcomesOf(warning);
        EXPECT_EQ(outcomes.size(), 5u);
        EXPECT_EQ(outcomes.at(1), (Outcome{warning, 1, 2, "成功", 1005, ""}));
    }
    // After a restart terminal 2 is still owed it, and it can be cancelled.
    auto store = OpenStore(path_);
    dispatch::FollowUps followUps(*store, clock);
    followUps.Load();
    EXPECT_EQ(followUps.Pending(), (std::vector<FollowUp>{{warning, 2, 4600, "pending", 1}}));
    followUps.Registered({2});
    auto next = followUps.Next(online);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->text, "rain") << "the content comes back from the record";
    EXPECT_FALSE(followUps.Next([](std::uint32_t) { return false; })) << "gone again";
    now = 4600;
    EXPECT_FALSE(followUps.Next(online)) << "expired";
    EXPECT_TRUE(followUps.Pending().empty());
    ASSERT_TRUE(store->Flush());
    EXPECT_TRUE(store->PendingFollowUps().empty());
}

TEST(RegistryCsv, BadRowsAreNamedByLineAndGoodOnesRoundTripThroughASpreadsheet) {
    const std::string text =
        "\xEF\xBB\xBF"
        "device_id,名称,纬度,unknown\r\n"
        "0001e240,\"东村,一组\",30.25,x\r\n"
        "\r\n"
        "zz,西村,,\r\n"
        "00000007,\"多行\n名称\",95,\r\n"
        "0001E240,重复,,\r\n";
    const CsvImport parsed = ParseRegistryCsv(text);
    ASSERT_EQ(parsed.rows.size(), 1u);
    EXPECT_EQ(parsed.rows[0].name, "东村,一组");
    EXPECT_EQ(parsed.rows[0].latitude, 30.25);
    ASSERT_EQ(parsed.problems.size(), 3u);
    EXPECT_EQ(parsed.problems[0].line, 4u);
    EXPECT_EQ(parsed.problems[1].line, 5u);
    EXPECT_NE(parsed.problems[1].reason.find("纬度"), std::string::npos);
    EXPECT_EQ(parsed.problems[2].line, 7u);  // the quoted row took two lines
    EXPECT_TRUE(parsed.hasName && parsed.hasLatitude && !parsed.hasTags);

    EXPECT_EQ(ParseRegistryCsv("名称\r\nx\r\n").problems.at(0).line, 1u);
    EXPECT_FALSE(ParseRegistryCsv("device_id\r\n\"0001e240\r\n").problems.empty());
    EXPECT_FALSE(ParseRegistryCsv("device_id\r\n\xFF\xFE\r\n").problems.empty());

    // Export keeps IDs and SIM numbers as text and formulas inert; import
    // reads them back as they were.
    Terminal t = Named(0x0001e240, "=cmd|' /C calc'!A0");
    t.sim = "13800138000";
    t.note = "@SUM(1)";
    t.longitude = -73.5;
    const std::string csv = RegistryCsv({t});
    EXPECT_NE(csv.find("=\"0001e240\""), std::string::npos);
    EXPECT_NE(csv.find("=\"13800138000\""), std::string::npos);
    EXPECT_NE(csv.find("'=cmd"), std::string::npos);
    EXPECT_NE(csv.find("'@SUM"), std::string::npos);
    const CsvImport back = ParseRegistryCsv(csv);
    ASSERT_TRUE(back.problems.empty()) << back.problems[0].reason;
    ASSERT_EQ(back.rows.size(), 1u);
    EXPECT_EQ(back.rows[0].deviceId, 0x0001e240u);
    EXPECT_EQ(back.rows[0].name, t.name);
    EXPECT_EQ(back.rows[0].note, t.note);
    EXPECT_EQ(back.rows[0].longitude, -73.5);

    // A merge keeps what the link saw and what the file does not name.
    Terminal seen = Named(0x0001e240, "old");
    seen.sim = "13800138000";
    seen.note = "kept";
    const auto merged = MergeImport({seen}, parsed);
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].name, "东村,一组");
    EXPECT_EQ(merged[0].sim, "13800138000");
    EXPECT_EQ(merged[0].note, "kept");
}

}  // namespace
}  // namespace pelmora::store

namespace pelmora::dispatch {
namespace {

TEST(Targets, RegionsTakeTheirTownsAndTagsAndNamedTerminalsJoinOnce) {
    std::unordered_map<std::uint32_t, store::Terminal> registry;
    const auto add = [&](std::uint32_t id, std::string code, std::string tags,
                         std::int64_t lastSeen) {
        store::Terminal t;
        t.deviceId = id;
        t.regionCode = std::move(code);
        t.tags = std::move(tags);
        t.lastSeen = lastSeen;
        registry[id] = t;
    };
    add(1, "510101", "", 10);                // the county itself
    add(2, "510101001", " 学校 ;河边", 10);  // one of its towns
    add(3, "510102001", "学校", 0);          // another county's town, tagged, never seen
    add(4, "5101", "", 10);                  // the city above: not taken by the county
    add(5, "", "河边x", 10);                 // no region; its tag only starts like the chosen one
    EXPECT_EQ(ResolveTargets(registry, {{"510101"}, {}, {}}), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(ResolveTargets(registry, {{}, {"学校", "河边"}, {9, 2}}),
              (std::vector<std::uint32_t>{2, 3, 9}));
    const auto targets = ResolveTargets(registry, {{"510101", ""}, {"学校", "河边"}, {9, 2}});
    EXPECT_EQ(targets, (std::vector<std::uint32_t>{1, 2, 3, 5, 9}));
    const TargetCounts counts =
        CountTargets(targets, registry, [](std::uint32_t id) { return id == 1; });
    EXPECT_EQ(counts.online, 1);
    EXPECT_EQ(counts.offline, 2);
    EXPECT_EQ(counts.never, 2);  // never seen, and unknown to the registry
}

}  // namespace
}  // namespace pelmora::dispatch
