#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "GbkCodec.h"
#include "SettingsParser.h"

namespace pelmora {
namespace {

std::string Gbk(const char* utf8) {
    return Utf8ToGbk(utf8).value();
}

// One line of a settings report: the label exactly as the terminal prints it
// and the rest of the line without its CR LF.
struct ReportLine {
    std::string label;
    std::string value;
};
using Report = std::vector<ReportLine>;

// A complete report as the parser is handed it: from "Access Point Name:" on,
// every shorter label before the longer labels that contain it. Fields whose
// last three (SMS centre: two) characters are dropped carry such a tail.
Report CompleteReport() {
    return {
        {"Access Point Name:", " CMNET"},
        {"Center call number", " 13800000000"},
        {"PPP Authentication User Id", " user"},
        {"PPP Authentication Password", " secret"},
        {"Total Servers", " 2"},
        {"Server's Ip", " 120.76.3.4"},
        {"Server's Port", " 5001"},
        {"Server1's Ip", " 120.76.3.4"},
        {"Server1's Port", " 5001"},
        {"Server2's Ip", " 61.4.5.6"},
        {"Server2's Port", " 5002"},
        {"Server3's Ip", " 0.0.0.0"},
        {"Server3's Port", " 0"},
        {"Server4's Ip", " 0.0.0.0"},
        {"Server4's Port", " 0"},
        {"Secondary Server's Ip", " 61.4.5.6"},
        {"Secondary Server's Port", " 5002"},
        {"Work Mode:", " TCP CLIENT"},
        {"Activate Method:", " AUTO ONLINE"},
        {"Serial port commu mode", " 8,N,1"},
        {"Serial Baudrate", " 9600"},
        {"Debug Level", " 1"},
        {"Modem's ID number", " 0000a1b2"},
        {"Modem's Phone Number", " 13912345678"},
        {"Deliver Recved Tcp Data Directly", " YES"},
        {"Should Return To Main Server", " NO"},
        {"Heartbeat poll time seconds:", " 60(0)"},
        {"Dns Server's Ip:", " 202.96.128.86(0)"},
        {"Second Dns Server's Ip:", " 202.96.134.133(0)"},
        {"Dns Server1's Ip:", " 202.96.128.86(0)"},
        {"Dns Server2's Ip:", " 0.0.0.0(0)"},
        {"Dns Server3's Ip:", " 0.0.0.0(0)"},
        {"Dns Server4's Ip:", " 0.0.0.0(0)"},
        {"Sms Center :", " +8613800755500()"},
        {"Tcp act poll time seconds:", " 30(0)"},
        {"Control Phone No.:", " 13911112222(0)"},
        {"Sms Daemon Password:", " 1234(0)"},
        {"Custom Register Info:", " REG(0)"},
        {"Custom Keep Online Info:", " KEEP(0)"},
        {"Bytes Finish Interval(ms):", " 100(0)"},
        {"Data Daemon PPP On Password:", " on(0)"},
        {"Data Daemon PPP Off Password:", " off(0)"},
        {"Link Fail Retry Times:", " 3(0)"},
        {"Wait Time Between Dial Failures:", " 30(0)"},
        {"Max Tcp Frame Len:", " 1024(0)"},
        {"Multi Server Reconnect Interval:", " 20(0)"},
        {"Alarm admin NO:  ", "13800000001,13800000002,"},
        {"Alarm authorize NO:  ", "13900000001"},
        {"Alarm backup NO:  ", "13700000001,13700000002"},
        {"Alarm text1:  ", Gbk("紧急通知：请注意防范")},
        {"Alarm text2:  ", "Test broadcast"},
        {"Alarm text3:  ", ""},
        {"Alarm phone priority:  ", "1"},
        {"Alarm sms priority:  ", "2"},
        {"Alarm gprs priority:  ", "3"},
        {"Alarm mic priority:  ", "4"},
        {"Alarm inter phone priority:  ", "5"},
        {"Alarm fm priority:  ", "6"},
        {"Alarm mp3 priority:  ", "7"},
        {"Alarm local alarm priority:  ", "8"},
        {"Alarm line in priority:  ", "9"},
        {"Alarm sms play number:  ", "3"},
        {"Alarm gprs play number:  ", "2"},
        {"Alarm local alarm play number:  ", "5"},
        {"Alarm is sms response:  ", "1"},
        {"Alarm mcu work function:  ", "GPRS"},
        {"Alarm inter phone open: ", "1"},
        {"Alarm fm freq:  ", "9710"},
        {"Alarm fm snr:  ", "3"},
        {"Alarm fm voice:  ", "12"},
        {"Alarm fm receive enable:  ", "0"},
        {"Alarm mp3 play mode:  ", Gbk("单曲循环")},
        {"Alarm mp3 play voice:  ", "10"},
        {"Alarm tts play mode:  ", "0"},
        {"Alarm tts play level:  ", "8"},
        {"Alarm tts play speed:  ", "5"},
        {"Alarm tts play tone:  ", "6"},
        {"Alarm is sms state time:  ", "60"},
        {"Alarm is sms backup:  ", "0"},
    };
}

std::string Text(const Report& report) {
    std::string text;
    for (const auto& [label, value] : report) text += label + value + "\r\n";
    return text + "OK\r\n";
}

ReportLine& LineOf(Report& report, const std::string& label) {
    for (ReportLine& line : report) {
        if (line.label == label) return line;
    }
    ADD_FAILURE() << "no line " << label;
    return report.front();
}

Report With(const std::string& label, const std::string& value, Report report = CompleteReport()) {
    LineOf(report, label).value = value;
    return report;
}

Report Without(const std::string& label, Report report = CompleteReport()) {
    std::erase_if(report, [&](const ReportLine& line) { return line.label == label; });
    return report;
}

// Parses into a record whose every field holds a marker, so a test sees
// which fields the parse wrote and which it left alone.
struct Parsed {
    bool ok = false;
    AlarmSettings record;
};

AlarmSettings MarkedRecord() {
    AlarmSettings r;
    r.adminNumbers[0] = r.authorizeNumbers[0] = r.backupNumbers[7] = "old";
    r.text1 = r.text2 = r.text3 = r.mcuWorkFunction = r.mp3PlayMode = r.ttsPlayTone = "old";
    for (std::uint8_t* priority :
         {&r.phonePriority, &r.smsPriority, &r.gprsPriority, &r.micPriority, &r.interPhonePriority,
          &r.fmPriority, &r.mp3Priority, &r.localAlarmPriority, &r.lineInPriority}) {
        *priority = 77;
    }
    r.smsPlayNumber = r.localAlarmPlayNumber = 77;
    r.smsResponse = 77;
    r.totalServers = r.dtu.apn = r.dtu.serverIp = r.dtu.serverPort = r.dtu.workMode = "old";
    r.dtu.smsCenter = r.dtu.dataDaemonPppOffPassword = "old";
    return r;
}

Parsed Parse(const std::string& text) {
    Parsed p{false, MarkedRecord()};
    p.ok = ParseSettingsReport(text, p.record);
    return p;
}

Parsed Parse(const Report& report) {
    return Parse(Text(report));
}

TEST(SettingsReport, CompleteReportFillsEveryField) {
    const auto [ok, r] = Parse(CompleteReport());
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.adminNumbers[0], "13800000001");
    EXPECT_EQ(r.adminNumbers[1], "13800000002");
    EXPECT_EQ(r.adminNumbers[2], "");
    EXPECT_EQ(r.authorizeNumbers[0], "13900000001");
    EXPECT_EQ(r.backupNumbers[1], "13700000002");
    EXPECT_EQ(r.backupNumbers[7], "");
    EXPECT_EQ(r.text1, Gbk("紧急通知：请注意防范"));
    EXPECT_EQ(r.text2, "Test broadcast");
    EXPECT_EQ(r.text3, "");
    const std::vector<int> priorities{r.phonePriority, r.smsPriority,        r.gprsPriority,
                                      r.micPriority,   r.interPhonePriority, r.fmPriority,
                                      r.mp3Priority,   r.localAlarmPriority, r.lineInPriority};
    EXPECT_EQ(priorities, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(r.smsPlayNumber, 3);
    EXPECT_EQ(r.gprsPlayNumber, 2);
    EXPECT_EQ(r.localAlarmPlayNumber, 5);
    EXPECT_EQ(r.smsResponse, 1);
    const std::vector<std::string> optional{
        r.mcuWorkFunction, r.interPhoneOpen, r.fmFreq,       r.fmSnr,       r.fmVoice,
        r.fmReceiveEnable, r.mp3PlayMode,    r.mp3PlayVoice, r.ttsPlayMode, r.ttsPlayLevel,
        r.ttsPlaySpeed,    r.ttsPlayTone,    r.smsStateTime, r.smsBackup,   r.totalServers};
    EXPECT_EQ(optional,
              (std::vector<std::string>{"GPRS", "1", "9710", "3", "12", "0", Gbk("单曲循环"), "10",
                                        "0", "8", "5", "6", "60", "0", "2"}));
    const DtuSettings& d = r.dtu;
    const std::vector<std::string> modem{d.serverIp,
                                         d.serverPort,
                                         d.secondaryServerIp,
                                         d.secondaryServerPort,
                                         d.dnsServerIp,
                                         d.secondDnsServerIp,
                                         d.workMode,
                                         d.activateMethod,
                                         d.debugLevel,
                                         d.serialCommMode,
                                         d.serialBaudrate,
                                         d.returnToMainServer,
                                         d.modemId,
                                         d.modemPhoneNumber,
                                         d.bytesFinishInterval,
                                         d.customKeepOnlineInfo,
                                         d.customRegisterInfo,
                                         d.linkFailRetryTimes,
                                         d.dialFailWaitTime,
                                         d.deliverTcpDataDirectly,
                                         d.apn,
                                         d.pppUserId,
                                         d.pppPassword,
                                         d.centerCallNumber,
                                         d.smsCenter,
                                         d.heartbeatPollTime,
                                         d.controlPhoneNumber,
                                         d.smsDaemonPassword,
                                         d.dataDaemonPppOnPassword,
                                         d.dataDaemonPppOffPassword};
    EXPECT_EQ(modem, (std::vector<std::string>{"120.76.3.4",
                                               "5001",
                                               "61.4.5.6",
                                               "5002",
                                               "202.96.128.86",
                                               "202.96.134.133",
                                               "TLNT",
                                               "AUTO",
                                               "1",
                                               "8N1",
                                               "9600",
                                               "NO",
                                               "0000a1b2",
                                               "13912345678",
                                               "100",
                                               "KEEP",
                                               "REG",
                                               "3",
                                               "30",
                                               "YES",
                                               "CMNET",
                                               "user",
                                               "secret",
                                               "13800000000",
                                               "+8613800755500",
                                               "60",
                                               "13911112222",
                                               "1234",
                                               "on",
                                               "off"}));
}

TEST(SettingsReport, StopsAtFirstFailureAndKeepsEarlierSteps) {
    const auto [ok, r] = Parse(With("Alarm phone priority:  ", "11"));
    EXPECT_FALSE(ok);
    EXPECT_EQ(r.adminNumbers[0], "13800000001");
    EXPECT_EQ(r.authorizeNumbers[0], "13900000001");
    EXPECT_EQ(r.backupNumbers[7], "");
    EXPECT_EQ(r.fmPriority, 6);
    EXPECT_EQ(r.gprsPriority, 3);
    EXPECT_EQ(r.interPhonePriority, 5);
    EXPECT_EQ(r.localAlarmPriority, 8);
    EXPECT_EQ(r.micPriority, 4);
    EXPECT_EQ(r.lineInPriority, 9);
    EXPECT_EQ(r.mp3Priority, 7);
    EXPECT_EQ(r.phonePriority, 77);
    EXPECT_EQ(r.smsPriority, 77);
    EXPECT_EQ(r.smsPlayNumber, 77);
    EXPECT_EQ(r.text1, "old");
    EXPECT_EQ(r.mcuWorkFunction, "old");
    EXPECT_EQ(r.dtu.apn, "old");
}

TEST(SettingsReport, MandatoryLinesMustBePresentAndEndInCrLf) {
    const auto noAdmin = Parse(Without("Alarm admin NO:  "));
    EXPECT_FALSE(noAdmin.ok);
    EXPECT_EQ(noAdmin.record.adminNumbers[0], "");  // emptied before the search
    const auto noAuthorize = Parse(Without("Alarm authorize NO:  "));
    EXPECT_FALSE(noAuthorize.ok);
    EXPECT_EQ(noAuthorize.record.adminNumbers[0], "13800000001");
    EXPECT_EQ(noAuthorize.record.authorizeNumbers[0], "old");
    for (const char* label : {"Alarm backup NO:  ", "Alarm sms priority:  ",
                              "Alarm local alarm play number:  ", "Alarm text3:  "}) {
        EXPECT_FALSE(Parse(Without(label)).ok) << label;
    }
    // The label is there but its line never ends.
    const auto open = Parse(Text(CompleteReport()) + "Alarm text1:  new");
    EXPECT_TRUE(open.ok);  // the first occurrence, properly ended, counts
    const auto unterminated = Parse(Text(Without("Alarm text3:  ")) + "Alarm text3:  new");
    EXPECT_FALSE(unterminated.ok);
    EXPECT_EQ(unterminated.record.text2, "Test broadcast");
    EXPECT_EQ(unterminated.record.text3, "old");
}

TEST(SettingsReport, NumbersAreReadFromTheStartOfTheValue) {
    struct Case {
        const char* value;
        bool ok;
        int stored;
    };
    for (const Case& c :
         {Case{"  7", true, 7}, Case{"+3", true, 3}, Case{"-1", true, 255}, Case{"4 rest", true, 4},
          Case{"x9", true, 0}, Case{"", true, 0}, Case{"10", true, 10}, Case{"11", false, 77},
          Case{"99999999999", false, 77}, Case{"-99999999999", true, 0}, Case{"+-3", true, 0}}) {
        const auto [ok, r] = Parse(With("Alarm sms priority:  ", c.value));
        EXPECT_EQ(ok, c.ok) << c.value;
        EXPECT_EQ(r.smsPriority, c.stored) << c.value;
    }
    EXPECT_EQ(Parse(With("Alarm gprs play number:  ", "-5")).record.gprsPlayNumber, -5);
    EXPECT_EQ(Parse(With("Alarm gprs play number:  ", "12abc")).record.gprsPlayNumber, 12);
    EXPECT_EQ(Parse(With("Alarm gprs play number:  ", "99999999999")).record.gprsPlayNumber,
              INT32_MAX);
    EXPECT_EQ(Parse(With("Alarm gprs play number:  ", "-99999999999")).record.gprsPlayNumber,
              INT32_MIN);
    // The receipt flag has no range check: its low 8 bits are kept.
    const auto response = Parse(With("Alarm is sms response:  ", "257"));
    EXPECT_TRUE(response.ok);
    EXPECT_EQ(response.record.smsResponse, 1);
}

TEST(SettingsReport, PresetTextsHoldAtMost400Bytes) {
    const auto full = Parse(With("Alarm text2:  ", std::string(400, 'x')));
    EXPECT_TRUE(full.ok);
    EXPECT_EQ(full.record.text2.size(), 400u);
    std::string chinese;
    for (int i = 0; i < 200; ++i) chinese += Gbk("警");
    EXPECT_EQ(Parse(With("Alarm text1:  ", chinese)).record.text1, chinese);
    EXPECT_FALSE(Parse(With("Alarm text1:  ", chinese + "x")).ok);
    const auto over = Parse(With("Alarm text2:  ", std::string(401, 'x')));
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.record.text2, "old");
    EXPECT_EQ(over.record.text1, Gbk("紧急通知：请注意防范"));
    EXPECT_EQ(Parse(With("Alarm text3:  ", "  two  blanks  ")).record.text3, "  two  blanks  ");
}

TEST(SettingsReport, OptionalAlarmFields) {
    const auto missing = Parse(Without("Alarm mp3 play mode:  "));
    EXPECT_TRUE(missing.ok);
    EXPECT_EQ(missing.record.mp3PlayMode, "old");
    EXPECT_EQ(missing.record.ttsPlayTone, "6");

    EXPECT_TRUE(Parse(With("Alarm fm freq:  ", std::string(99, '9'))).ok);
    const auto tooLong = Parse(With("Alarm fm freq:  ", std::string(100, '9')));
    EXPECT_FALSE(tooLong.ok);
    EXPECT_EQ(tooLong.record.mcuWorkFunction, "GPRS");
    EXPECT_EQ(tooLong.record.mp3PlayMode, "old");
    EXPECT_EQ(tooLong.record.dtu.apn, "old");

    const auto unterminated =
        Parse(Text(Without("Alarm tts play tone:  ")) + "Alarm tts play tone:  5");
    EXPECT_FALSE(unterminated.ok);
    EXPECT_EQ(unterminated.record.mp3PlayMode, Gbk("单曲循环"));
    EXPECT_EQ(unterminated.record.ttsPlayTone, "old");
    EXPECT_EQ(unterminated.record.dtu.apn, "old");
}

TEST(NumberList, SplitsAtCommas) {
    AlarmSettings r = MarkedRecord();
    const auto entries = [&](int kind) {
        std::vector<std::string> stored;
        for (const std::string& e : *NumberListOf(r, kind)) stored.push_back(e);
        while (!stored.empty() && stored.back().empty()) stored.pop_back();
        return stored;
    };
    EXPECT_TRUE(ParseNumberList("123,456,", 1, r));
    EXPECT_EQ(entries(1), (std::vector<std::string>{"123", "456"}));
    EXPECT_TRUE(ParseNumberList("123,,456", 2, r));
    EXPECT_EQ(entries(2), (std::vector<std::string>{"123", "", "456"}));
    EXPECT_TRUE(ParseNumberList(",7,", 2, r));
    EXPECT_EQ(entries(2), (std::vector<std::string>{"", "7"}));
    EXPECT_TRUE(ParseNumberList("", 3, r));
    EXPECT_TRUE(entries(3).empty());
    EXPECT_TRUE(ParseNumberList("5", 3, r));
    EXPECT_EQ(entries(3), std::vector<std::string>{"5"});

    // Longer than the terminal's 32 characters, kept whole; 100 fails the list.
    const std::string long99(99, '1');
    EXPECT_TRUE(ParseNumberList("1," + long99 + ",2", 1, r));
    EXPECT_EQ(entries(1), (std::vector<std::string>{"1", long99, "2"}));
    EXPECT_FALSE(ParseNumberList("1,2," + std::string(100, '3') + ",4", 1, r));
    EXPECT_EQ(entries(1), (std::vector<std::string>{"1", "2"}));
    EXPECT_FALSE(ParseNumberList("1," + std::string(100, '3'), 1, r));
    EXPECT_EQ(entries(1), std::vector<std::string>{"1"});

    std::string many;
    for (int i = 0; i < 300; ++i) many += std::to_string(i) + ",";
    EXPECT_TRUE(ParseNumberList(many + std::string(500, '9'), 1, r));
    EXPECT_EQ(entries(1).size(), 255u);
    EXPECT_EQ(entries(1).back(), "254");

    const AlarmSettings before = r;
    EXPECT_FALSE(ParseNumberList("1", 4, r));
    EXPECT_FALSE(ParseNumberList("1", 0, r));
    EXPECT_TRUE(r == before);
}

TEST(NumberList, FailedOrEmptyListDoesNotFailTheReport) {
    const auto empty = Parse(With("Alarm backup NO:  ", ""));
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.record.backupNumbers[0], "");
    const auto broken = Parse(With("Alarm authorize NO:  ", "1," + std::string(150, '2')));
    EXPECT_TRUE(broken.ok);
    EXPECT_EQ(broken.record.authorizeNumbers[0], "1");
    EXPECT_EQ(broken.record.authorizeNumbers[1], "");
}

TEST(ModemSection, ModeCodes) {
    struct Case {
        const char* label;
        const char* value;
        const char* stored;
    };
    for (const Case& c :
         {Case{"Work Mode:", "TCP TRANSPARENT", "TRNS"}, Case{"Work Mode:", "PROTOCOL", "PROT"},
          Case{"Work Mode:", "TCP TRANS MODE", "TTRN"}, Case{"Work Mode:", "LONG CONN", "LONG"},
          Case{"Work Mode:", "UDP", "TUDP"}, Case{"Work Mode:", "TCP CUSTOM", "TCST"},
          Case{"Work Mode:", "TCP SERVER", "TCPSVR"}, Case{"Work Mode:", "SERIAL", "SERIAL"},
          Case{"Activate Method:", "SMS WAKEUP", "SMSD"},
          Case{"Activate Method:", "CONTROLABLE", "CTRL"}, Case{"Activate Method:", "DATA", "DATA"},
          Case{"Activate Method:", "MIXD", "MIXD"}, Case{"Activate Method:", "MANUAL", "MANUAL"}}) {
        const auto [ok, r] = Parse(With(c.label, c.value));
        EXPECT_TRUE(ok) << c.value;  // no keyword leaves the text, not a failure
        EXPECT_EQ(std::string(c.label) == "Work Mode:" ? r.dtu.workMode : r.dtu.activateMethod,
                  c.stored);
        EXPECT_EQ(r.dtu.dataDaemonPppOffPassword, "off") << c.value;  // the lines after it are read
    }
}

TEST(ModemSection, ValuesAreTrimmedCutAndShortened) {
    EXPECT_EQ(Parse(With("Serial port commu mode", "\t 8,E,2")).record.dtu.serialCommMode, "8E2");
    EXPECT_EQ(Parse(With("Serial port commu mode", "8N")).record.dtu.serialCommMode, "8N");
    EXPECT_EQ(Parse(With("Serial port commu mode", "")).record.dtu.serialCommMode, "");

    const std::string gbkDefault = Gbk("默认");
    EXPECT_EQ(gbkDefault, "\xC4\xAC\xC8\xCF");
    for (const char* value : {"", "  ", "ab", "   ab"}) {
        EXPECT_EQ(Parse(With("Sms Center :", value)).record.dtu.smsCenter, gbkDefault) << value;
    }
    EXPECT_EQ(Parse(With("Sms Center :", "abc")).record.dtu.smsCenter, "a");

    const std::string long150(150, 'v');
    EXPECT_EQ(Parse(With("Server's Port", long150)).record.dtu.serverPort, long150.substr(0, 99));
    const auto cutThenDropped = Parse(With("Data Daemon PPP Off Password:", long150));
    EXPECT_TRUE(cutThenDropped.ok);
    EXPECT_EQ(cutThenDropped.record.dtu.dataDaemonPppOffPassword, long150.substr(0, 96));
    EXPECT_EQ(Parse(With("Heartbeat poll time seconds:", "ab")).record.dtu.heartbeatPollTime, "");
}

TEST(ModemSection, LinesOnlyCheckedCanStillFail) {
    EXPECT_TRUE(Parse(With("Server3's Ip", std::string(32, '1'))).ok);
    const auto wide = Parse(With("Server3's Ip", std::string(33, '1')));
    EXPECT_FALSE(wide.ok);
    EXPECT_EQ(wide.record.dtu.serverIp, "120.76.3.4");
    EXPECT_EQ(wide.record.dtu.serverPort, "old");
    // Blanks after the label do not count.
    EXPECT_TRUE(Parse(With("Server3's Ip", "    " + std::string(32, '1'))).ok);

    const auto open = Parse(Text(Without("Max Tcp Frame Len:")) + "Max Tcp Frame Len: 1024");
    EXPECT_FALSE(open.ok);
    EXPECT_EQ(open.record.dtu.dataDaemonPppOffPassword, "off");
}

TEST(ModemSection, AbsentLinesKeepTheirFields) {
    Report report = CompleteReport();
    std::erase_if(report, [](const ReportLine& line) {
        return line.label.rfind("Alarm ", 0) != 0 && line.label != "Access Point Name:";
    });
    const auto [ok, r] = Parse(report);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.dtu.apn, "CMNET");
    EXPECT_EQ(r.dtu.serverIp, "old");
    EXPECT_EQ(r.dtu.smsCenter, "old");
    EXPECT_EQ(r.totalServers, "old");
    EXPECT_EQ(r.dtu.dataDaemonPppOffPassword, "old");
    EXPECT_EQ(r.ttsPlayTone, "6");
}

TEST(ModemSection, FirstOccurrenceCountsEvenInsideLongerLabel) {
    Report report = Without("Server's Ip");
    report.push_back({"Server's Ip", " 9.9.9.9"});
    const auto [ok, r] = Parse(report);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.dtu.serverIp, "61.4.5.6");  // the value of "Secondary Server's Ip"
}

TEST(SettingsReportHostile, NeverReadsOutsideTheText) {
    EXPECT_FALSE(Parse(std::string()).ok);
    EXPECT_TRUE(Parse("").record.adminNumbers[0].empty());

    const std::string complete = Text(CompleteReport());
    for (std::size_t n = 0; n < complete.size(); ++n) Parse(complete.substr(0, n));

    Report bare = CompleteReport();
    for (ReportLine& line : bare) line.value.clear();
    const auto [bareOk, bareRecord] = Parse(bare);
    EXPECT_TRUE(bareOk);
    EXPECT_EQ(bareRecord.smsPriority, 0);
    EXPECT_EQ(bareRecord.dtu.smsCenter, Gbk("默认"));

    std::string labelsOnly;
    for (const ReportLine& line : CompleteReport()) labelsOnly += line.label;
    EXPECT_FALSE(Parse(labelsOnly).ok);

    const std::string huge(1 << 20, '7');
    EXPECT_FALSE(Parse(With("Alarm text1:  ", huge)).ok);
    EXPECT_TRUE(Parse(With("Alarm admin NO:  ", huge)).ok);
    EXPECT_EQ(Parse(With("Custom Register Info:", huge)).record.dtu.customRegisterInfo.size(), 96u);

    std::mt19937 random(20240607);
    for (int round = 0; round < 3000; ++round) {
        std::string text = complete;
        const int changes = 1 + static_cast<int>(random() % 24);
        for (int i = 0; i < changes; ++i) {
            const char bytes[] = {'\0', '\r', '\n', ',', ' ', '-', '\xFF', '\x81'};
            const char byte =
                random() % 2 ? bytes[random() % sizeof bytes] : static_cast<char>(random() % 256);
            text[random() % text.size()] = byte;
        }
        Parse(text.substr(0, random() % (text.size() + 1)));
    }
}

TEST(SettingsReportHostile, TextEndsAtItsFirstNulByte) {
    std::string text = Text(CompleteReport());
    const std::size_t sms = text.find("Alarm sms priority:");
    text.insert(sms, 1, '\0');
    const auto [ok, r] = Parse(text);
    EXPECT_FALSE(ok);
    EXPECT_EQ(r.phonePriority, 77);
    EXPECT_EQ(r.dtu.apn, "old");
}

}  // namespace
}  // namespace pelmora
