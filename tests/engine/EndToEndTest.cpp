// The engine over the real link: Dovrik on loopback, a stateful simulated
// terminal, a drain thread doing the packet intake, and the worker thread.
// Polls are shortened; everything else is as in the running program.
#include "CommandTexts.h"
#include "Dovrik.h"
#include "EngineFixture.h"
#include "GridFill.h"
#include "LoopbackPort.h"
#include "SaveSequence.h"
#include "SettingsReport.h"
#include "TerminalSimulator.h"

namespace pelmora::testing {
namespace {

using namespace std::chrono_literals;
using dovrik::sim::Reply;
using dovrik::sim::TerminalScript;
using dovrik::sim::TerminalSimulator;

constexpr std::uint32_t kTerminal = 0x0001E240;

using testsupport::FreePort;

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = FreePort();
        ASSERT_EQ(DSStartService(port_), 1);
        TerminalSimulator::Options options;
        options.port = port_;
        sim_ = std::make_unique<TerminalSimulator>(options);
        dovrik::sim::TerminalSpec setup;
        setup.deviceId = kTerminal;
        terminal_ = sim_->Add(setup);
        sim_->MakeStateful(terminal_);
        ASSERT_TRUE(Eventually([] { return DSGetModemCount() == 1; }));
        devices_.rows = {{true, "0001e240", G("在线"), G("未知")}};

        EngineTiming timing;
        timing.textPollInterval = 10ms;
        timing.framePollInterval = 5ms;
        timing.intercomPause = 1ms;
        engine_ = std::make_unique<CommandEngine>(DovrikLink(), events_, timing);
        engine_->SetSettingsGrid(&grid_);
        engine_->SetPrompt(&prompt_);
        ASSERT_TRUE(engine_->StartWorker());
        drain_ = std::thread([this] {
            _PACKET packet;
            while (draining_) {
                while (DSGetNextData(&packet, 0)) {
                    std::lock_guard guard(devicesLock_);
                    engine_->IntakePacket(packet.deviceId, packet.data, packet.length, devices_);
                }
                std::this_thread::sleep_for(2ms);
            }
        });
    }
    void TearDown() override {
        draining_ = false;
        drain_.join();
        engine_.reset();
        sim_.reset();
        DSStopService();
    }

    // Queues a job the way a page does and waits until the worker is done.
    void Submit(CommandKind kind, std::string text = {}) {
        {
            std::lock_guard guard(devicesLock_);
            ASSERT_TRUE(engine_->SubmitPageCommand(devices_, kind, std::move(text)));
        }
        ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }, 20s));
    }
    void FillGridFromRecord() {
        auto lock = engine_->LockSettings();
        for (const auto& cell : GridCellsFromSettings(engine_->Settings())) {
            if (cell.text) grid_.Set(cell.row, cell.column, *cell.text);
        }
    }
    bool Logged(const std::string& utf8) {
        const auto log = events_.Log();
        return std::find(log.begin(), log.end(), G(utf8)) != log.end();
    }

    std::uint16_t port_ = 0;
    std::unique_ptr<TerminalSimulator> sim_;
    std::size_t terminal_ = 0;
    FakeEvents events_;
    FakeGrid grid_;
    FakePrompt prompt_;
    std::mutex devicesLock_;
    FakeDevices devices_;
    std::unique_ptr<CommandEngine> engine_;
    std::atomic<bool> draining_{true};
    std::thread drain_;
};

TEST_F(EndToEnd, ReadBackFillsTheRecordFromTheTerminalsReport) {
    Submit(CommandKind::ReadSettings);
    ASSERT_EQ(events_.settingsArrived, 1);
    const AlarmSettings terminal = sim_->Settings(terminal_);
    auto lock = engine_->LockSettings();
    const AlarmSettings& record = engine_->Settings();
    EXPECT_EQ(record.adminNumbers, terminal.adminNumbers);
    EXPECT_EQ(record.text1, terminal.text1);
    EXPECT_EQ(record.phonePriority, terminal.phonePriority);
    EXPECT_EQ(record.localAlarmPlayNumber, terminal.localAlarmPlayNumber);
    EXPECT_EQ(record.fmFreq, terminal.fmFreq);
    EXPECT_EQ(record.dtu.serverIp, terminal.dtu.serverIp);
    EXPECT_EQ(record.dtu.heartbeatPollTime, terminal.dtu.heartbeatPollTime);
    EXPECT_EQ(record.dtu.apn, terminal.dtu.apn);
    EXPECT_EQ(sim_->CommandLines(terminal_), std::vector<std::string>{"AT+SHOW"});
    EXPECT_TRUE(Logged("正在读取参数，请等待..."));
}

TEST_F(EndToEnd, ReportSplitOverManyWritesStillParses) {
    TerminalScript script;
    script.reportChunk = 97;
    script.chunkDelay = 1ms;
    sim_->SetScript(terminal_, script);
    Submit(CommandKind::ReadSettings);
    auto lock = engine_->LockSettings();
    EXPECT_EQ(engine_->Settings().dtu.heartbeatPollTime,
              sim_->Settings(terminal_).dtu.heartbeatPollTime);
    EXPECT_EQ(engine_->Settings().backupNumbers, sim_->Settings(terminal_).backupNumbers);
}

TEST_F(EndToEnd, LongestReportArrivesInSeveralMessagesAndReadsBackWhole) {
    sim_->MakeStateful(terminal_, {}, dovrik::sim::FullTerminalSettings());
    const AlarmSettings terminal = sim_->Settings(terminal_);
    ASSERT_GT(dovrik::sim::SettingsReport(terminal).size(), 12'000u);
    Submit(CommandKind::ReadSettings);
    ASSERT_EQ(events_.settingsArrived, 1);
    auto lock = engine_->LockSettings();
    const AlarmSettings& record = engine_->Settings();
    EXPECT_EQ(record.adminNumbers, terminal.adminNumbers);
    EXPECT_EQ(record.authorizeNumbers, terminal.authorizeNumbers);
    EXPECT_EQ(record.backupNumbers, terminal.backupNumbers);
    EXPECT_EQ(record.text1, terminal.text1);
    EXPECT_EQ(record.text2, terminal.text2);
    EXPECT_EQ(record.text3, terminal.text3);
    EXPECT_TRUE(record == terminal);  // the modem section, at the report's start, too
}

TEST_F(EndToEnd, SaveWritesOnlyTheChangedValuesAndTheTerminalKeepsThem) {
    Submit(CommandKind::ReadSettings);
    FillGridFromRecord();
    grid_.Set(2, grid::kLeftValue, G("第二段预置内容"));
    grid_.Set(6, grid::kLeftValue, "9");
    grid_.Set(21, grid::kRightValue, "120");
    events_.ClearLog();
    Submit(CommandKind::SaveSettings);
    EXPECT_EQ(sim_->CommandLines(terminal_),
              (std::vector<std::string>{"AT+SHOW", "AT+LRMSETTXT2=" + G("第二段预置内容"),
                                        "AT+LRMSMSPRIO=9", "at+polltime=120"}));
    EXPECT_EQ(events_.Log().back(), G("参数保存完毕..."));
    const AlarmSettings terminal = sim_->Settings(terminal_);
    EXPECT_EQ(terminal.text2, G("第二段预置内容"));
    EXPECT_EQ(terminal.smsPriority, 9);
    EXPECT_EQ(terminal.dtu.heartbeatPollTime, "120");

    // Read back again: the record now matches the grid, so saving sends nothing.
    Submit(CommandKind::ReadSettings);
    FillGridFromRecord();
    const std::size_t linesBefore = sim_->CommandLines(terminal_).size();
    Submit(CommandKind::SaveSettings);
    EXPECT_EQ(sim_->CommandLines(terminal_).size(), linesBefore);
}

TEST_F(EndToEnd, SaveStopsAtTheTerminalsError) {
    Submit(CommandKind::ReadSettings);
    FillGridFromRecord();
    grid_.Set(5, grid::kLeftValue, "10");
    grid_.Set(6, grid::kLeftValue, "10");
    grid_.Set(7, grid::kLeftValue, "10");
    TerminalScript script;
    script.replies["AT+LRMSMSPRIO"] = Reply::Error;
    sim_->SetScript(terminal_, script);
    Submit(CommandKind::SaveSettings);
    const auto lines = sim_->CommandLines(terminal_);
    EXPECT_EQ(lines.back(), "AT+LRMSMSPRIO=10");
    EXPECT_TRUE(Logged("设置短信等级失败"));
    EXPECT_FALSE(Logged("参数保存完毕..."));
}

TEST_F(EndToEnd, ControlJobsRoundTrip) {
    Submit(CommandKind::PlayMp3, "00003");
    EXPECT_EQ(events_.Log().back(), G("设置播放mp3成功"));

    TerminalScript refusing;
    refusing.frameResults[kStopMp3Request] = 0;
    sim_->SetScript(terminal_, refusing);
    Submit(CommandKind::StopMp3);
    EXPECT_EQ(events_.Log().back(), G("设置停止播放Mp3失败"));

    Submit(CommandKind::SendPlayContent, std::string(2100, 'x'));
    EXPECT_EQ(events_.Log().back(), G("设置播放内容成功"));

    const auto messages = sim_->Messages(terminal_);
    ASSERT_EQ(messages.size(), 5u);  // play, stop and three pieces of content
    CCmdDataObj first;
    ASSERT_EQ(first.UnpackHeader(messages[0].data(), messages[0].size()), 1);
    EXPECT_EQ(first.command, kPlayMp3Request);
    EXPECT_EQ(first.deviceId, kTerminal);
    EXPECT_EQ(std::string(messages[0].begin() + 15, messages[0].begin() + 20), "00003");
    EXPECT_EQ(messages[4].size(), 25u + 2100u - 2048u);
}

TEST_F(EndToEnd, RestartIsAcknowledgedAndTheTerminalComesBack) {
    Submit(CommandKind::RestartDevice);
    EXPECT_EQ(events_.Log().back(), G("设备重启成功"));
    ASSERT_TRUE(Eventually([] { return DSGetModemCount() == 1; }));
}

TEST_F(EndToEnd, StatusMessageSetsThePowerTextAndIsAnswered) {
    sim_->SendStatus(terminal_, dovrik::sim::PowerSource::Battery);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard guard(devicesLock_);
        return devices_.rows[0].power == G("备电");
    }));
    const std::vector<std::uint8_t> answer = PackFrame(kTerminal, kStatusAnswer, {});
    EXPECT_TRUE(Eventually([&] {
        const auto messages = sim_->Messages(terminal_);
        return !messages.empty() && messages.back() == answer;
    }));
}

}  // namespace
}  // namespace pelmora::testing
