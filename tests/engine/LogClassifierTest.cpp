// The log table's kind and terminal of a line, over the lines the program
// writes: the engine's made from its own texts (GBK, turned to UTF-8 as the
// window gets them), the pages' and the window's as they stand in the code.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "CommandTexts.h"
#include "GbkCodec.h"
#include "GroupJob.h"
#include "LogClassifier.h"

namespace pelmora {
namespace {

std::string Utf8(const std::string& gbk) {
    return GbkToUtf8Lossy(gbk);
}

std::string Member(CommandKind kind, std::uint32_t id, GroupOutcome outcome) {
    return FillLine(text::kGroupMember,
                    {GroupKindName(kind), DeviceIdText(id), GroupOutcomeName(outcome)});
}

TEST(LogClassifier, KindAndTerminalOfTheProgramsLines) {
    struct Sample {
        std::string line;
        LogKind kind;
        std::string terminal;
    };
    constexpr auto kOperator = LogKind::Operator;
    constexpr auto kOutcome = LogKind::Outcome;
    constexpr auto kMessage = LogKind::TerminalMessage;
    constexpr auto kSystem = LogKind::System;
    GroupJob group(CommandKind::SendPlayContent, "x", {1, 2, 3}, {4});
    const std::vector<Sample> samples = {
        // What terminals sent (CommandEngine::IntakePacket).
        {"0001e240:OK\r\n", kMessage, "0001e240"},
        {"0001e240:[状态 备电]", kMessage, "0001e240"},
        {"0001e240:[控制帧 命令0x8202, 18字节]", kMessage, "0001e240"},
        {"000000ff:<41 01 ff 42>", kMessage, "000000ff"},
        {"0001e240:", kMessage, "0001e240"},
        {"abcdef01:设置播放内容成功", kMessage, "abcdef01"},
        // Jobs set going.
        {Utf8(TextsFor(CommandKind::ReadSettings)->queued), kOperator, ""},
        {Utf8(TextsFor(CommandKind::SendPlayContent)->queued), kOperator, ""},
        {"设置管理号码,清等待...", kOperator, ""},
        {Utf8(GroupQueuedLine(group)), kOperator, ""},  // "…其中1台离线不发送,请等待..."
        {Utf8(FormatCommand(cmd::kGprsPriority.format, 10)), kOperator, ""},
        {Utf8(FormatCommand(cmd::kCenterCall.format, "*99#")), kOperator, ""},
        {"AT+LRMADDADMINNO=13800000000\r", kOperator, ""},
        {"进入演练模式,此后的发送都记为演练", kOperator, ""},
        {"退出演练模式", kOperator, ""},
        {"已断开设备0001e240的连接", kOperator, "0001e240"},
        {"终端0001e240的运维信息已保存", kOperator, "0001e240"},
        {"导入终端登记: 已导入12台终端 (/tmp/r.csv)", kOperator, ""},
        {"导入终端登记: 已放弃, 未导入任何终端", kOperator, ""},
        {"终端登记已导出到 /tmp/r.csv", kOperator, ""},
        {"预警记录 7 已导出到 /tmp/w.csv", kOperator, ""},
        {"群发结果已导出到 /tmp/g.csv", kOperator, ""},
        {"重发预警记录 7: 3 台终端", kOperator, ""},
        {"已取消预警记录7的2条补发", kOperator, ""},
        {"预警设置: 默认有效期60分钟,离线统计30分钟,超过50台须输入台数确认,演练文字“演练”",
         kOperator, ""},
        // How jobs ended.
        {Utf8(TextsFor(CommandKind::SendPlayContent)->success), kOutcome, ""},
        {Utf8(TextsFor(CommandKind::StopMp3)->refused), kOutcome, ""},
        {Utf8(TextsFor(CommandKind::ReadSettings)->timedOut), kOutcome, ""},
        {Utf8(TextsFor(CommandKind::ReadSettings)->notQueued), kOutcome, ""},
        {Utf8(TextsFor(CommandKind::SendUpgradeParams)->success), kOutcome, ""},
        {Utf8(text::kSaveDone), kOutcome, ""},
        {Utf8(cmd::kGprsPriority.failure), kOutcome, ""},
        {Utf8(cmd::kText3.success), kOutcome, ""},
        {Utf8(ListTextsFor(CommandKind::DeleteAuthorizeNumbers)->success), kOutcome, ""},
        {"管理号码重复", kOutcome, ""},
        {Utf8(Member(CommandKind::PlayMp3, 0x100, GroupOutcome::Refused)), kOutcome, "00000100"},
        {Utf8(Member(CommandKind::PlayMp3, 0x1ff, GroupOutcome::Offline)), kOutcome, "000001ff"},
        {Utf8(Member(CommandKind::StopMp3, 0x301, GroupOutcome::Unconfirmed)), kOutcome,
         "00000301"},
        {Utf8(Member(CommandKind::RestartDevice, 0xdead, GroupOutcome::ServiceStopped)), kOutcome,
         "0000dead"},
        {Utf8(Member(CommandKind::ReadVersion, 0x103, GroupOutcome::Succeeded) +
              FillLine(text::kGroupVersions, {"V9.9", "BOOT-7"})),
         kOutcome, "00000103"},
        {Utf8(Member(CommandKind::SendPlayContent, 0x401, GroupOutcome::ConnectionLost) +
              FillLine(text::kGroupPieces, {"0", "3"})),
         kOutcome, "00000401"},
        {"群发播放内容完成: 成功 290, 拒绝 0, 超时 3, 离线 7, 发送失败 1, 已取消 2, 连接中断 1, "
         "已发送未确认 1, 服务已停止 0",
         kOutcome, ""},
        {Utf8(FillLine(text::kGroupNotQueued, {text::kGroupStopMp3})), kOutcome, ""},
        {Utf8(WithText(text::kJobCancelled, JobTitle(CommandKind::ReadSettings, 0x20260001, 0))),
         kOutcome, "20260001"},
        {Utf8(FillLine(text::kJobOutcome, {JobTitle(CommandKind::RestartDevice, 0x1e240, 0),
                                           GroupOutcomeName(GroupOutcome::SendFailed)})),
         kOutcome, "0001e240"},
        {Utf8(WithText(text::kJobCancelledUnrun, JobTitle(CommandKind::PlayMp3, 0, 300))), kOutcome,
         ""},
        {Utf8(WithText(text::kOwedAnswerTaken, DeviceIdText(0xbeef))), kOutcome, "0000beef"},
        {Utf8(WithText(text::kSendFailed, DeviceIdText(0xdead)) + text::kStatusAnswerName),
         kOutcome, "0000dead"},
        {Utf8(WithText(text::kSettingsIncomplete, DeviceIdText(0xbeef))), kOutcome, "0000beef"},
        // Requests refused before anything was sent.
        {Utf8(WithText(text::kDeviceOffline, "0000000b")), kOutcome, "0000000b"},
        {Utf8(WithText(text::kDeviceOffline, "0001E240")), kOutcome, "0001e240"},
        {Utf8(WithText(text::kBadDeviceId, "0000000x")), kOutcome, ""},
        {Utf8(WithText(text::kBadDeviceId, "0001e2401")), kOutcome, ""},
        {Utf8(WithText(text::kPagesHoldNone, DeviceIdText(0x1e240))), kOutcome, "0001e240"},
        {Utf8(text::kNoDeviceChosen), kOutcome, ""},
        {Utf8(text::kBusy), kOutcome, ""},
        {Utf8(text::kGroupNotAGroupKind), kOutcome, ""},
        {Utf8(text::kModemIdHex), kOutcome, ""},
        {Utf8(text::kHeartbeatRange), kOutcome, ""},
        {Utf8(text::kFmFreqDigits), kOutcome, ""},
        {Utf8(text::kPlayCountRange), kOutcome, ""},
        {Utf8(FillLine(text::kPlayContentTooLong, {"261120"})), kOutcome, ""},
        {Utf8(FillLine(text::kGroupUpgradeRefused, {text::kGroupUpgrade})), kOutcome, ""},
        {"提示:仅对所选择的第一个设备进行操作，不能同时操作多台设备", kOutcome, ""},
        {"请选择一台设备进行配置", kOutcome, ""},
        {"注意!群发结果无法写入 /tmp/g.csv", kOutcome, ""},
        {"导入终端登记: /tmp/r.csv 第3行: 设备ID 0001e240 与第2行重复", kOutcome, "0001e240"},
        // The program itself.
        {"服务启动,侦听端口为5001\r\n", kSystem, ""},
        {"停止数据中心服务成功!", kSystem, ""},
        {"启动接收线程失败,关闭数据中心服务\r\n", kSystem, ""},
        {"注意!可用的连接描述符已用尽(1020/1024),新的终端暂时无法接入,连接释放后将自动恢复",
         kSystem, ""},
        {"连接描述符已恢复(900/1024),可以接入新的终端", kSystem, ""},
        {"日志文件写入失败: /nowhere/pelmora-2026-01-01.log", kSystem, ""},
        {"注意!预警记录数据库已损坏,已另存并新建: /tmp/x.db", kSystem, ""},
        {"设置中保存的服务端口“abc”无效(应为1到65535),改用默认端口5001", kSystem, ""},
        {"补发预警记录7(第2次发送)给3台重新上线的终端", kSystem, ""},
        // Lines no rule knows.
        {"", kSystem, ""},
        {"hello", kSystem, ""},
        {"0001e24:short", kSystem, ""},
    };
    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.line);
        const LogLineClass got = ClassifyLogLine(sample.line);
        EXPECT_EQ(LogKindName(got.kind), LogKindName(sample.kind));
        EXPECT_EQ(got.terminal, sample.terminal);
    }
    EXPECT_EQ(LogKindName(LogKind::Operator), "操作");
    EXPECT_EQ(LogKindName(LogKind::Outcome), "结果");
    EXPECT_EQ(LogKindName(LogKind::TerminalMessage), "终端消息");
    EXPECT_EQ(LogKindName(LogKind::System), "系统");
}

}  // namespace
}  // namespace pelmora
