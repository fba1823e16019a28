// The command channel: choosing the terminal, the page contract, the queue
// and its worker, the text waits, number-list jobs and the packet intake.
#include <atomic>

#include "CommandTexts.h"
#include "EngineFixture.h"

namespace pelmora::testing {
namespace {

using namespace std::chrono_literals;

FakeDevices::Row Online(const std::string& id, bool checked) {
    return {checked, id, G("在线"), G("未知")};
}

// Holds the worker in each poll until the test opens the gate.
class PollGate {
  public:
    EngineTiming Timing() {
        EngineTiming held;
        held.sleep = [this](std::chrono::milliseconds) {
            std::unique_lock guard(lock_);
            ++polls_;
            changed_.notify_all();
            changed_.wait(guard, [this] { return open_; });
        };
        return held;
    }
    bool WaitForPolls(int count) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, 10s, [&] { return polls_ == count; });
    }
    void Open() {
        {
            std::lock_guard guard(lock_);
            open_ = true;
        }
        changed_.notify_all();
    }
    int Polls() {
        std::lock_guard guard(lock_);
        return polls_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    int polls_ = 0;
    bool open_ = false;
};

TEST(DeviceId, ParsesEightHexDigitsAndIgnoresTheRest) {
    std::uint32_t id = 0;
    EXPECT_TRUE(ParseDeviceId("0001e240", id));
    EXPECT_EQ(id, 123456u);
    EXPECT_TRUE(ParseDeviceId("ABCDEF01xyz", id));
    EXPECT_EQ(id, 0xABCDEF01u);
    EXPECT_FALSE(ParseDeviceId("0001e24", id));
    EXPECT_FALSE(ParseDeviceId("0001e24g", id));
    EXPECT_FALSE(ParseDeviceId("", id));
}

TEST_F(EngineTest, ChoosesTheFirstTickedOnlineRowOrSaysWhyNot) {
    FakeDevices devices;
    std::uint32_t id = 0;
    EXPECT_FALSE(engine_->FindCheckedTerminal(devices, id));
    EXPECT_EQ(Log().back(), G("设备ID为空，选择设备"));

    devices.rows = {Online("0000000a", false), Online("0000000b", true), {true, "zz", "", ""}};
    EXPECT_TRUE(engine_->FindCheckedTerminal(devices, id));
    EXPECT_EQ(id, 0x0Bu);

    devices.rows[1].online = G("离线");
    EXPECT_FALSE(engine_->FindCheckedTerminal(devices, id));
    EXPECT_EQ(Log().back(), G("注意!设备0000000b离线,将不进行发送!"));

    devices.rows[1].id = "0000000x";
    EXPECT_FALSE(engine_->FindCheckedTerminal(devices, id));
    EXPECT_EQ(Log().back(), G("注意!设备0000000x的id号错误,将不进行发送!"));
}

TEST_F(EngineTest, PageContractRefusesWithoutWorkerAndWhileBusy) {
    FakeDevices devices;
    devices.rows = {Online("0001e240", true)};
    // No worker yet: the job would never run.
    Build({}, false);
    EXPECT_FALSE(engine_->SubmitPageCommand(devices, CommandKind::StopMp3));
    EXPECT_EQ(Log().back(), G("设置停止播放mp3失败"));

    // A terminal that never answers keeps the worker busy: it waits in its
    // first poll until the test lets the poll end.
    PollGate gate;
    Build(gate.Timing());
    ASSERT_TRUE(engine_->StartWorker());
    EXPECT_TRUE(engine_->SubmitPageCommand(devices, CommandKind::StopMp3));
    EXPECT_EQ(Log().back(), G("设置停止播放mp3,清等待..."));
    ASSERT_TRUE(gate.WaitForPolls(1));
    EXPECT_TRUE(engine_->Busy());
    EXPECT_FALSE(engine_->SubmitPageCommand(devices, CommandKind::ReadVersion));
    EXPECT_EQ(Log().back(), G("上个操作未完成，请稍后再试\r\n"));

    // Stopping ends the job at its next poll, not at its poll limit, unlogged.
    engine_->RequestStop();
    gate.Open();
    ASSERT_TRUE(Eventually([&] { return !engine_->Busy(); }));
    engine_.reset();
    EXPECT_EQ(gate.Polls(), 1);
    EXPECT_EQ(Log().back(), G("上个操作未完成，请稍后再试\r\n"));
}

TEST_F(EngineTest, CancelSaysWhetherTheRunningJobsFrameWentOut) {
    // The running job waits in its first poll until the test opens the gate.
    PollGate gate;
    Build(gate.Timing());
    EXPECT_FALSE(engine_->Running());
    ASSERT_TRUE(Submit(CommandKind::StopMp3));
    ASSERT_TRUE(gate.WaitForPolls(1));
    EXPECT_FALSE(Submit(CommandKind::ReadSettings));  // busy: nothing queues behind it
    const auto running = engine_->Running();
    ASSERT_TRUE(running);
    EXPECT_EQ(running->kind, CommandKind::StopMp3);
    EXPECT_EQ(running->deviceId, kId);
    EXPECT_EQ(running->answerLimit, 60s);
    EXPECT_EQ(engine_->WaitingCount(), 0u);

    EXPECT_EQ(engine_->CancelJobs(), 1u);
    gate.Open();
    ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
    EXPECT_FALSE(engine_->Running());
    EXPECT_EQ(gate.Polls(), 1);
    EXPECT_EQ(Sent().size(), 1u);
    // Its frame went out unanswered: it may have been acted on.
    EXPECT_EQ(Log(), (std::vector<std::string>{G("设置停止播放mp3失败"),
                                               G("停止MP3(设备0001e240): 已发送未确认")}));

    // The next job runs as usual: the cancel belonged to the one before.
    events_.ClearLog();
    AnswerText("Access Point Name: x\r\nOK\r\n");
    Run(CommandKind::ReadSettings);
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_EQ(engine_->CancelJobs(), 0u);
    for (const std::string& line : Log()) EXPECT_EQ(line.find(G("已取消")), std::string::npos);
}

TEST_F(EngineTest, OneSubmissionGetsInAndNoWakeUpIsLost) {
    // Each job holds the worker until the round is over.
    std::atomic<bool> hold{true};
    EngineTiming timing;
    timing.sleep = [&](std::chrono::milliseconds) {
        while (hold) std::this_thread::yield();
    };
    Build(timing);
    AnswerText("OK\r\n");
    // Two pages submitting at once: one gets in, never both.
    for (int round = 0; round < 50; ++round) {
        ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
        hold = true;
        std::atomic<int> queued{0};
        std::thread other([&] { queued += Submit(CommandKind::ReadSettings) ? 1 : 0; });
        queued += Submit(CommandKind::ReadSettings) ? 1 : 0;
        other.join();
        EXPECT_EQ(queued.load(), 1);
        hold = false;
    }
    ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
    // A job submitted while the worker falls asleep still runs.
    constexpr std::size_t kJobs = 300;
    const std::size_t before = Sent().size();
    for (std::size_t i = 0; i < kJobs; ++i) {
        while (!Submit(CommandKind::ReadSettings, {}, static_cast<std::uint32_t>(i)))
            std::this_thread::yield();
    }
    ASSERT_TRUE(Eventually([&] { return Sent().size() == before + kJobs && engine_->Idle(); }));
}

TEST_F(EngineTest, MeaninglessKindsAreDroppedUnrun) {
    for (int kind : {-1, 8, 9, 13, 17, 24, 1000}) {
        ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
        auto job = std::make_unique<CommandJob>();
        job->kind = kind;
        job->deviceId = kId;
        engine_->SubmitIfIdle(std::move(job));
    }
    ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Log().empty());
}

TEST_F(EngineTest, ErrorWinsOverOkAndBothAreFoundAnywhereButNotInFrames) {
    engine_->AdoptSettings({}, kId);
    const auto failed = [&] {
        return !Log().empty() && Log().back() == G("管理号码添加失败");
    };
    AnswerText("OK\r\nERROR\r\n");
    Run(CommandKind::AddAdminNumbers, "AT+LRMADDADMINNO=1\r");
    EXPECT_TRUE(failed());
    events_.ClearLog();
    AnswerText(std::string("\0\0BOOKED", 8));
    Run(CommandKind::AddAdminNumbers, "AT+LRMADDADMINNO=1\r");
    EXPECT_TRUE(Log().empty());  // an add logs on the page's notice
    EXPECT_EQ(events_.notices.size(), 1u);
    // A status frame whose device ID holds the bytes "OK" is no "OK".
    const std::uint32_t okId = 0x004F4B00;
    engine_->AdoptSettings({}, okId);
    Answer([](std::uint32_t id, const Bytes&) { return PackFrame(id, kStatusMessage, {0, 0}); });
    Run(CommandKind::AddAdminNumbers, "AT+LRMADDADMINNO=1\r", okId);
    EXPECT_TRUE(failed());
    EXPECT_EQ(events_.notices.size(), 1u);
}

TEST_F(EngineTest, ReportWaitNeedsOkAfterTheModemSection) {
    AnswerText("OK\r\nAccess Point Name: cmnet\r\n");
    Run(CommandKind::ReadSettings);
    EXPECT_EQ(SentLines(), std::vector<std::string>{"AT+SHOW\r"});
    EXPECT_EQ(Log(), std::vector<std::string>{G("参数加载超时...")});
    EXPECT_EQ(events_.settingsArrived, 0);

    AnswerText("junk\r\nAccess Point Name: cmnet\r\nAlarm admin NO:  1\r\nOK\r\n");
    Run(CommandKind::ReadSettings);
    EXPECT_EQ(events_.settingsArrived, 1);  // announced even though the parse stopped early
    const auto lock = engine_->LockSettings();
    EXPECT_EQ(engine_->Settings().adminNumbers[0], "1");
    EXPECT_EQ(engine_->Settings().dtu.apn, "");  // the modem section comes last and was not reached
}

TEST_F(EngineTest, NumberListJobsNotifyAndLogInTheirOrder) {
    engine_->AdoptSettings({}, kId);
    AnswerText("OK\r\n");
    Run(CommandKind::AddAdminNumbers, "AT+LRMADDADMINNO=138,139\r");
    ASSERT_EQ(events_.notices.size(), 1u);
    EXPECT_EQ(events_.notices[0].what, "added");
    EXPECT_EQ(events_.notices[0].notice.listKind, 1);
    EXPECT_EQ(events_.notices[0].notice.commandText, "AT+LRMADDADMINNO=138,139\r");
    EXPECT_TRUE(Log().empty());

    Run(CommandKind::ResetBackupNumbers, "AT+LRMSETBKNO=\r");
    EXPECT_EQ(events_.notices[1].what, "reset");
    EXPECT_EQ(events_.notices[1].notice.listKind, 3);
    EXPECT_TRUE(events_.notices[1].notice.commandText.empty());
    EXPECT_EQ(Log(), std::vector<std::string>{G("重置备份号码成功")});

    events_.ClearLog();
    Run(CommandKind::DeleteAuthorizeNumbers, "AT+LRMDELLRMNO=138\r");
    EXPECT_EQ(events_.notices[2].what, "deleted");
    EXPECT_EQ(events_.notices[2].notice.listKind, 2);
    EXPECT_EQ(Log(), (std::vector<std::string>{"AT+LRMDELLRMNO=138\r", G("授权号码删除成功")}));

    events_.ClearLog();
    AnswerText("ERROR\r\n");
    Run(CommandKind::AddAdminNumbers, "AT+LRMADDADMINNO=1\r");
    EXPECT_EQ(Log(), (std::vector<std::string>{"AT+LRMADDADMINNO=1\r", G("管理号码添加失败")}));
    EXPECT_EQ(events_.notices.size(), 3u);
}

TEST_F(EngineTest, IntakeLogsAndAnswersStatusEvenBeforeTheRowAppears) {
    FakeDevices devices;
    devices.rows = {Online("0001e240", false)};
    const Bytes status = {0x02, 0x11, 0x01, 0x00, 0x0C, 0x00, 0x01, 0xE2, 0x40, 0x02,
                          0x02, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x03};
    engine_->IntakePacket(kId, status.data(), status.size(), devices);
    EXPECT_EQ(devices.rows[0].power, G("备电"));
    ASSERT_TRUE(engine_->FlushSends(5s));
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], PackFrame(kId, kStatusAnswer, {}));
    EXPECT_EQ(Sent()[0].size(), 17u);
    EXPECT_EQ(events_.Log().back(), G("0001e240:[状态 备电]"));
    EXPECT_EQ(engine_->WatchedTerminals(), 0u);  // no conversation awaits it: nothing kept

    // Without a row yet: answered, and its power shown once the row is there.
    Bytes other = status;
    other[8] = 0x41;
    other[15] = 0x00;
    engine_->IntakePacket(0x0001E241, other.data(), other.size(), devices);
    ASSERT_TRUE(engine_->FlushSends(5s));
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_EQ(engine_->PendingPowerCount(), 1u);
    engine_->ApplyPendingPower(devices);
    EXPECT_EQ(engine_->PendingPowerCount(), 1u);
    devices.rows.push_back(Online("0001e241", false));
    engine_->ApplyPendingPower(devices);
    EXPECT_EQ(devices.rows[1].power, G("主电"));
    EXPECT_EQ(engine_->PendingPowerCount(), 0u);

    // A status message after text, cut between two packets: still answered.
    Bytes cut(9, 'h');
    cut[1] = 'i';
    std::copy(status.begin(), status.begin() + 7, cut.begin() + 2);
    const Bytes rest(status.begin() + 7, status.end());
    engine_->IntakePacket(kId, cut.data(), cut.size(), devices);
    engine_->IntakePacket(kId, rest.data(), rest.size(), devices);
    ASSERT_TRUE(engine_->FlushSends(5s));
    EXPECT_EQ(Sent().size(), 3u);

    const std::string text = "OK\r\n";
    engine_->IntakePacket(kId, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                          devices);
    EXPECT_EQ(events_.Log().back(), "0001e240:OK\r\n");

    // What is not text is logged readably; text with GBK stays as it is.
    const Bytes answer = PackFrame(kId, 0x8202, {1});
    const Bytes binary = {'A', 0x01, 0xFF, 'B'};
    const std::string chinese = G("暴雨预警\r\n");
    engine_->IntakePacket(kId, answer.data(), answer.size(), devices);
    EXPECT_EQ(events_.Log().back(), G("0001e240:[控制帧 命令0x8202, 18字节]"));
    engine_->IntakePacket(kId, binary.data(), binary.size(), devices);
    EXPECT_EQ(events_.Log().back(), "0001e240:<41 01 ff 42>");
    engine_->IntakePacket(kId, reinterpret_cast<const std::uint8_t*>(chinese.data()),
                          chinese.size(), devices);
    EXPECT_EQ(events_.Log().back(), "0001e240:" + chinese);

    // Empty and full-size messages are skipped entirely.
    const Bytes full(4096, 'A');
    const std::size_t logged = events_.Log().size();
    engine_->IntakePacket(kId, full.data(), full.size(), devices);
    engine_->IntakePacket(kId, full.data(), 0, devices);
    EXPECT_EQ(events_.Log().size(), logged);
}

TEST(ReplyBuffer, KeepsOnlyWatchedTerminalsAndSplitsAtTheWrite) {
    ReplyBuffers replies;
    const std::vector<std::uint8_t> message(1000, 'r');
    replies.Append(1, message.data(), message.size());
    EXPECT_EQ(replies.Watched(), 0u);
    EXPECT_TRUE(replies.Take(1).fresh.empty());  // nobody awaited it: dropped

    replies.Watch(1);
    replies.Append(1, message.data(), 10);
    replies.MarkWrite(1);  // what came before the write is stale
    const std::uint8_t ok[] = {'O', 'K'};
    replies.Append(1, ok, 2);
    ReplyBuffers::Bytes bytes = replies.Take(1);
    EXPECT_EQ(bytes.stale.size(), 10u);
    EXPECT_EQ(bytes.fresh, (std::vector<std::uint8_t>{'O', 'K'}));
    EXPECT_TRUE(replies.Take(1).fresh.empty());

    // A long reply is kept whole up to the bound, then the oldest half goes.
    for (int i = 0; i < 14; ++i) replies.Append(1, message.data(), message.size());
    EXPECT_EQ(replies.Take(1).fresh.size(), 14'000u);
    const std::vector<std::uint8_t> flood(4000, 'f');
    for (int i = 0; i < 17; ++i) replies.Append(1, flood.data(), flood.size());
    bytes = replies.Take(1);
    EXPECT_EQ(bytes.fresh.size(), 68'000u - ReplyBuffers::kCapacity / 2);
    EXPECT_EQ(bytes.fresh.back(), 'f');

    replies.Unwatch(1);
    replies.Append(1, ok, 2);
    EXPECT_EQ(replies.Watched(), 0u);
}

TEST(GbkText, ChineseTextsTravelAsGbkAndUnrepresentableTextIsRefused) {
    EXPECT_EQ(std::string(text::kSmsCenterDefault), std::string("\xC4\xAC\xC8\xCF"));
    EXPECT_EQ(G("预置内容：请注意防汛！"), Utf8ToGbk("预置内容：请注意防汛！").value());
    EXPECT_EQ(FormatCommand(cmd::kText1.format, G("请注意")),
              "AT+LRMSETTXT1=" + G("请注意") + "\r");
    EXPECT_EQ(G("请注意").size(), 6u);
    EXPECT_FALSE(Utf8ToGbk("emoji \xF0\x9F\x98\x80"));
    EXPECT_FALSE(Utf8ToGbk("\xFF broken"));
    EXPECT_EQ(GbkToUtf8(G("主电")).value(), "主电");
    EXPECT_EQ(GbkToUtf8Lossy("A\x81"), "A\xEF\xBF\xBD");
}

}  // namespace
}  // namespace pelmora::testing
