// The vocabulary of the engine: every command line it sends and every line it
// logs. The texts are GBK (their source file is compiled to GBK).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "CommandJob.h"

namespace pelmora {

// One settings command: its printf-style line and its two log lines.
struct SettingCommand {
    const char* format;  // "%s" or "%d" once, ends in "\r"
    const char* success;
    const char* failure;
};

namespace cmd {
// Preset texts.
extern const SettingCommand kText1, kText2, kText3;
// Alarm priorities.
extern const SettingCommand kPhonePriority, kSmsPriority, kGprsPriority, kMicPriority,
    kInterPhonePriority, kFmPriority, kMp3Priority, kLocalAlarmPriority, kLineInPriority;
// Play counts.
extern const SettingCommand kSmsPlayNumber, kGprsPlayNumber, kLocalAlarmPlayNumber;
// GPRS centre and modem.
extern const SettingCommand kTotalServers, kServerIp, kServerPort, kSecondaryServerIp,
    kSecondaryServerPort, kDnsServer, kSecondDnsServer, kDebugLevel, kReturnToMain, kModemId,
    kModemPhone, kRetryTimes, kDialWait, kApn, kPppUser, kPppPassword, kCenterCall, kSmsCenter,
    kHeartbeat;
// Other alarm-unit settings.
extern const SettingCommand kSmsResponse, kSmsBackup, kSmsStateTime, kFmFreq, kFmSnr, kFmVoice,
    kFmReceiveEnable, kMp3PlayMode, kMp3Volume, kTtsVoice, kTtsLevel, kTtsSpeed, kTtsTone,
    kMcuFunction, kInterPhoneOpen;
}  // namespace cmd

// Formats a command line with one argument.
std::string FormatCommand(const char* format, const std::string& text);
std::string FormatCommand(const char* format, long long number);

namespace text {
extern const char* const kReadSettingsLine;  // "AT+SHOW\r"
extern const char* const kCommitConfig;      // the remote-configuration commit, no "\r"
extern const char* const kAccessPointLabel;  // where a report's modem section starts
extern const char* const kOk;
extern const char* const kError;
extern const char* const kSmsCenterDefault;  // "默认"
extern const char* const kOnline;            // "在线"
extern const char* const kOffline;           // "离线"
extern const char* const kMainsPower;        // "主电"
extern const char* const kBatteryPower;      // "备电"
extern const char* const kYes;               // "是"
extern const char* const kNo;                // "否"
extern const char* const kSingleRepeat;      // "单曲循环"
extern const char* const kAllRepeat;         // "全部循环"
extern const char* const kSingle;            // "单曲"
extern const char* const kFemaleVoice;       // "女声"
extern const char* const kMaleVoice;         // "男声"

// Log lines of the channel and the pages' contract.
extern const char* const kNoDeviceChosen;   // "设备ID为空，选择设备"
extern const char* const kBadDeviceId;      // "注意!设备%s的id号错误,将不进行发送!"
extern const char* const kDeviceOffline;    // "注意!设备%s离线,将不进行发送!"
extern const char* const kBusy;             // "上个操作未完成，请稍后再试\r\n"
extern const char* const kSettingsTimeout;  // "参数加载超时..."
extern const char* const kSaveDone;         // "参数保存完毕..."
extern const char* const kTextTooLong;      // "设置内容失败,数据长度太长...."
extern const char* const kPlayCountRange;  // "播放次数参数范围应该是0到65535之间...."
extern const char* const kModemIdLength;
extern const char* const kModemIdHex;
extern const char* const kSimLength;
extern const char* const kSmsCenterChars;
extern const char* const kHeartbeatRange;
extern const char* const kFmFreqDigits;
extern const char* const kUnsendableCell;  // "%s" is the row's label
// Play content beyond what a frame's one-byte piece count can number; "%d" is
// the longest content that can go.
extern const char* const kPlayContentTooLong;

// The pages hold another terminal's read-back (the "%s" is the pages'
// terminal), or none of the ticked terminal's (the "%s" is the ticked one).
extern const char* const kPagesHoldOther;
extern const char* const kPagesHoldNone;
extern const char* const kSettingsIncomplete;  // "%s" is the terminal
// Sends made for the window thread; the message's name follows the line.
extern const char* const kSendFailed;
extern const char* const kSendDropped;  // "%s" is the count
extern const char* const kSendBacklog;
extern const char* const kSendNoThread;
extern const char* const kStatusAnswerName;
extern const char* const kCommitName;

// Group jobs. The kind names: "群发播放内容" and so on.
extern const char* const kGroupPlayContent;
extern const char* const kGroupPlayMp3;
extern const char* const kGroupStopMp3;
extern const char* const kGroupReadVersion;
extern const char* const kGroupUpgrade;
extern const char* const kGroupRestart;
// The outcome names: "等待发送", "等待应答", "成功" and so on.
extern const char* const kGroupWaiting;
extern const char* const kGroupSent;
extern const char* const kGroupSucceeded;
extern const char* const kGroupRefused;
extern const char* const kGroupTimedOut;
extern const char* const kGroupOffline;
extern const char* const kGroupSendFailed;
extern const char* const kGroupCancelled;
extern const char* const kGroupConnectionLost;
extern const char* const kGroupUnconfirmed;
extern const char* const kGroupServiceStopped;
// Lines; their "%s" and "%d" are filled in order (kind name first).
extern const char* const kGroupQueued;         // kind, terminals
extern const char* const kGroupQueuedOffline;  // kind, terminals, offline ones
extern const char* const kGroupNotQueued;      // kind
extern const char* const kGroupNotAGroupKind;
extern const char* const kGroupMember;    // kind, device ID, outcome name
extern const char* const kGroupVersions;  // software and boot version, after kGroupMember
extern const char* const kGroupPieces;    // pieces acknowledged, pieces, after kGroupMember
extern const char* const kGroupSummary;   // kind, succeeded, refused, timed out, offline
extern const char* const kGroupSummarySendFailed;
extern const char* const kGroupSummaryCancelled;
extern const char* const kGroupSummaryConnectionLost;
extern const char* const kGroupSummaryUnconfirmed;
extern const char* const kGroupSummaryServiceStopped;
extern const char* const kGroupUpgradeRefused;  // kind
extern const char* const kGroupContentRefused;  // kind, longest content in bytes

// Cancelled jobs; the "%s" names the job ("参数回读(设备20260001)").
extern const char* const kJobCancelled;  // the running job, after its failure line
// A single-terminal job that ended for a reason of its own ("发送失败",
// "连接中断", "已发送未确认", "服务已停止"), after its failure line: the job's
// name, then the outcome's word.
extern const char* const kJobOutcome;
// An exchange timed out after the terminal's answer went to an earlier,
// unanswered one: it may have been this one's. "%s" is the terminal.
extern const char* const kOwedAnswerTaken;
extern const char* const kJobCancelledUnrun;  // a job that was waiting: nothing was sent
extern const char* const kJobOfDevice;        // kind name, device ID
extern const char* const kJobOfGroup;         // kind name, terminals
}  // namespace text

// The name of a job's kind ("参数回读", "添加管理号码", "群发播放内容" for a
// group), for the status bar and the cancel lines; empty for numbers that
// name no job.
const char* JobKindName(CommandKind kind, bool group);
// A job as the cancel lines and the window name it: "参数回读(设备20260001)",
// or "群发播放内容(共300台设备)" when `groupTerminals` is not zero.
std::string JobTitle(CommandKind kind, std::uint32_t deviceId, std::size_t groupTerminals);

// Fills the "%s" and "%d" of a line, in order, with the values as they stand.
std::string FillLine(const char* format, std::initializer_list<std::string> values);

// The lines of one engine command: logged by the page after queueing, and by
// the worker when the job ends.
struct JobTexts {
    const char* queued;
    const char* notQueued;
    const char* success;
    const char* refused;
    const char* timedOut;
};
// Null for kinds without their own lines (the number lists log their own).
const JobTexts* TextsFor(CommandKind kind);

// The failure and success lines of the number-list kinds.
struct ListTexts {
    const char* success;
    const char* failure;
};
const ListTexts* ListTextsFor(CommandKind kind);

// What follows "%08x:" in the log line of a received message: a text message
// as it stands (up to its first NUL); the status message as "[状态 主电]" or
// "[状态 备电]"; another control frame as "[控制帧 命令0x8202, 19字节]"; any
// other message that is not text as its first 64 bytes in hex in angle
// brackets. Binary bytes would otherwise draw as boxes in the log.
std::string ReceivedLogText(const std::uint8_t* data, std::size_t length);

// "%08x:%s" and "%8.8x" forms of a device ID.
std::string DeviceIdText(std::uint32_t deviceId);
// Replaces the single "%s" of a log line.
std::string WithText(const char* line, const std::string& text);

}  // namespace pelmora
