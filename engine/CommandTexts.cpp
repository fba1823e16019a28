#include "CommandTexts.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "CmdDataObj.h"
#include "GbkCodec.h"
#include "GroupJob.h"

namespace pelmora {

namespace cmd {
const SettingCommand kText1{"AT+LRMSETTXT1=%s\r", "设置内容一成功", "设置内容一失败"};
const SettingCommand kText2{"AT+LRMSETTXT2=%s\r", "设置内容二成功", "设置内容二失败"};
const SettingCommand kText3{"AT+LRMSETTXT3=%s\r", "设置内容三成功", "设置内容三失败"};

const SettingCommand kPhonePriority{"AT+LRMPHNPRIO=%d\r", "设置电话等级成功", "设置电话等级失败"};
const SettingCommand kSmsPriority{"AT+LRMSMSPRIO=%d\r", "设置短信等级成功", "设置短信等级失败"};
const SettingCommand kGprsPriority{"AT+LRMGPRSPRIO=%d\r", "设置GPRS等级成功", "设置GPRS等级失败"};
const SettingCommand kMicPriority{"AT+LRMMICPRIO=%d\r", "设置麦克风等级成功", "设置麦克风等级失败"};
const SettingCommand kInterPhonePriority{"AT+LRMINPHNPRIO=%d\r", "设置对讲机等级成功",
                                         "设置对讲机等级失败"};
const SettingCommand kFmPriority{"AT+LRMFMPRIO=%d\r", "设置调频等级成功", "设置调频等级失败"};
const SettingCommand kMp3Priority{"AT+LRMMP3PRIO=%d\r", "设置MP3等级成功", "设置MP3等级失败"};
const SettingCommand kLocalAlarmPriority{"AT+LRMLCLLRMPRIO=%d\r", "设置本地预警等级成功",
                                         "设置本地预警等级失败"};
const SettingCommand kLineInPriority{"AT+LRMLINEPRIO=%d\r", "设置线输入预警的优先级成功",
                                     "设置线输入预警的优先级失败"};

const SettingCommand kSmsPlayNumber{"AT+LRMSMSPLYNUM=%d\r", "设置短信播放次数成功",
                                    "设置短信播放次数失败"};
const SettingCommand kGprsPlayNumber{"AT+LRMGPRSPLYNUM=%d\r", "设置GPRS播放次数成功",
                                     "设置GPRS播放次数失败"};
const SettingCommand kLocalAlarmPlayNumber{"AT+LRMLCLLRMPLYNUM=%d\r", "设置本地预警播放次数成功",
                                           "设置本地预警播放次数失败"};

const SettingCommand kTotalServers{"at+svrcnt=%s\r", "设置主中心数目成功", "设置主中心数目失败"};
const SettingCommand kServerIp{"at+ipad=%s\r", "设置主中心IP成功", "设置主中心IP失败"};
const SettingCommand kServerPort{"at+port=%s\r", "设置主中心端口成功", "设置主中心端口失败"};
const SettingCommand kSecondaryServerIp{"at+ipsec=%s\r", "设置备份中心IP成功",
                                        "设置备份中心IP失败"};
const SettingCommand kSecondaryServerPort{"at+ptsec=%s\r", "设置备份中心端口成功",
                                          "设置备份中心端口失败"};
const SettingCommand kDnsServer{"at+dnssvr=%s\r", "设置主中心DNS成功", "设置主中心DNS失败"};
const SettingCommand kSecondDnsServer{"at+dnssv2=%s\r", "设置备份中心DNS成功",
                                      "设置备份中心DNS失败"};
const SettingCommand kDebugLevel{"at+debug=%s\r", "设置调试等级成功", "设置调试等级失败"};
const SettingCommand kReturnToMain{"at+retmain=%d\r", "设置返回主中心参数成功",
                                   "设置返回主中心参数失败"};
const SettingCommand kModemId{"at+idnt=%s\r", "设置设备ID成功", "设置设备ID失败"};
const SettingCommand kModemPhone{"at+phon=%s\r", "设置SIM ID成功", "设置SIM ID失败"};
const SettingCommand kRetryTimes{"AT+RETRY=%s\r", "设置断线重连次数成功", "设置断线重连次数失败"};
const SettingCommand kDialWait{"AT+RDLWT=%s\r", "设置重连间隔时间成功", "设置重连间隔时间失败"};
const SettingCommand kApn{"at+apn=%s\r", "设置APN成功", "设置APN失败"};
const SettingCommand kPppUser{"at+username=%s\r", "设置APN 用户名成功", "设置APN 用户名失败"};
const SettingCommand kPppPassword{"at+password=%s\r", "设置APN 密码成功", "设置APN 密码失败"};
const SettingCommand kCenterCall{"at+cent=%s\r", "设置拨号中心号码成功", "设置拨号中心号码失败"};
const SettingCommand kSmsCenter{"at+smsc=%s\r", "设置短信中心号码成功", "设置短信中心号码失败"};
const SettingCommand kHeartbeat{"at+polltime=%s\r", "设置心跳时间间隔成功", "设置心跳时间间隔失败"};

const SettingCommand kSmsResponse{"AT+LRMSMSRSP=%d\r", "设置短信回执成功", "设置短信回执失败"};
const SettingCommand kSmsBackup{"AT+LRMSMSBK=%d\r", "设置短信备份成功", "设置短信备份失败"};
const SettingCommand kSmsStateTime{"AT+LRMSTATESMSTIME=%s\r", "设置状态短信发送时间成功",
                                   "设置状态短信发送时间失败"};
const SettingCommand kFmFreq{"AT+LRMFMFREQ=%s\r", "设置FM接收频率成功", "设置FM接收频率失败"};
const SettingCommand kFmSnr{"AT+LRMFMSNR=%s\r", "设置FM接收信噪比成功", "设置FM接收信噪比失败"};
const SettingCommand kFmVoice{"AT+LRMFMVOICE=%s\r", "设置FM音量成功", "设置FM音量失败"};
const SettingCommand kFmReceiveEnable{"AT+LRMFMRECEN=%d\r", "设置FM接收使能成功",
                                      "设置FM接收使能失败"};
const SettingCommand kMp3PlayMode{"AT+LRMMP3PLYMODE=%d\r", "设置mp3播放模式成功",
                                  "设置mp3播放模式失败"};
const SettingCommand kMp3Volume{"AT+LRMMP3LVL=%s\r", "设置mp3播放音量成功", "设置mp3播放音量失败"};
const SettingCommand kTtsVoice{"AT+LRMTTSVOICE=%d\r", "设置TTS语音成功", "设置TTS语音失败"};
const SettingCommand kTtsLevel{"AT+LRMTTSLVL=%s\r", "设置TTS播放音量成功", "设置TTS播放音量失败"};
const SettingCommand kTtsSpeed{"AT+LRMTTSSPEED=%s\r", "设置TTS播放速度成功", "设置TTS播放速度失败"};
const SettingCommand kTtsTone{"AT+LRMTTSTONE=%s\r", "设置TTS播放音调成功", "设置TTS播放音调失败"};
const SettingCommand kMcuFunction{"AT+LRMMCUFUN=%d\r", "设置是否附带通讯模块成功",
                                  "设置是否附带通讯模块失败"};
const SettingCommand kInterPhoneOpen{"AT+LRMSETINPHNOPEN=%d\r", "设置是否开启对讲机模块成功",
                                     "设置是否开启对讲机模块失败"};
}  // namespace cmd

namespace text {
const char* const kReadSettingsLine = "AT+SHOW\r";
const char* const kCommitConfig = "***COMMIT CONFIG***";
const char* const kAccessPointLabel = "Access Point Name:";
const char* const kOk = "OK";
const char* const kError = "ERROR";
const char* const kSmsCenterDefault = "默认";
const char* const kOnline = "在线";
const char* const kOffline = "离线";
const char* const kMainsPower = "主电";
const char* const kBatteryPower = "备电";
const char* const kYes = "是";
const char* const kNo = "否";
const char* const kSingleRepeat = "单曲循环";
const char* const kAllRepeat = "全部循环";
const char* const kSingle = "单曲";
const char* const kFemaleVoice = "女声";
const char* const kMaleVoice = "男声";

const char* const kNoDeviceChosen = "设备ID为空，选择设备";
const char* const kBadDeviceId = "注意!设备%s的id号错误,将不进行发送!";
const char* const kDeviceOffline = "注意!设备%s离线,将不进行发送!";
const char* const kBusy = "上个操作未完成，请稍后再试\r\n";
const char* const kSettingsTimeout = "参数加载超时...";
const char* const kSaveDone = "参数保存完毕...";
const char* const kTextTooLong = "设置内容失败,数据长度太长....";
const char* const kPlayCountRange = "播放次数参数范围应该是0到65535之间....";
const char* const kModemIdLength = "设备ID号必须是8位长度";
const char* const kModemIdHex = "设备ID号必须是十六进制字符串";
const char* const kSimLength = "SIM 卡号必须是11位长度";
const char* const kSmsCenterChars = "短信中心号码必须是+，或者数字";
const char* const kHeartbeatRange = "心跳包大小超出范围";
const char* const kFmFreqDigits = "FM接收频率只能是数字格式";
const char* const kUnsendableCell = "%s 含有无法发送的字符(GBK不能表示),请修改后再保存";
const char* const kPlayContentTooLong = "播放内容过长,最多%d字节,未发送";

const char* const kPagesHoldOther =
    "注意!配置页面显示的是设备%s的参数,未向所选设备发送任何内容,请先对所选设备进行参数回读";
const char* const kPagesHoldNone = "注意!尚未回读设备%s的参数,未发送任何内容,请先进行参数回读";
const char* const kSettingsIncomplete = "注意!设备%s的参数报告不完整,页面只显示已读到的部分";
const char* const kSendFailed = "注意!向设备%s发送失败(连接已断开或对方不接收数据):";
const char* const kSendDropped = ",另有%s条待发送数据已丢弃";
const char* const kSendBacklog = "注意!设备%s待发送的数据过多,已丢弃:";
const char* const kSendNoThread = "注意!发送线程启动失败,未向设备%s发送:";
const char* const kStatusAnswerName = "状态应答";
const char* const kCommitName = "远程配置提交命令";

const char* const kGroupPlayContent = "群发播放内容";
const char* const kGroupPlayMp3 = "群发播放MP3";
const char* const kGroupStopMp3 = "群发停止MP3";
const char* const kGroupReadVersion = "群发版本查询";
const char* const kGroupUpgrade = "群发升级参数";
const char* const kGroupRestart = "群发设备重启";
const char* const kGroupWaiting = "等待发送";
const char* const kGroupSent = "等待应答";
const char* const kGroupSucceeded = "成功";
const char* const kGroupRefused = "拒绝";
const char* const kGroupTimedOut = "超时";
const char* const kGroupOffline = "离线";
const char* const kGroupSendFailed = "发送失败";
const char* const kGroupCancelled = "已取消";
const char* const kGroupConnectionLost = "连接中断";
const char* const kGroupUnconfirmed = "已发送未确认";
const char* const kGroupServiceStopped = "服务已停止";
const char* const kGroupQueued = "%s: 共%d台设备,请等待...";
const char* const kGroupQueuedOffline = "%s: 共%d台设备,其中%d台离线不发送,请等待...";
const char* const kGroupNotQueued = "%s失败";
const char* const kGroupNotAGroupKind = "注意!该操作不能群发";
const char* const kGroupMember = "%s: 设备%s %s";
const char* const kGroupVersions = ", 软件版本 %s, 引导版本 %s";
const char* const kGroupPieces = ", 已确认%d段(共%d段)";
const char* const kGroupSummary = "%s完成: 成功 %d, 拒绝 %d, 超时 %d, 离线 %d";
const char* const kGroupSummarySendFailed = ", 发送失败 %d";
const char* const kGroupSummaryCancelled = ", 已取消 %d";
const char* const kGroupSummaryConnectionLost = ", 连接中断 %d";
const char* const kGroupSummaryUnconfirmed = ", 已发送未确认 %d";
const char* const kGroupSummaryServiceStopped = ", 服务已停止 %d";
const char* const kGroupUpgradeRefused = "%s: 升级参数不完整或有误,未向任何设备发送";
const char* const kJobCancelled = "%s已取消";
const char* const kJobOutcome = "%s: %s";
const char* const kOwedAnswerTaken =
    "注意!设备%s的应答已算作之前未应答的命令,本次发送是否收到无法确认";
const char* const kJobCancelledUnrun = "%s已取消,未发送";
const char* const kJobOfDevice = "%s(设备%s)";
const char* const kJobOfGroup = "%s(共%d台设备)";
const char* const kGroupContentRefused = "%s: 播放内容过长,最多%d字节,未向任何设备发送";
}  // namespace text

namespace {

const JobTexts kReadSettingsTexts{"正在读取参数，请等待...", "读取参数失败...", nullptr, nullptr,
                                  "参数加载超时..."};
const JobTexts kSaveSettingsTexts{"参数保存中，请等待...", "参数保存失败...", "参数保存完毕...",
                                  nullptr, nullptr};
const JobTexts kPlayMp3Texts{"设置播放mp3,清等待...", "设置播放mp3失败", "设置播放mp3成功",
                             "设置播放Mp3失败", "设置播放mp3失败"};
const JobTexts kStopMp3Texts{"设置停止播放mp3,清等待...", "设置停止播放mp3失败",
                             "设置停止播放mp3成功", "设置停止播放Mp3失败", "设置停止播放mp3失败"};
const JobTexts kPlayContentTexts{"设置播放内容,清等待...", "设置播放内容失败", "设置播放内容成功",
                                 "设置播放内容失败", "设置播放内容失败"};
const JobTexts kUpgradeTexts{"设置升级参数,清等待...", "设置升级参数失败", "无线下载配置应答成功",
                             "无线下载配置应答失败", "无线下载配置应答失败"};
const JobTexts kVersionTexts{"读取版本号,清等待...", "读取版本号失败", "读取版本成功", nullptr,
                             "读取版本失败"};
const JobTexts kRestartTexts{"设备重启中,清等待...", "设备重启失败", "设备重启成功", nullptr,
                             "设备重启失败"};

const ListTexts kAddAdmin{nullptr, "管理号码添加失败"};
const ListTexts kAddAuthorize{nullptr, "授权号码添加失败"};
const ListTexts kAddBackup{nullptr, "备份号码添加失败"};
const ListTexts kResetAdmin{"重置管理号码成功", "重置管理号码失败"};
const ListTexts kResetAuthorize{"重置授权号码成功", "重置授权号码失败"};
const ListTexts kResetBackup{"重置备份号码成功", "重置备份号码失败"};
const ListTexts kDeleteAdmin{"管理号码删除成功", "管理号码删除失败"};
const ListTexts kDeleteAuthorize{"授权号码删除成功", "授权号码删除失败"};
const ListTexts kDeleteBackup{"备份号码删除成功", "备份号码删除失败"};

}  // namespace

const JobTexts* TextsFor(CommandKind kind) {
    switch (kind) {
        case CommandKind::ReadSettings:
            return &kReadSettingsTexts;
        case CommandKind::SaveSettings:
            return &kSaveSettingsTexts;
        case CommandKind::PlayMp3:
            return &kPlayMp3Texts;
        case CommandKind::StopMp3:
            return &kStopMp3Texts;
        case CommandKind::SendPlayContent:
            return &kPlayContentTexts;
        case CommandKind::SendUpgradeParams:
            return &kUpgradeTexts;
        case CommandKind::ReadVersion:
            return &kVersionTexts;
        case CommandKind::RestartDevice:
            return &kRestartTexts;
        default:
            return nullptr;
    }
}

const char* JobKindName(CommandKind kind, bool group) {
    if (group) return GroupKindName(kind);
    switch (kind) {
        case CommandKind::ReadSettings:
            return "参数回读";
        case CommandKind::SaveSettings:
            return "保存设置";
        case CommandKind::AddAdminNumbers:
            return "添加管理号码";
        case CommandKind::AddAuthorizeNumbers:
            return "添加授权号码";
        case CommandKind::AddBackupNumbers:
            return "添加备份号码";
        case CommandKind::ResetAdminNumbers:
            return "重置管理号码";
        case CommandKind::ResetAuthorizeNumbers:
            return "重置授权号码";
        case CommandKind::ResetBackupNumbers:
            return "重置备份号码";
        case CommandKind::DeleteAdminNumbers:
            return "删除管理号码";
        case CommandKind::DeleteAuthorizeNumbers:
            return "删除授权号码";
        case CommandKind::DeleteBackupNumbers:
            return "删除备份号码";
        case CommandKind::PlayMp3:
            return "播放MP3";
        case CommandKind::StopMp3:
            return "停止MP3";
        case CommandKind::SendPlayContent:
            return "发送播放内容";
        case CommandKind::SendUpgradeParams:
            return "设置升级参数";
        case CommandKind::ReadVersion:
            return "版本查询";
        case CommandKind::RestartDevice:
            return "设备重启";
    }
    return "";
}

std::string JobTitle(CommandKind kind, std::uint32_t deviceId, std::size_t groupTerminals) {
    if (groupTerminals > 0)
        return FillLine(text::kJobOfGroup,
                        {JobKindName(kind, true), std::to_string(groupTerminals)});
    return FillLine(text::kJobOfDevice, {JobKindName(kind, false), DeviceIdText(deviceId)});
}

const ListTexts* ListTextsFor(CommandKind kind) {
    switch (kind) {
        case CommandKind::AddAdminNumbers:
            return &kAddAdmin;
        case CommandKind::AddAuthorizeNumbers:
            return &kAddAuthorize;
        case CommandKind::AddBackupNumbers:
            return &kAddBackup;
        case CommandKind::ResetAdminNumbers:
            return &kResetAdmin;
        case CommandKind::ResetAuthorizeNumbers:
            return &kResetAuthorize;
        case CommandKind::ResetBackupNumbers:
            return &kResetBackup;
        case CommandKind::DeleteAdminNumbers:
            return &kDeleteAdmin;
        case CommandKind::DeleteAuthorizeNumbers:
            return &kDeleteAuthorize;
        case CommandKind::DeleteBackupNumbers:
            return &kDeleteBackup;
        default:
            return nullptr;
    }
}

std::string FormatCommand(const char* format, const std::string& value) {
    // One "%s": everything around it is copied, the value inserted as it stands.
    const std::string f = format;
    const auto at = f.find("%s");
    if (at == std::string::npos) return f;
    return f.substr(0, at) + value + f.substr(at + 2);
}

std::string FormatCommand(const char* format, long long number) {
    const std::string f = format;
    const auto at = f.find("%d");
    if (at == std::string::npos) return f;
    return f.substr(0, at) + std::to_string(number) + f.substr(at + 2);
}

std::string FillLine(const char* format, std::initializer_list<std::string> values) {
    // Scans forward only, so a value that itself holds "%s" stays as it is.
    const std::string f = format;
    std::string out;
    std::size_t at = 0;
    auto value = values.begin();
    while (at < f.size()) {
        const std::size_t next = f.find('%', at);
        if (next == std::string::npos || next + 1 >= f.size()) break;
        out.append(f, at, next - at);
        const char c = f[next + 1];
        if ((c == 's' || c == 'd') && value != values.end()) {
            out += *value++;
        } else {
            out.append(f, next, 2);
        }
        at = next + 2;
    }
    if (at < f.size()) out.append(f, at, std::string::npos);
    return out;
}

namespace {

bool IsLogText(std::string_view bytes) {
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\r' && c != '\n' && c != '\t') || byte == 0x7F) return false;
    }
    return GbkToUtf8(bytes).has_value();
}

}  // namespace

std::string ReceivedLogText(const std::uint8_t* data, std::size_t length) {
    constexpr std::size_t kHexBytes = 64;
    if (data == nullptr || length == 0) return {};
    const auto* chars = reinterpret_cast<const char*>(data);
    const std::string_view text(chars, ::strnlen(chars, length));
    if (IsLogText(text)) return std::string(text);
    if (IsStatusMessage(data, length)) return (data[15] & 1) ? "[状态 备电]" : "[状态 主电]";
    char buffer[64];
    if (length >= CCmdDataObj::kShortOverhead && data[0] == 0x02 && data[1] == 0x11 &&
        data[2] == 0x01) {
        std::snprintf(buffer, sizeof buffer, "[控制帧 命令0x%04x, %zu字节]",
                      static_cast<unsigned>(data[9] << 8 | data[10]), length);
        return buffer;
    }
    std::string hex = "<";
    for (std::size_t i = 0; i < length && i < kHexBytes; ++i) {
        std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : " %02x", data[i]);
        hex += buffer;
    }
    if (length > kHexBytes) hex += " ...";
    return hex + ">";
}

std::string DeviceIdText(std::uint32_t deviceId) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", deviceId);
    return text;
}

std::string WithText(const char* line, const std::string& value) {
    return FormatCommand(line, value);
}

}  // namespace pelmora
