#include "SettingsReport.h"

#include <array>
#include <utility>

#include "GbkCodec.h"

namespace dovrik::sim {

namespace {

using pelmora::AlarmSettings;

// The reader drops the last three characters of some modem values and the
// last two of the SMS centre, so the terminal prints that many more.
constexpr std::string_view kDroppedTail3 = "###";
constexpr std::string_view kDroppedTail2 = "##";

// Modem values start at this column; the reader skips the blanks before them.
constexpr std::size_t kModemValueColumn = 34;

struct CodeText {
    std::string_view code;
    std::string_view text;
};

// Each text holds its own keyword and none that the reader tests before it.
constexpr std::array<CodeText, 9> kWorkModes{{
    {"PROT", "PROTOCOL"},
    {"TRNS", "TRANSPARENT"},
    {"TTRN", "TCP TRANS"},
    {"TLNT", "TCP CLIENT"},
    {"LONG", "LONG CONNECTION"},
    {"LNGT", "LNGT"},
    {"TUDP", "UDP"},
    {"TCST", "TCP CUSTOM"},
    {"TCPSVR", "TCP SERVER"},
}};

constexpr std::array<CodeText, 5> kActivateMethods{{
    {"AUTO", "AUTO"},
    {"SMSD", "SMS"},
    {"CTRL", "CONTROLABLE"},
    {"DATA", "DATA"},
    {"MIXD", "MIXD"},
}};

template <std::size_t N>
std::string TextOf(const std::array<CodeText, N>& table, std::string_view code) {
    for (const auto& entry : table) {
        if (entry.code == code) return std::string(entry.text);
    }
    return std::string(code);
}

class ReportWriter {
  public:
    void Modem(std::string_view label, std::string_view value, std::string_view tail = {}) {
        text_ += label;
        text_.append(label.size() < kModemValueColumn ? kModemValueColumn - label.size() : 1, ' ');
        text_ += value;
        text_ += tail;
        text_ += "\r\n";
    }
    void Alarm(std::string_view label, std::string_view value) {
        text_ += label;
        text_ += value;
        text_ += "\r\n";
    }
    void Alarm(std::string_view label, long long value) { Alarm(label, std::to_string(value)); }
    void Raw(std::string_view text) { text_ += text; }
    std::string Take() { return std::move(text_); }

  private:
    std::string text_;
};

std::string JoinNumbers(const pelmora::NumberList& list) {
    std::string joined;
    for (const auto& number : list) {
        if (number.empty()) continue;
        if (!joined.empty()) joined += ',';
        joined += number;
    }
    return joined;
}

std::string Gbk(std::string_view utf8) {
    return pelmora::Utf8ToGbk(utf8).value_or(std::string());
}

}  // namespace

std::string WorkModeText(std::string_view code) {
    return TextOf(kWorkModes, code);
}

std::string ActivateMethodText(std::string_view code) {
    return TextOf(kActivateMethods, code);
}

std::string SerialModeText(std::string_view code) {
    if (code.size() != 3) return std::string(code);
    return std::string{code[0], ',', code[1], ',', code[2]};
}

AlarmSettings DefaultTerminalSettings() {
    AlarmSettings s;
    s.adminNumbers[0] = "13800138000";
    s.adminNumbers[1] = "13912345678";
    s.authorizeNumbers[0] = "13700000001";
    s.authorizeNumbers[1] = "13700000002";
    s.authorizeNumbers[2] = "13700000003";
    s.backupNumbers[0] = "13600000009";
    s.text1 = Gbk("台风红色预警：请立即转移到安全地带。");
    s.text2 = Gbk("暴雨预警，请注意防范山洪和地质灾害。");
    s.text3 = "Drill 3";
    s.phonePriority = 3;
    s.smsPriority = 4;
    s.gprsPriority = 5;
    s.micPriority = 6;
    s.interPhonePriority = 2;
    s.fmPriority = 1;
    s.mp3Priority = 7;
    s.localAlarmPriority = 8;
    s.lineInPriority = 9;
    s.smsPlayNumber = 3;
    s.gprsPlayNumber = 3;
    s.localAlarmPlayNumber = 2;
    s.smsResponse = 1;

    auto& d = s.dtu;
    d.serverIp = "218.5.77.10";
    d.serverPort = "5001";
    d.secondaryServerIp = "218.5.77.11";
    d.secondaryServerPort = "5002";
    d.dnsServerIp = "211.138.151.161";
    d.secondDnsServerIp = "211.138.156.66";
    d.workMode = "PROT";
    d.activateMethod = "AUTO";
    d.debugLevel = "0";
    d.serialCommMode = "8N1";
    d.serialBaudrate = "115200";
    d.returnToMainServer = "1";
    d.modemId = "00000001";
    d.modemPhoneNumber = "13800000000";
    d.bytesFinishInterval = "100";
    d.customKeepOnlineInfo = "KEEP";
    d.customRegisterInfo = "REG";
    d.linkFailRetryTimes = "3";
    d.dialFailWaitTime = "30";
    d.deliverTcpDataDirectly = "1";
    d.apn = "CMNET";
    d.pppUserId = "card";
    d.pppPassword = "card";
    d.centerCallNumber = "*99***1#";
    d.smsCenter = "+8613800591500";
    d.heartbeatPollTime = "60";
    d.controlPhoneNumber = "13800138000";
    d.smsDaemonPassword = "1234";
    d.dataDaemonPppOnPassword = "5678";
    d.dataDaemonPppOffPassword = "8765";

    s.mcuWorkFunction = "1";
    s.interPhoneOpen = "0";
    s.fmFreq = "8870";
    s.fmSnr = "20";
    s.fmVoice = "30";
    s.fmReceiveEnable = "1";
    s.mp3PlayMode = "0";
    s.mp3PlayVoice = "20";
    s.ttsPlayMode = "0";
    s.ttsPlayLevel = "5";
    s.ttsPlaySpeed = "5";
    s.ttsPlayTone = "5";
    s.smsStateTime = "60";
    s.smsBackup = "0";
    s.totalServers = "1";
    return s;
}

AlarmSettings FullTerminalSettings() {
    AlarmSettings s = DefaultTerminalSettings();
    int listNumber = 0;
    for (pelmora::NumberList* list : {&s.adminNumbers, &s.authorizeNumbers, &s.backupNumbers}) {
        ++listNumber;
        for (std::size_t i = 0; i < list->size(); ++i) {
            const std::string serial = std::to_string(10000000 + i);  // eight digits
            (*list)[i] = "13" + std::to_string(listNumber) + serial;
        }
    }
    // Two bytes a character, so the cut at 400 bytes falls between characters.
    // "二", "三", "件" and "升" carry 0xFE and 0xFD.
    const std::string phrase = Gbk("二级预警：三号文件，水位上升，请收听广播。");
    std::string text;
    while (text.size() < pelmora::kPresetTextLimit) text += phrase;
    text.resize(pelmora::kPresetTextLimit);
    s.text1 = s.text2 = s.text3 = text;
    return s;
}

std::string SettingsReport(const AlarmSettings& s) {
    const auto& d = s.dtu;
    ReportWriter w;
    w.Raw("\r\n");

    // Modem section. "Server's Ip" and "Server's Port" precede the secondary
    // and DNS lines that contain them, "ServerN's Ip" its "Dns ServerN's Ip:",
    // and "Dns Server's Ip:" the second DNS line.
    w.Modem("Access Point Name:", d.apn);
    w.Modem("PPP Authentication User Id", d.pppUserId);
    w.Modem("PPP Authentication Password", d.pppPassword);
    w.Modem("Center call number", d.centerCallNumber);
    w.Modem("Sms Center :", d.smsCenter, kDroppedTail2);
    w.Modem("Total Servers", s.totalServers);
    w.Modem("Server's Ip", d.serverIp);
    w.Modem("Server's Port", d.serverPort);
    w.Modem("Secondary Server's Ip", d.secondaryServerIp);
    w.Modem("Secondary Server's Port", d.secondaryServerPort);
    w.Modem("Server1's Ip", d.serverIp);
    w.Modem("Server2's Ip", d.secondaryServerIp);
    w.Modem("Server3's Ip", "0.0.0.0");
    w.Modem("Server4's Ip", "0.0.0.0");
    w.Modem("Server1's Port", d.serverPort);
    w.Modem("Server2's Port", d.secondaryServerPort);
    w.Modem("Server3's Port", "0");
    w.Modem("Server4's Port", "0");
    w.Modem("Dns Server's Ip:", d.dnsServerIp, kDroppedTail3);
    w.Modem("Second Dns Server's Ip:", d.secondDnsServerIp, kDroppedTail3);
    w.Modem("Dns Server1's Ip:", d.dnsServerIp, kDroppedTail3);
    w.Modem("Dns Server2's Ip:", d.secondDnsServerIp, kDroppedTail3);
    w.Modem("Dns Server3's Ip:", "0.0.0.0", kDroppedTail3);
    w.Modem("Dns Server4's Ip:", "0.0.0.0", kDroppedTail3);
    w.Modem("Work Mode:", WorkModeText(d.workMode));
    w.Modem("Activate Method:", ActivateMethodText(d.activateMethod));
    w.Modem("Debug Level", d.debugLevel);
    w.Modem("Serial port commu mode", SerialModeText(d.serialCommMode));
    w.Modem("Serial Baudrate", d.serialBaudrate);
    w.Modem("Should Return To Main Server", d.returnToMainServer);
    w.Modem("Modem's ID number", d.modemId);
    w.Modem("Modem's Phone Number", d.modemPhoneNumber);
    w.Modem("Bytes Finish Interval(ms):", d.bytesFinishInterval, kDroppedTail3);
    w.Modem("Custom Keep Online Info:", d.customKeepOnlineInfo, kDroppedTail3);
    w.Modem("Custom Register Info:", d.customRegisterInfo, kDroppedTail3);
    w.Modem("Link Fail Retry Times:", d.linkFailRetryTimes, kDroppedTail3);
    w.Modem("Wait Time Between Dial Failures:", d.dialFailWaitTime, kDroppedTail3);
    w.Modem("Deliver Recved Tcp Data Directly", d.deliverTcpDataDirectly);
    w.Modem("Heartbeat poll time seconds:", d.heartbeatPollTime, kDroppedTail3);
    w.Modem("Tcp act poll time seconds:", "30", kDroppedTail3);
    w.Modem("Max Tcp Frame Len:", "1024", kDroppedTail3);
    w.Modem("Multi Server Reconnect Interval:", "60", kDroppedTail3);
    w.Modem("Control Phone No.:", d.controlPhoneNumber, kDroppedTail3);
    w.Modem("Sms Daemon Password:", d.smsDaemonPassword, kDroppedTail3);
    w.Modem("Data Daemon PPP On Password:", d.dataDaemonPppOnPassword, kDroppedTail3);
    w.Modem("Data Daemon PPP Off Password:", d.dataDaemonPppOffPassword, kDroppedTail3);

    // Alarm section. The free texts come last, so that a text quoting a
    // label cannot stand in for that label's own line.
    w.Alarm("Alarm admin NO:  ", JoinNumbers(s.adminNumbers));
    w.Alarm("Alarm authorize NO:  ", JoinNumbers(s.authorizeNumbers));
    w.Alarm("Alarm backup NO:  ", JoinNumbers(s.backupNumbers));
    w.Alarm("Alarm phone priority:  ", s.phonePriority);
    w.Alarm("Alarm sms priority:  ", s.smsPriority);
    w.Alarm("Alarm gprs priority:  ", s.gprsPriority);
    w.Alarm("Alarm mic priority:  ", s.micPriority);
    w.Alarm("Alarm inter phone priority:  ", s.interPhonePriority);
    w.Alarm("Alarm fm priority:  ", s.fmPriority);
    w.Alarm("Alarm mp3 priority:  ", s.mp3Priority);
    w.Alarm("Alarm local alarm priority:  ", s.localAlarmPriority);
    w.Alarm("Alarm line in priority:  ", s.lineInPriority);
    w.Alarm("Alarm sms play number:  ", s.smsPlayNumber);
    w.Alarm("Alarm gprs play number:  ", s.gprsPlayNumber);
    w.Alarm("Alarm local alarm play number:  ", s.localAlarmPlayNumber);
    w.Alarm("Alarm is sms response:  ", s.smsResponse);
    w.Alarm("Alarm is sms state time:  ", s.smsStateTime);
    w.Alarm("Alarm is sms backup:  ", s.smsBackup);
    w.Alarm("Alarm mcu work function:  ", s.mcuWorkFunction);
    w.Alarm("Alarm inter phone open: ", s.interPhoneOpen);
    w.Alarm("Alarm fm freq:  ", s.fmFreq);
    w.Alarm("Alarm fm snr:  ", s.fmSnr);
    w.Alarm("Alarm fm voice:  ", s.fmVoice);
    w.Alarm("Alarm fm receive enable:  ", s.fmReceiveEnable);
    w.Alarm("Alarm mp3 play mode:  ", s.mp3PlayMode);
    w.Alarm("Alarm mp3 play voice:  ", s.mp3PlayVoice);
    w.Alarm("Alarm tts play mode:  ", s.ttsPlayMode);
    w.Alarm("Alarm tts play level:  ", s.ttsPlayLevel);
    w.Alarm("Alarm tts play speed:  ", s.ttsPlaySpeed);
    w.Alarm("Alarm tts play tone:  ", s.ttsPlayTone);
    w.Alarm("Alarm text1:  ", s.text1);
    w.Alarm("Alarm text2:  ", s.text2);
    w.Alarm("Alarm text3:  ", s.text3);
    w.Raw("\r\nOK\r\n");
    return w.Take();
}

}  // namespace dovrik::sim
