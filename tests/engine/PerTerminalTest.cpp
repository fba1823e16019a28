// What the engine says about one terminal stays that terminal's: the settings
// record names its read-back, nothing read from one terminal is written to
// another, and the window's sends never wait on a terminal's socket.
#include <condition_variable>

#include "CommandTexts.h"
#include "EngineFixture.h"
#include "TerminalSender.h"

namespace pelmora::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kOther = 0x0000BEEF;

std::string Report(const std::string& admin, const std::string& apn) {
    return "Access Point Name: " + apn + "\r\nAlarm admin NO:  " + admin + "\r\nOK\r\n";
}

TEST_F(EngineTest, SavesAndListChangesGoOnlyToTheTerminalThePagesHold) {
    AnswerText("OK\r\n");
    // Nothing read back yet: neither goes anywhere.
    Run(CommandKind::SaveSettings, {}, kId);
    Run(CommandKind::AddAdminNumbers, "AT+LRMADDADMINNO=1\r", kId);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Log().back(), G("注意!尚未回读设备0001e240的参数,未发送任何内容,请先进行参数回读"));

    AnswerText(Report("111", "cmnet"));
    Run(CommandKind::ReadSettings, {}, kId);
    const auto origin = engine_->Origin();
    ASSERT_TRUE(origin.has_value());
    EXPECT_EQ(origin->deviceId, kId);
    EXPECT_GT(origin->readAt, 0);

    // Another terminal: refused with the pages' terminal named, nothing sent.
    const std::size_t sentBefore = Sent().size();
    AnswerText("OK\r\n");
    for (CommandKind kind :
         {CommandKind::SaveSettings, CommandKind::AddAdminNumbers, CommandKind::DeleteBackupNumbers,
          CommandKind::ResetAuthorizeNumbers}) {
        Run(kind, "AT+LRMSETLRMNO=\r", kOther);
        EXPECT_EQ(Log().back(),
                  G("注意!配置页面显示的是设备0001e240的参数,未向所选设备发送任何内容,"
                    "请先对所选设备进行参数回读"));
    }
    EXPECT_EQ(Sent().size(), sentBefore);
    EXPECT_TRUE(events_.notices.empty());

    // The terminal the pages hold: the change goes out and names it.
    Run(CommandKind::AddAdminNumbers, "AT+LRMADDADMINNO=222\r", kId);
    ASSERT_EQ(events_.notices.size(), 1u);
    EXPECT_EQ(events_.notices[0].notice.deviceId, kId);
}

TEST_F(EngineTest, FailedReadBackNeverShowsAnotherTerminalsValues) {
    AnswerText(Report("111", "cmnet"));
    Run(CommandKind::ReadSettings, {}, kId);
    {
        auto lock = engine_->LockSettings();
        engine_->MutableSettings().text1 = "kept from the first terminal";
    }

    // A silent terminal: the record and its origin stay the first terminal's.
    AnswerText("");
    Run(CommandKind::ReadSettings, {}, kOther);
    EXPECT_EQ(Log().back(), G("参数加载超时..."));
    EXPECT_EQ(engine_->Origin()->deviceId, kId);

    // A report that stops early: the other terminal's, with nothing of the
    // first one's left in the fields it did not reach.
    AnswerText("Access Point Name: other\r\nAlarm admin NO:  999\r\nOK\r\n");
    Run(CommandKind::ReadSettings, {}, kOther);
    const auto origin = engine_->Origin();
    EXPECT_EQ(origin->deviceId, kOther);
    EXPECT_FALSE(origin->complete);
    EXPECT_EQ(Log().back(), G("注意!设备0000beef的参数报告不完整,页面只显示已读到的部分"));
    auto lock = engine_->LockSettings();
    EXPECT_EQ(engine_->Settings().adminNumbers[0], "999");
    EXPECT_EQ(engine_->Settings().text1, "");
    EXPECT_EQ(engine_->Settings().dtu.apn, "");
}

// A link whose sends to one terminal hang until the test lets them go.
struct StuckLink {
    std::mutex lock;
    std::condition_variable changed;
    bool released = false;
    int stuckSends = 0;
    std::vector<std::uint32_t> delivered;

    LinkApi Api(std::uint32_t stuck) {
        return LinkApi{[this, stuck](std::uint32_t id, std::uint16_t, const std::uint8_t*) {
            std::unique_lock guard(lock);
            if (id == stuck) {
                ++stuckSends;
                changed.notify_all();
                changed.wait(guard, [this] { return released; });
                return 0;  // as a bounded send that ran out of time
            }
            delivered.push_back(id);
            changed.notify_all();
            return 1;
        }};
    }
    void Release() {
        std::lock_guard guard(lock);
        released = true;
        changed.notify_all();
    }
};

TEST_F(EngineTest, TerminalThatStopsReadingHoldsUpNeitherTheWindowNorOthers) {
    StuckLink link;
    FakeEvents events;
    FakeDevices devices;
    devices.rows = {{false, DeviceIdText(kId), G("在线"), ""},
                    {false, DeviceIdText(kOther), G("在线"), ""}};
    const std::vector<std::uint8_t> status = {0x02, 0x11, 0x01, 0, 0, 0, 0, 0, 0,   0x02,
                                              0x02, 0x00, 0,    0, 2, 0, 0, 0, 0x03};
    {
        CommandEngine engine(link.Api(kId), events);
        // The stuck terminal floods; its answers queue behind its hanging
        // send, past its own limit, while the intake returns at once.
        engine.IntakePacket(kId, status.data(), status.size(), devices);
        {
            std::unique_lock guard(link.lock);
            ASSERT_TRUE(link.changed.wait_for(guard, 10s, [&] { return link.stuckSends == 1; }));
        }
        for (std::size_t i = 0; i < TerminalSender::kPerTerminalLimit + 10; ++i) {
            engine.IntakePacket(kId, status.data(), status.size(), devices);
        }
        engine.IntakePacket(kOther, status.data(), status.size(), devices);
        {
            std::unique_lock guard(link.lock);
            ASSERT_TRUE(link.changed.wait_for(guard, 10s, [&] { return !link.delivered.empty(); }));
            EXPECT_EQ(link.delivered, std::vector<std::uint32_t>{kOther});
        }
        link.Release();
        ASSERT_TRUE(engine.FlushSends(10s));

        // One line for the overflow, one for the failure and what it dropped.
        std::vector<std::string> warnings;
        for (const std::string& line : events.Log()) {
            if (line.rfind(G("注意!"), 0) == 0) warnings.push_back(line);
        }
        ASSERT_EQ(warnings.size(), 2u);
        EXPECT_EQ(warnings[0], G("注意!设备0001e240待发送的数据过多,已丢弃:状态应答"));
        EXPECT_EQ(warnings[1],
                  G("注意!向设备0001e240发送失败(连接已断开或对方不接收数据):状态应答,另有") +
                      std::to_string(TerminalSender::kPerTerminalLimit) + G("条待发送数据已丢弃"));
    }
}

}  // namespace
}  // namespace pelmora::testing
