// Warnings from outside the window: each becomes a record at once, an alert
// taken again gets its first answer, and review, dispatch and refusal leave
// the record in the state they say, across a restart.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "FollowUps.h"
#include "Store.h"
#include "WarningDesk.h"

namespace pelmora::dispatch {
namespace {

namespace fs = std::filesystem;

OutsideWarning Alert(std::string identifier, Route route, std::vector<std::uint32_t> targets) {
    OutsideWarning w;
    w.content = "【气象台】暴雨红色预警。";
    w.targets = std::move(targets);
    w.route = route;
    w.expires = 5000;
    store::AlertRecord a;
    a.sender = "cma@example.cn";
    a.identifier = std::move(identifier);
    a.sent = "2026-12-10T08:00:00+08:00";
    a.xml = "<alert/>";
    a.source = "127.0.0.1";
    w.alert = a;
    return w;
}

TEST(WarningDesk, AlertsAreKeptOnceAndWaitGoOrStayAsRoutedAcrossARestart) {
    const fs::path dir = fs::temp_directory_path() / ("pelmora-desk-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "pelmora.db").string();
    std::int64_t now = 1000;
    const auto clock = [&] { return now; };
    std::int64_t reviewed = 0, waiting = 0;
    {
        auto store = store::OpenStore(path);
        FollowUps followUps(*store, clock);
        WarningDesk desk(*store, &followUps, "值班员", clock);
        int told = 0;
        desk.SetListener([&] { ++told; });
        desk.SetDrillPrefix("演练:");

        const DeskAnswer first = desk.Take(Alert("A1", Route::Review, {1, 2}));
        EXPECT_EQ(first.state, "review");
        EXPECT_EQ(first.terminals, 2u);
        EXPECT_EQ(told, 1);
        const DeskAnswer again = desk.Take(Alert("A1", Route::Dispatch, {1, 2, 3}));
        EXPECT_TRUE(again.repeated);
        EXPECT_EQ(again.warning, first.warning);
        EXPECT_EQ(again.state, "review");
        EXPECT_EQ(again.terminals, 2u) << "the first answer's terminals";
        EXPECT_EQ(desk.Ready(), 0u) << "nothing new goes out";
        EXPECT_EQ(desk.FindAlert("cma@example.cn", "A1", "2026-12-10T08:00:00+08:00"),
                  first.warning);

        EXPECT_EQ(desk.Take(Alert("A2", Route::Record, {1})).state, "recorded");
        EXPECT_EQ(desk.Take(Alert("A3", Route::Dispatch, {})).state, "no_terminals");
        OutsideWarning drill = Alert("A4", Route::Dispatch, {7});
        drill.drill = true;
        const DeskAnswer sent = desk.Take(drill);
        EXPECT_EQ(sent.state, "dispatched");
        EXPECT_EQ(desk.Ready(), 1u);
        EXPECT_EQ(store->FindWarning(sent.warning)->content, "演练:【气象台】暴雨红色预警。");

        // Review: text GBK cannot carry is refused; the edited text goes.
        EXPECT_FALSE(desk.Approve(first.warning, "暴雨 🌧").empty());
        EXPECT_TRUE(desk.Approve(first.warning, "暴雨红色预警, 请转移").empty());
        EXPECT_FALSE(desk.Approve(first.warning, "again").empty()) << "no longer waiting";
        EXPECT_EQ(desk.Ready(), 2u);
        reviewed = first.warning;
        waiting = desk.Take(Alert("A5", Route::Review, {2})).warning;
        const std::int64_t refused = desk.Take(Alert("A6", Route::Review, {2})).warning;
        EXPECT_TRUE(desk.Refuse(refused));
        EXPECT_EQ(desk.Reviews().size(), 1u);

        // An update or cancel ends the pending follow-ups of what it refers to.
        followUps.Settled(reviewed, CommandKind::SendPlayContent, "x", 5000, 1, 1,
                          GroupOutcome::Offline);
        OutsideWarning cancel = Alert("A7", Route::Record, {});
        cancel.ends = {reviewed};
        desk.Take(cancel);
        EXPECT_TRUE(followUps.Pending().empty());
        ASSERT_TRUE(store->Flush());
        EXPECT_EQ(store->FindWarning(reviewed)->content, "暴雨红色预警, 请转移");
        EXPECT_EQ(desk.StateOf(*store->FindWarning(reviewed)), "dispatched");
        EXPECT_EQ(store->FindWarning(refused)->state, "refused");
        EXPECT_EQ(store->TargetsOf(reviewed), (std::vector<std::uint32_t>{1, 2}));
        EXPECT_EQ(store->AlertOf(reviewed)->xml, "<alert/>");
    }
    auto store = store::OpenStore(path);
    WarningDesk desk(*store, nullptr, "值班员", clock);
    desk.Load();
    const std::vector<Review> reviews = desk.Reviews();
    ASSERT_EQ(reviews.size(), 1u);
    EXPECT_EQ(reviews[0].warningId, waiting);
    EXPECT_EQ(reviews[0].targets, std::vector<std::uint32_t>{2});
    ASSERT_TRUE(reviews[0].alert);
    EXPECT_EQ(reviews[0].alert->identifier, "A5");
    const DeskAnswer known = desk.Take(Alert("A1", Route::Dispatch, {1}));
    EXPECT_TRUE(known.repeated);
    EXPECT_EQ(known.warning, reviewed);
    store.reset();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace pelmora::dispatch
