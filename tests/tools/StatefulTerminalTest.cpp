// The stateful simulated terminal: its settings report, how it reads the
// centre's stream, and its answers, alone and over loopback TCP against the
// terminal server.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "../link/ServerFixture.h"
#include "CmdDataObj.h"
#include "GbkCodec.h"
#include "SettingsParser.h"
#include "SettingsReport.h"
#include "StatefulTerminal.h"

namespace dovrik::sim {
namespace {

using namespace std::chrono_literals;
using pelmora::AlarmSettings;
using pelmora::PackFrame;
using Bytes = std::vector<std::uint8_t>;

Bytes B(std::string_view text) {
    return {text.begin(), text.end()};
}

// The record the centre reads from a report: the text from "Access Point
// Name:" on, into an empty record.
AlarmSettings ReadBack(const std::string& report) {
    AlarmSettings read;
    const std::size_t start = report.find("Access Point Name:");
    EXPECT_NE(start, std::string::npos);
    EXPECT_TRUE(pelmora::ParseSettingsReport(std::string_view(report).substr(start), read));
    return read;
}

TEST(SettingsReport, ReadsBackAsTheRecordItWasMadeFrom) {
    const AlarmSettings settings = DefaultTerminalSettings();
    const std::string report = SettingsReport(settings);
    EXPECT_TRUE(report.ends_with("\r\nOK\r\n"));
    EXPECT_EQ(pelmora::GbkToUtf8(settings.text1), "台风红色预警：请立即转移到安全地带。");
    EXPECT_TRUE(ReadBack(report) == settings);
    // Lines the centre checks but does not keep.
    for (const char* label :
         {"Server1's Ip", "Server4's Ip", "Server1's Port", "Server4's Port",
          "Dns Server1's Ip:", "Dns Server4's Ip:", "Tcp act poll time seconds:",
          "Max Tcp Frame Len:", "Multi Server Reconnect Interval:"}) {
        EXPECT_NE(report.find(label), std::string::npos) << label;
    }
}

TEST(SettingsReport, EveryModemCodeAndAnEmptySmsCentreReadBack) {
    AlarmSettings settings = DefaultTerminalSettings();
    for (const char* code :
         {"PROT", "TRNS", "TTRN", "TLNT", "LONG", "LNGT", "TUDP", "TCST", "TCPSVR"}) {
        settings.dtu.workMode = code;
        EXPECT_EQ(ReadBack(SettingsReport(settings)).dtu.workMode, code);
    }
    for (const char* code : {"AUTO", "SMSD", "CTRL", "DATA", "MIXD"}) {
        settings.dtu.activateMethod = code;
        EXPECT_EQ(ReadBack(SettingsReport(settings)).dtu.activateMethod, code);
    }
    settings.dtu.serialCommMode = "7E2";
    settings.dtu.smsCenter = "";
    const AlarmSettings read = ReadBack(SettingsReport(settings));
    EXPECT_EQ(read.dtu.serialCommMode, "7E2");
    EXPECT_EQ(read.dtu.smsCenter, pelmora::Utf8ToGbk("默认").value());
}

// Answers, as bytes in order, to `wire` fed in one piece.
std::string Answers(StatefulTerminal& terminal, const Bytes& wire) {
    std::string written;
    for (const auto& action : terminal.Receive(wire.data(), wire.size())) {
        written.append(action.bytes.begin(), action.bytes.end());
    }
    return written;
}

TEST(StatefulTerminalAlone, SettingsCommandsChangeTheRecordOnlyWhenAccepted) {
    const std::string gbkText = pelmora::Utf8ToGbk("山洪预警").value();
    const std::vector<std::tuple<std::string, bool, std::function<void(AlarmSettings&)>>> cases = {
        {"AT+LRMSMSBK=1", true, [](AlarmSettings& s) { s.smsBackup = "1"; }},
        {"at+retmain=0", true, [](AlarmSettings& s) { s.dtu.returnToMainServer = "0"; }},
        {"AT+LRMFMFREQ=8750", true, [](AlarmSettings& s) { s.fmFreq = "8750"; }},
        {"at+smsc=", true, [](AlarmSettings& s) { s.dtu.smsCenter = ""; }},
        {"AT+LRMPHNPRIO=10", true, [](AlarmSettings& s) { s.phonePriority = 10; }},
        {"AT+LRMLCLLRMPLYNUM=65535", true,
         [](AlarmSettings& s) { s.localAlarmPlayNumber = 65535; }},
        {"AT+LRMSETTXT3=" + gbkText, true, [&](AlarmSettings& s) { s.text3 = gbkText; }},
        {"AT+LRMMCUFUN=2", true, [](AlarmSettings& s) { s.mcuWorkFunction = "2"; }},
        {"AT+LRMPHNPRIO=11", false, nullptr},
        {"AT+LRMSMSPLYNUM=-1", false, nullptr},
        {"at+retmain=2", false, nullptr},
        {"AT+LRMSMSRSP=x", false, nullptr},
        {"AT+LRMSETTXT1=" + std::string(401, 'a'), false, nullptr},
        {"at+ipad=" + std::string(100, '1'), false, nullptr},
        {"AT+LRMphnprio=3", false, nullptr},
        {"AT+SHOW=1", false, nullptr},
        {"at+ipad", false, nullptr},
    };
    for (const auto& [line, accepted, change] : cases) {
        StatefulTerminal terminal(7, {}, DefaultTerminalSettings());
        AlarmSettings expected = DefaultTerminalSettings();
        if (change) change(expected);
        EXPECT_EQ(Answers(terminal, B(line + "\r")), accepted ? "OK\r\n" : "ERROR\r\n") << line;
        EXPECT_TRUE(terminal.Settings() == expected) << line;
    }
}

TEST(StatefulTerminalAlone, NumberListsStayPackedWithoutRepeats) {
    StatefulTerminal t(7, {}, DefaultTerminalSettings());
    EXPECT_EQ(Answers(t, B("AT+LRMADDADMINNO=111,13800138000,222\r")), "OK\r\n");
    EXPECT_EQ(Answers(t, B("AT+LRMDELADMINNO=13800138000,999\r")), "OK\r\n");
    EXPECT_EQ(Answers(t, B("AT+LRMSETBKNO=\r")), "OK\r\n");
    EXPECT_EQ(Answers(t, B("AT+LRMADDLRMNO=1,,2\r")), "ERROR\r\n");
    EXPECT_EQ(Answers(t, B("AT+LRMADDLRMNO=" + std::string(33, '9') + "\r")), "ERROR\r\n");
    EXPECT_EQ(Answers(t, B("AT+LRMSETLRMNO=5\r")), "ERROR\r\n");
    AlarmSettings expected = DefaultTerminalSettings();
    expected.adminNumbers[0] = "13912345678";
    expected.adminNumbers[1] = "111";
    expected.adminNumbers[2] = "222";
    expected.backupNumbers[0] = "";
    EXPECT_TRUE(t.Settings() == expected);

    std::string many;
    for (int i = 0; i < 255; ++i) many += std::to_string(1000 + i) + ",";
    many.pop_back();
    EXPECT_EQ(Answers(t, B("AT+LRMADDBKNO=" + many + "\r")), "OK\r\n");
    EXPECT_EQ(Answers(t, B("AT+LRMADDBKNO=5\r")), "ERROR\r\n");  // full
    EXPECT_EQ(t.Settings().backupNumbers.back(), "1254");
}

TEST(StatefulTerminalAlone, ReadsAnEscapedStreamCutAnywhere) {
    // The device ID and payload put escaped bytes inside the frame.
    const Bytes frame = PackFrame(0x00FDFE00, pelmora::kPlayMp3Request, {0xFD, 0xFE, '1'});
    const std::vector<Bytes> messages = {B("AT+LRMFMSNR=25\r"), frame,   B("***COMMIT CONFIG***"),
                                         B("junk\r"),           B("\r"), frame};
    Bytes plain;
    for (const auto& m : messages) plain.insert(plain.end(), m.begin(), m.end());
    const Bytes wire = EscapeStream(plain);
    const Bytes answerFrame = PackFrame(0x42, pelmora::kPlayMp3Answer, {1});
    const std::string answer(answerFrame.begin(), answerFrame.end());

    std::mt19937 random(5);
    for (int round = 0; round < 50; ++round) {
        StatefulTerminal t(0x42, {}, DefaultTerminalSettings());
        std::string answers;
        for (std::size_t at = 0; at < wire.size();) {
            const std::size_t piece =
                std::min<std::size_t>(round == 0 ? 1 : random() % 9 + 1, wire.size() - at);
            for (const auto& a : t.Receive(wire.data() + at, piece)) {
                answers.append(a.bytes.begin(), a.bytes.end());
            }
            at += piece;
        }
        const auto received = t.Messages();
        ASSERT_EQ(received.size(), messages.size());
        for (std::size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(received[i].bytes, messages[i]);
        EXPECT_EQ(answers, "OK\r\n" + answer + "ERROR\r\n" + answer);
        EXPECT_EQ(t.Settings().fmSnr, "25");
    }
}

TEST(StatefulTerminalAlone, GarbageNeitherHangsNorGrowsWithoutBound) {
    StatefulTerminal t(1, {}, DefaultTerminalSettings());
    const Bytes endless(3 * StatefulTerminal::kMaxLine, 'A');
    EXPECT_EQ(Answers(t, endless), "ERROR\r\nERROR\r\nERROR\r\n");
    // A frame start with a length no frame has is read as text; a damaged
    // frame is taken whole and not answered.
    Bytes damaged = PackFrame(1, pelmora::kStopMp3Request, {});
    damaged[damaged.size() - 2] ^= 1;
    EXPECT_EQ(Answers(t, {0x02, 0x11, 0x01, 0xFF, 0xFF, '\r'}), "ERROR\r\n");
    EXPECT_EQ(Answers(t, damaged), "");
    std::mt19937 random(11);
    Bytes noise(20000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    Answers(t, noise);
    EXPECT_LT(t.Messages().size(), 20000u);
}

TEST(StatefulTerminalAlone, SplitsTheReportIntoTimedWrites) {
    TerminalScript script;
    script.reportChunk = 100;
    script.chunkDelay = 7ms;
    script.answerDelay = 3ms;
    StatefulTerminal t(1, script, DefaultTerminalSettings());
    const auto actions = t.Receive(B("AT+SHOW\r").data(), 8);
    const std::string report = SettingsReport(DefaultTerminalSettings());
    ASSERT_EQ(actions.size(), (report.size() + 99) / 100);
    std::string joined;
    for (std::size_t i = 0; i < actions.size(); ++i) {
        EXPECT_EQ(actions[i].delay, i == 0 ? 3ms : 7ms);
        EXPECT_LE(actions[i].bytes.size(), 100u);
        joined.append(actions[i].bytes.begin(), actions[i].bytes.end());
    }
    EXPECT_EQ(joined, report);
}

TEST(StatefulTerminalAlone, AReportLongerThanAMessageGoesInPiecesThatFit) {
    const std::string report = SettingsReport(FullTerminalSettings());
    ASSERT_GT(EscapeStream(B(report)).size(), report.size());  // it has bytes to escape
    StatefulTerminal full(1, {}, FullTerminalSettings());
    const auto actions = full.Receive(B("AT+SHOW\r").data(), 8);
    ASSERT_GT(actions.size(), 1u);
    std::string joined;
    for (const auto& action : actions) {
        EXPECT_LE(EscapeStream(action.bytes).size(), StatefulTerminal::kReportPiece);
        joined.append(action.bytes.begin(), action.bytes.end());
    }
    EXPECT_EQ(joined, report);

    StatefulTerminal usual(1, {}, DefaultTerminalSettings());
    EXPECT_EQ(usual.Receive(B("AT+SHOW\r").data(), 8).size(), 1u);  // fits one message
}

// Over loopback TCP, the terminal server as the centre.
class StatefulTerminalTest : public testing::ServerTest {
  protected:
    static constexpr std::uint32_t kId = 0x00C0FFEE;

    std::size_t Start(TerminalScript script = {}) {
        const std::size_t index = sim_->Add(testing::Terminal(kId));
        sim_->MakeStateful(index, std::move(script));
        EXPECT_TRUE(Eventually([&] { return Position(kId) >= 0; }));
        return index;
    }
    void Send(const Bytes& bytes) {
        ASSERT_EQ(server_.SendData(kId, static_cast<std::uint16_t>(bytes.size()), bytes.data()), 1);
    }
    void Send(std::string_view text) { Send(B(text)); }
    Bytes Frame(std::uint16_t command, const Bytes& payload = {}) {
        return PackFrame(kId, command, payload);
    }
    // Answers written one after the other may arrive as one message.
    Bytes Next(std::size_t count = 1) {
        Bytes bytes;
        while (bytes.size() < count) {
            const _PACKET packet = NextPacket();
            if (packet.length == 0) break;
            bytes.insert(bytes.end(), packet.data, packet.data + packet.length);
        }
        return bytes;
    }
    std::string NextText() {
        const Bytes bytes = Next();
        return {bytes.begin(), bytes.end()};
    }
    std::string Report() {
        std::string text;
        while (!text.ends_with("OK\r\n")) {
            const std::string piece = NextText();
            if (piece.empty()) break;
            text += piece;
        }
        return text;
    }
};

TEST_F(StatefulTerminalTest, ASettingChangedByCommandShowsInTheNextReport) {
    const std::size_t index = Start();
    Send("AT+SHOW\r");
    EXPECT_EQ(Report(), SettingsReport(DefaultTerminalSettings()));
    Send("at+ipad=10.9.8.7\r");
    EXPECT_EQ(NextText(), "OK\r\n");
    Send("AT+SHOW\r");
    AlarmSettings expected = DefaultTerminalSettings();
    expected.dtu.serverIp = "10.9.8.7";
    EXPECT_EQ(Report(), SettingsReport(expected));
    EXPECT_TRUE(sim_->Settings(index) == expected);
    EXPECT_EQ(sim_->CommandLines(index),
              (std::vector<std::string>{"AT+SHOW", "at+ipad=10.9.8.7", "AT+SHOW"}));
}

TEST_F(StatefulTerminalTest, ASplitReportArrivesWhole) {
    TerminalScript script;
    script.reportChunk = 64;
    script.chunkDelay = 1ms;
    Start(script);
    Send("AT+SHOW\r");
    EXPECT_EQ(Report(), SettingsReport(DefaultTerminalSettings()));
}

TEST_F(StatefulTerminalTest, ScriptedErrorsAndSilenceLeaveTheRecordAlone) {
    TerminalScript script;
    script.replies = {{"AT+LRMGPRSPRIO", Reply::Error}, {"at+apn", Reply::Silent}};
    const std::size_t index = Start(script);
    Send("AT+LRMGPRSPRIO=7\r");
    EXPECT_EQ(NextText(), "ERROR\r\n");
    // Nothing answers the silent line: the next answer is the next line's.
    Send("at+apn=UNINET\r");
    Send("AT+LRMMICPRIO=1\r");
    EXPECT_EQ(NextText(), "OK\r\n");
    AlarmSettings expected = DefaultTerminalSettings();
    expected.micPriority = 1;
    EXPECT_TRUE(sim_->Settings(index) == expected);

    script.defaultReply = Reply::Error;
    script.replies = {{"AT+SHOW", Reply::Silent}};
    sim_->SetScript(index, script);
    Send("AT+SHOW\r");
    Send("AT+LRMADDADMINNO=5\r");
    EXPECT_EQ(NextText(), "ERROR\r\n");
    EXPECT_TRUE(sim_->Settings(index) == expected);
}

TEST_F(StatefulTerminalTest, FramesAreAnsweredWithTheScriptedResults) {
    TerminalScript script;
    script.frameResults = {{pelmora::kPlayMp3Request, 0},
                           {pelmora::kUpgradeRequest, 2},
                           {pelmora::kPlayContentRequest, std::nullopt}};
    const std::size_t index = Start(script);
    Send(Frame(pelmora::kPlayMp3Request, B("00003")));
    EXPECT_EQ(Next(), Frame(pelmora::kPlayMp3Answer, {0}));
    Send(Frame(pelmora::kUpgradeRequest, Bytes(94, 0x20)));
    EXPECT_EQ(Next(), Frame(pelmora::kUpgradeAnswer, {2}));
    // Unanswered: play content by script, and the centre's status answer.
    Send(Frame(pelmora::kPlayContentRequest, B("ABCD")));
    Send(Frame(pelmora::kStatusAnswer));
    Send(Frame(pelmora::kStopMp3Request));
    EXPECT_EQ(Next(), Frame(pelmora::kStopMp3Answer, {1}));

    // Each piece of a long play content gets its own answer.
    script.frameResults.clear();
    sim_->SetScript(index, script);
    for (std::int32_t piece = 0; piece < 2; ++piece) {
        Send(PackFrame(kId, pelmora::kPlayContentRequest, Bytes(1024, 'x'), 2, piece));
    }
    const Bytes answer = Frame(pelmora::kPlayContentAnswer, {1});
    Bytes answers = answer;
    answers.insert(answers.end(), answer.begin(), answer.end());
    EXPECT_EQ(Next(answers.size()), answers);
    EXPECT_EQ(sim_->Messages(index).size(), 7u);
    EXPECT_TRUE(sim_->CommandLines(index).empty());
}

TEST_F(StatefulTerminalTest, VersionAnswerCarriesBothTextsZeroPadded) {
    TerminalScript script;
    script.softwareVersion = "V9.8.7";
    script.bootVersion = std::string(45, 'B');  // cut to its 40 bytes
    Start(script);
    Send(Frame(pelmora::kVersionRequest));
    const Bytes answer = Next();
    ASSERT_EQ(answer.size(), 97u);
    pelmora::CCmdDataObj frame;
    ASSERT_EQ(frame.UnpackVersion(answer.data(), answer.size()), 80);
    EXPECT_EQ(frame.command, pelmora::kVersionAnswer);
    EXPECT_EQ(frame.deviceId, kId);
    Bytes software(40, 0);
    std::copy_n("V9.8.7", 6, software.begin());
    EXPECT_EQ(Bytes(frame.payload.begin(), frame.payload.begin() + 40), software);
    EXPECT_EQ(Bytes(frame.payload.begin() + 40, frame.payload.begin() + 80), Bytes(40, 'B'));
}

TEST_F(StatefulTerminalTest, RestartAnswersThenRegistersAgain) {
    TerminalScript script;
    script.restartDelay = 20ms;
    const std::size_t index = Start(script);
    Send(Frame(pelmora::kRestartRequest));
    EXPECT_EQ(Next(), Frame(pelmora::kRestartAnswer, {1}));
    ASSERT_TRUE(Eventually([&] {
        return server_.closed.load() == 1 && sim_->Registrations(index) == 2 && Position(kId) >= 0;
    }));

    // Restarting without a word, then answering on the new connection.
    script.frameResults[pelmora::kRestartRequest] = std::nullopt;
    sim_->SetScript(index, script);
    Send(Frame(pelmora::kRestartRequest));
    ASSERT_TRUE(Eventually([&] {
        return server_.closed.load() == 2 && sim_->Registrations(index) == 3 && Position(kId) >= 0;
    }));
    Send(Frame(pelmora::kStopMp3Request));
    EXPECT_EQ(Next(), Frame(pelmora::kStopMp3Answer, {1}));
    EXPECT_EQ(sim_->State(index), TerminalState::Registered);
    EXPECT_EQ(sim_->RegisteredCount(), 1u);
}

TEST_F(StatefulTerminalTest, AFrameSentInTwoPartsIsAnsweredOnce) {
    const std::size_t index = Start();
    const Bytes frame = Frame(pelmora::kPlayMp3Request, {0xFD, 0xFE, '7', '7', '7'});
    const Bytes head(frame.begin(), frame.begin() + 9);
    Send(head);
    ASSERT_TRUE(Eventually([&] { return sim_->Received(index) == head; }));
    Send(Bytes(frame.begin() + 9, frame.end()));
    EXPECT_EQ(Next(), Frame(pelmora::kPlayMp3Answer, {1}));
    EXPECT_EQ(sim_->Messages(index), std::vector<Bytes>{frame});
}

TEST_F(StatefulTerminalTest, AFleetAnswersRefusesKeepsSilentOrStopsReadingByShare) {
    FleetPlan plan;
    plan.count = 8;
    plan.firstId = 0x100;
    plan.answerDelay = 2ms;
    plan.refusingShare = plan.silentShare = plan.deafShare = 0.25;
    const Fleet fleet = sim_->AddFleet(plan);
    ASSERT_EQ(fleet.answering.size(), 2u);
    ASSERT_EQ(fleet.refusing.size(), 2u);
    ASSERT_EQ(fleet.silent.size(), 2u);
    ASSERT_EQ(fleet.deaf.size(), 2u);
    ASSERT_TRUE(Eventually([&] {
        for (std::uint32_t id = 0x100; id < 0x108; ++id) {
            if (Position(id) < 0) return false;
        }
        return true;
    }));

    // The silent and deaf terminals are asked first, so that an answer from
    // them would come before the last of the others.
    for (std::uint32_t id = 0x107; id >= 0x100; --id) {
        const Bytes frame = PackFrame(id, pelmora::kStopMp3Request, {});
        ASSERT_EQ(server_.SendData(id, static_cast<std::uint16_t>(frame.size()), frame.data()), 1);
    }
    std::map<std::uint32_t, Bytes> answers;
    while (answers.size() < 4) {
        const _PACKET packet = NextPacket();
        if (packet.length == 0) break;
        answers[packet.deviceId] = DataOf(packet);
    }
    for (const _PACKET& late : Drain()) answers[late.deviceId] = DataOf(late);
    EXPECT_EQ(answers, (std::map<std::uint32_t, Bytes>{
                           {0x100, PackFrame(0x100, pelmora::kStopMp3Answer, {0})},
                           {0x101, PackFrame(0x101, pelmora::kStopMp3Answer, {0})},
                           {0x106, PackFrame(0x106, pelmora::kStopMp3Answer, {1})},
                           {0x107, PackFrame(0x107, pelmora::kStopMp3Answer, {1})},
                       }));
    for (std::size_t index : fleet.silent) {
        EXPECT_TRUE(Eventually([&] { return sim_->Messages(index).size() == 1; }));
    }
    for (std::size_t index : fleet.deaf) EXPECT_TRUE(sim_->Received(index).empty());
}

}  // namespace
}  // namespace dovrik::sim
