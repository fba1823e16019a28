// Group jobs: one control job for many terminals, each moved on by itself to
// its own outcome. Mostly over the real link with simulated terminals; the
// rules of submitting and the stuck send use a scripted link.
#include <condition_variable>

#include "CommandTexts.h"
#include "ControlJobs.h"
#include "Dovrik.h"
#include "EngineFixture.h"
#include "GroupJob.h"
#include "LoopbackPort.h"
#include "TerminalSimulator.h"

namespace pelmora::testing {
namespace {

using namespace std::chrono_literals;
using dovrik::sim::FleetPlan;
using dovrik::sim::TerminalScript;
using dovrik::sim::TerminalSimulator;
using Bytes = std::vector<std::uint8_t>;

GroupMember MemberOf(const GroupJob& job, std::uint32_t id) {
    for (const GroupMember& m : job.Members()) {
        if (m.deviceId == id) return m;
    }
    return {};
}

// Dovrik on loopback, simulated terminals, a drain thread doing the packet
// intake and the worker. The worker's polls sleep 1 ms, and each first waits
// until the test's gate opens, so that a terminal's time limit runs out only
// once the answers the test expects have been taken in.
class GroupJobs : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = testsupport::FreePort();
        ASSERT_EQ(DSStartService(port_), 1);
        TerminalSimulator::Options options;
        options.port = port_;
        sim_ = std::make_unique<TerminalSimulator>(options);
    }
    void TearDown() override {
        draining_ = false;
        if (drain_.joinable()) drain_.join();
        engine_.reset();
        sim_.reset();
        DSStopService();
    }

    // Terminals from `firstId` on, with the plan's behaviour.
    dovrik::sim::Fleet AddFleet(FleetPlan plan) {
        const std::size_t before = static_cast<std::size_t>(DSGetModemCount());
        const auto fleet = sim_->AddFleet(plan);
        EXPECT_TRUE(Eventually([&] { return DSGetModemCount() == int(before + plan.count); }));
        return fleet;
    }

    void Start(int framePolls) {
        EngineTiming timing;
        timing.framePollInterval = 1ms;
        timing.framePolls = framePolls;
        timing.connectionGrace = std::chrono::milliseconds(20);
        timing.sleep = [this](std::chrono::milliseconds) {
            Eventually([this] { return packets_.load() >= awaitedPackets_.load(); });
            std::this_thread::sleep_for(1ms);
        };
        engine_ = std::make_unique<CommandEngine>(DovrikLink(), events_, timing);
        ASSERT_TRUE(engine_->StartWorker());
        drain_ = std::thread([this] {
            _PACKET packet;
            while (draining_) {
                while (DSGetNextData(&packet, 0)) {
                    engine_->IntakePacket(packet.deviceId, packet.data, packet.length, devices_);
                    ++packets_;
                }
                std::this_thread::sleep_for(1ms);
            }
        });
    }

    // Submits and waits for the summary line. `answers`: the packets the
    // terminals will send, taken in before any time limit may run out.
    std::shared_ptr<GroupJob> Run(CommandKind kind, std::string text,
                                  std::vector<std::uint32_t> online,
                                  std::vector<std::uint32_t> offline, int answers) {
        awaitedPackets_ = packets_.load() + answers;
        auto job = std::make_shared<GroupJob>(kind, std::move(text), std::move(online),
                                              std::move(offline));
        EXPECT_TRUE(engine_->SubmitGroupJob(job));
        EXPECT_TRUE(Eventually([&] { return job->Finished(); }, 20s));
        EXPECT_TRUE(Eventually([&] { return engine_->Idle(); }));
        return job;
    }

    bool Logged(const std::string& utf8) const {
        const auto log = events_.Log();
        return std::find(log.begin(), log.end(), G(utf8)) != log.end();
    }
    std::size_t Frames(std::size_t index) const { return sim_->Messages(index).size(); }

    std::uint16_t port_ = 0;
    std::unique_ptr<TerminalSimulator> sim_;
    FakeEvents events_;
    FakeDevices devices_;
    std::unique_ptr<CommandEngine> engine_;
    std::atomic<bool> draining_{true};
    std::thread drain_;
    std::atomic<int> packets_{0};
    std::atomic<int> awaitedPackets_{0};
};

TEST_F(GroupJobs, EachTerminalEndsWithItsOwnOutcomeAndLine) {
    FleetPlan plan;
    plan.count = 4;
    plan.firstId = 0x100;
    plan.refusingShare = 0.25;  // 0x100
    plan.silentShare = 0.25;    // 0x101; 0x102 and 0x103 answer
    const auto fleet = AddFleet(plan);
    TerminalScript versions;
    versions.softwareVersion = "V9.9";
    versions.bootVersion = "BOOT-7";
    sim_->SetScript(fleet.answering[1], versions);
    Start(20);

    auto job = Run(CommandKind::PlayMp3, "00003", {0x100, 0x101, 0x102, 0x103}, {0x1FF}, 3);
    EXPECT_EQ(MemberOf(*job, 0x100).outcome, GroupOutcome::Refused);
    EXPECT_EQ(MemberOf(*job, 0x101).outcome, GroupOutcome::TimedOut);
    EXPECT_EQ(MemberOf(*job, 0x102).outcome, GroupOutcome::Succeeded);
    EXPECT_EQ(MemberOf(*job, 0x103).outcome, GroupOutcome::Succeeded);
    EXPECT_EQ(MemberOf(*job, 0x1FF).outcome, GroupOutcome::Offline);
    EXPECT_TRUE(Logged("群发播放MP3: 共5台设备,其中1台离线不发送,请等待..."));
    EXPECT_TRUE(Logged("群发播放MP3: 设备00000100 拒绝"));
    EXPECT_TRUE(Logged("群发播放MP3: 设备00000101 超时"));
    EXPECT_TRUE(Logged("群发播放MP3: 设备00000102 成功"));
    EXPECT_TRUE(Logged("群发播放MP3: 设备000001ff 离线"));
    EXPECT_EQ(events_.Log().back(), G("群发播放MP3完成: 成功 2, 拒绝 1, 超时 1, 离线 1"));
    EXPECT_EQ(Frames(fleet.refusing[0]), 1u);
    const GroupCounts counts = job->Counts();
    EXPECT_EQ(counts.total, 5);
    EXPECT_EQ(counts.waiting + counts.sent, 0);

    // A version query has no refusal; each terminal's own versions are kept.
    job = Run(CommandKind::ReadVersion, {}, {0x100, 0x101, 0x103}, {}, 2);
    EXPECT_EQ(MemberOf(*job, 0x100).outcome, GroupOutcome::Succeeded);
    EXPECT_EQ(MemberOf(*job, 0x101).outcome, GroupOutcome::TimedOut);
    EXPECT_EQ(job->Versions(0x103), std::make_pair(std::string("V9.9"), std::string("BOOT-7")));
    EXPECT_EQ(job->Versions(0x100), std::make_pair(std::string("V1.2.0"), std::string("BOOT-1.0")));
    EXPECT_FALSE(job->Versions(0x101));
    EXPECT_TRUE(Logged("群发版本查询: 设备00000103 成功, 软件版本 V9.9, 引导版本 BOOT-7"));
    EXPECT_EQ(engine_->CurrentGroupJob(), job);
}

TEST_F(GroupJobs, LongContentGoesToEachTerminalAtItsOwnPace) {
    FleetPlan plan;
    plan.count = 3;
    plan.firstId = 0x200;
    plan.refusingShare = 1.0 / 3;  // 0x200 refuses every piece
    plan.silentShare = 1.0 / 3;    // 0x201 answers only when the test does
    const auto fleet = AddFleet(plan);
    const std::size_t refusing = fleet.refusing[0], slow = fleet.silent[0];
    Start(100'000);  // no time limit runs out here

    const std::string content(2500, 'x');
    auto job = std::make_shared<GroupJob>(CommandKind::SendPlayContent, content,
                                          std::vector<std::uint32_t>{0x200, 0x201, 0x202},
                                          std::vector<std::uint32_t>{});
    ASSERT_TRUE(engine_->SubmitGroupJob(job));
    // The quick terminal takes all three pieces while the slow one still
    // holds its first, unanswered.
    ASSERT_TRUE(Eventually([&] {
        return MemberOf(*job, 0x202).outcome == GroupOutcome::Succeeded &&
               MemberOf(*job, 0x201).outcome == GroupOutcome::Sent;
    }));
    EXPECT_EQ(MemberOf(*job, 0x202).piecesDone, 3);
    EXPECT_EQ(Frames(slow), 1u);

    // Each further piece goes out only after the answer to the one before.
    for (std::uint8_t piece = 1; piece <= 3; ++piece) {
        const auto frames = sim_->Messages(slow);
        ASSERT_EQ(frames.size(), piece);
        EXPECT_EQ(frames.back()[13], 3);      // frame count
        EXPECT_EQ(frames.back()[14], piece);  // frame index
        sim_->SendData(slow, PackFrame(0x201, kPlayContentAnswer, {1}));
        if (piece < 3) {
            ASSERT_TRUE(Eventually([&] { return Frames(slow) == piece + 1u; }));
        }
    }
    ASSERT_TRUE(Eventually([&] { return job->Finished(); }));
    EXPECT_EQ(MemberOf(*job, 0x201).outcome, GroupOutcome::Succeeded);
    EXPECT_EQ(Frames(slow), 3u);

    // A refused piece ends that terminal: more pieces could not make it a
    // success, and would hold the job.
    EXPECT_EQ(Frames(refusing), 1u);
    EXPECT_EQ(MemberOf(*job, 0x200).outcome, GroupOutcome::Refused);
    EXPECT_EQ(MemberOf(*job, 0x200).piecesDone, 0);
    EXPECT_TRUE(Logged("群发播放内容: 设备00000200 拒绝, 已确认0段(共3段)"));
    EXPECT_EQ(events_.Log().back(), G("群发播放内容完成: 成功 2, 拒绝 1, 超时 0, 离线 0"));
}

TEST_F(GroupJobs, CancelEndsWhatIsUnansweredAndKeepsWhatIsFinal) {
    FleetPlan plan;
    plan.count = 3;
    plan.firstId = 0x300;
    plan.silentShare = 2.0 / 3;  // 0x300 and 0x301 never answer
    const auto fleet = AddFleet(plan);
    Start(100'000);

    auto job = std::make_shared<GroupJob>(CommandKind::StopMp3, std::string(),
                                          std::vector<std::uint32_t>{0x300, 0x301, 0x302},
                                          std::vector<std::uint32_t>{0x3FF});
    ASSERT_TRUE(engine_->SubmitGroupJob(job));
    ASSERT_TRUE(Eventually([&] {
        const GroupCounts c = job->Counts();
        return c.succeeded == 1 && c.sent == 2;
    }));
    job->Cancel();
    ASSERT_TRUE(Eventually([&] { return job->Finished(); }));
    // Their frames went out unanswered: they may well have acted on them.
    EXPECT_EQ(MemberOf(*job, 0x300).outcome, GroupOutcome::Unconfirmed);
    EXPECT_EQ(MemberOf(*job, 0x301).outcome, GroupOutcome::Unconfirmed);
    EXPECT_EQ(MemberOf(*job, 0x302).outcome, GroupOutcome::Succeeded);
    EXPECT_EQ(MemberOf(*job, 0x3FF).outcome, GroupOutcome::Offline);
    EXPECT_TRUE(Logged("群发停止MP3: 设备00000301 已发送未确认"));
    EXPECT_EQ(events_.Log().back(),
              G("群发停止MP3完成: 成功 1, 拒绝 0, 超时 0, 离线 1, 已发送未确认 2"));
    ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));

    // Cancelled before it runs: nothing is sent at all.
    const std::size_t framesBefore = Frames(fleet.answering[0]);
    job =
        std::make_shared<GroupJob>(CommandKind::StopMp3, std::string(),
                                   std::vector<std::uint32_t>{0x302}, std::vector<std::uint32_t>{});
    job->Cancel();
    ASSERT_TRUE(engine_->SubmitGroupJob(job));
    ASSERT_TRUE(Eventually([&] { return job->Finished(); }));
    EXPECT_EQ(MemberOf(*job, 0x302).outcome, GroupOutcome::Cancelled);
    EXPECT_EQ(Frames(fleet.answering[0]), framesBefore);
    ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));

    // Stopping the engine ends a running job where it stands, unlogged.
    job =
        std::make_shared<GroupJob>(CommandKind::StopMp3, std::string(),
                                   std::vector<std::uint32_t>{0x300}, std::vector<std::uint32_t>{});
    ASSERT_TRUE(engine_->SubmitGroupJob(job));
    ASSERT_TRUE(Eventually([&] { return job->Counts().sent == 1; }));
    const std::size_t lines = events_.Log().size();
    engine_->RequestStop();
    ASSERT_TRUE(Eventually([&] { return !engine_->Busy(); }));
    EXPECT_FALSE(job->Finished());
    EXPECT_EQ(events_.Log().size(), lines);
}

TEST_F(GroupJobs, TerminalsThatDropMidJobNeverSucceed) {
    FleetPlan plan;
    plan.count = 3;
    plan.firstId = 0x400;
    plan.silentShare = 2.0 / 3;  // 0x400 and 0x401: the test answers for them, or not
    const auto fleet = AddFleet(plan);
    const std::size_t answersThenGoes = fleet.silent[0], goes = fleet.silent[1];
    // The first poll waits until both are gone, so no time limit runs
    // out before that.
    awaitedPackets_ = 1'000'000;
    Start(200);

    auto job = std::make_shared<GroupJob>(CommandKind::SendPlayContent, std::string(3000, 'c'),
                                          std::vector<std::uint32_t>{0x400, 0x401, 0x402},
                                          std::vector<std::uint32_t>{});
    ASSERT_TRUE(engine_->SubmitGroupJob(job));
    ASSERT_TRUE(Eventually([&] { return Frames(answersThenGoes) == 1 && Frames(goes) == 1; }));
    // One takes its first piece and leaves at once; the other leaves
    // without a word.
    sim_->SendData(answersThenGoes, PackFrame(0x400, kPlayContentAnswer, {1}));
    sim_->Close(answersThenGoes);
    sim_->Close(goes);
    ASSERT_TRUE(Eventually([] { return DSGetModemCount() == 1; }));
    awaitedPackets_ = 0;
    ASSERT_TRUE(Eventually([&] { return job->Finished(); }, 20s));

    // Whether the first answer got in or not, either terminal ends with its
    // connection gone: noticed as such, or by the next piece's failed write.
    const GroupOutcome first = MemberOf(*job, 0x400).outcome;
    EXPECT_TRUE(first == GroupOutcome::ConnectionLost || first == GroupOutcome::SendFailed);
    EXPECT_LE(MemberOf(*job, 0x400).piecesDone, 1);
    EXPECT_EQ(MemberOf(*job, 0x401).outcome, GroupOutcome::ConnectionLost);
    EXPECT_EQ(MemberOf(*job, 0x401).piecesDone, 0);
    EXPECT_EQ(MemberOf(*job, 0x402).outcome, GroupOutcome::Succeeded);
    EXPECT_TRUE(Logged("群发播放内容: 设备00000401 连接中断, 已确认0段(共3段)"));
    EXPECT_EQ(job->Counts().succeeded, 1);
}

// A link whose sends to some terminals hang until the test lets them fail;
// the others answer at once.
class StuckLinkGroup : public ::testing::Test {
  protected:
    // More stuck terminals than the sender starts threads with.
    static constexpr std::uint32_t kStuck = 0x500, kStuckCount = 6;
    LinkApi Link() {
        return LinkApi{[this](std::uint32_t id, std::uint16_t length, const std::uint8_t* data) {
                           if (id >= kStuck && id < kStuck + kStuckCount) {
                               std::unique_lock guard(lock_);
                               ++stuck_;
                               changed_.wait(guard, [this] { return released_; });
                               return 0;  // as a send that ran out of time
                           }
                           CCmdDataObj request;
                           request.UnpackHeader(data, length);
                           const Bytes answer = PackFrame(
                               id, static_cast<std::uint16_t>(request.command & 0x7FFF), {1});
                           target_->IntakePacket(id, answer.data(), answer.size(), noRows_);
                           return 1;
                       },
                       {}};
    }
    void Release() {
        {
            std::lock_guard guard(lock_);
            released_ = true;
        }
        changed_.notify_all();
    }
    std::uint32_t Stuck() {
        std::lock_guard guard(lock_);
        return stuck_;
    }

    CommandEngine* target_ = nullptr;
    FakeDevices noRows_;

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool released_ = false;
    std::uint32_t stuck_ = 0;
};

TEST_F(StuckLinkGroup, TerminalsStuckInTheirSendsHoldUpOnlyThemselves) {
    EngineTiming timing;
    timing.sleep = [](std::chrono::milliseconds) { std::this_thread::sleep_for(1ms); };
    FakeEvents events;
    CommandEngine engine(Link(), events, timing);
    target_ = &engine;
    ASSERT_TRUE(engine.StartWorker());
    const auto group = [] {
        std::vector<std::uint32_t> ids;  // the stuck ones first
        for (std::uint32_t i = 0; i < kStuckCount; ++i) ids.push_back(kStuck + i);
        ids.insert(ids.end(), {0x510, 0x511});
        return std::make_shared<GroupJob>(CommandKind::RestartDevice, std::string(), ids,
                                          std::vector<std::uint32_t>{});
    };
    auto job = group();
    ASSERT_TRUE(engine.SubmitGroupJob(job));
    ASSERT_TRUE(Eventually([&] { return job->Counts().succeeded == 2 && Stuck() == kStuckCount; }));
    EXPECT_EQ(MemberOf(*job, kStuck).outcome, GroupOutcome::Waiting);
    // Still one job in the one queue: the next waits its turn.
    EXPECT_FALSE(engine.SubmitGroupJob(group()));
    EXPECT_EQ(events.Log().back(), G("上个操作未完成，请稍后再试\r\n"));
    EXPECT_EQ(engine.CurrentGroupJob(), job);

    Release();
    ASSERT_TRUE(Eventually([&] { return job->Finished(); }));
    EXPECT_EQ(MemberOf(*job, kStuck).outcome, GroupOutcome::SendFailed);
    EXPECT_EQ(events.Log().back(),
              G("群发设备重启完成: 成功 2, 拒绝 0, 超时 0, 离线 0, 发送失败 6"));
}

TEST_F(EngineTest, GroupJobsAreRefusedWhereNothingCouldBeSent) {
    const auto group = [](CommandKind kind, std::string text = {}) {
        return std::make_shared<GroupJob>(kind, std::move(text),
                                          std::vector<std::uint32_t>{1, 2, 2, 1},
                                          std::vector<std::uint32_t>{2, 3});
    };
    Build({}, false);
    // Duplicates dropped, the first kept; offline ones after the online ones.
    auto job = group(CommandKind::StopMp3);
    const auto members = job->Members();
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[1].deviceId, 2u);
    EXPECT_EQ(members[1].outcome, GroupOutcome::Waiting);
    EXPECT_EQ(members[2].outcome, GroupOutcome::Offline);

    EXPECT_FALSE(engine_->SubmitGroupJob(group(CommandKind::SaveSettings)));
    EXPECT_EQ(Log().back(), G("注意!该操作不能群发"));
    EXPECT_FALSE(engine_->SubmitGroupJob(job));  // no worker: it would never run
    EXPECT_EQ(Log().back(), G("群发停止MP3失败"));
    EXPECT_EQ(engine_->CurrentGroupJob(), nullptr);

    // Checked when the job runs, as for a single job: nothing goes out.
    ASSERT_TRUE(engine_->StartWorker());
    for (auto refused : {group(CommandKind::SendPlayContent,
                               std::string(kMaxPlayContentPieces * kPlayContentPiece + 1, 'x')),
                         group(CommandKind::SendUpgradeParams)}) {
        ASSERT_TRUE(engine_->SubmitGroupJob(refused));
        ASSERT_TRUE(Eventually([&] { return refused->Finished(); }));
        EXPECT_EQ(refused->Counts().cancelled, 2);
        ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
    }
    EXPECT_TRUE(Sent().empty());
    const auto log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        G("群发播放内容: 播放内容过长,最多261120字节,未向任何设备发送")),
              log.end());
    EXPECT_EQ(log.back(), G("群发升级参数完成: 成功 0, 拒绝 0, 超时 0, 离线 1, 已取消 2"));
}

}  // namespace
}  // namespace pelmora::testing
