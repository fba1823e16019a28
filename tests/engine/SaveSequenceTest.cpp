// The save sequence against a scripted terminal: which lines go out, in which
// order, what is logged, what is checked first, and where it stops.
#if !defined(_WIN32)
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "CommandTexts.h"
#include "EngineFixture.h"
#include "GridFill.h"
#include "SaveSequence.h"

#if defined(__SANITIZE_ADDRESS__)
#define PELMORA_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELMORA_LEAK_CHECKED 1
#endif
#endif
#ifdef PELMORA_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace pelmora::testing {
namespace {

AlarmSettings Recorded() {
    AlarmSettings s;
    s.text1 = G("请注意防汛");
    s.text2 = "two";
    s.text3 = "";
    s.phonePriority = 1;
    s.smsPriority = 2;
    s.gprsPriority = 3;
    s.micPriority = 4;
    s.interPhonePriority = 5;
    s.fmPriority = 6;
    s.mp3Priority = 7;
    s.localAlarmPriority = 8;
    s.lineInPriority = 9;
    s.smsPlayNumber = 3;
    s.gprsPlayNumber = 2;
    s.localAlarmPlayNumber = 1;
    s.smsResponse = 1;
    s.smsBackup = "0";
    s.smsStateTime = "60";
    s.fmFreq = "8870";
    s.fmSnr = "20";
    s.fmVoice = "30";
    s.fmReceiveEnable = "1";
    s.mp3PlayMode = "1";
    s.mp3PlayVoice = "20";
    s.ttsPlayMode = "0";
    s.ttsPlayLevel = "5";
    s.ttsPlaySpeed = "5";
    s.ttsPlayTone = "5";
    s.mcuWorkFunction = "1";
    s.interPhoneOpen = "0";
    s.totalServers = "1";
    s.dtu.serverIp = "10.0.0.1";
    s.dtu.serverPort = "5001";
    s.dtu.secondaryServerIp = "10.0.0.2";
    s.dtu.secondaryServerPort = "5002";
    s.dtu.dnsServerIp = "8.8.8.8";
    s.dtu.secondDnsServerIp = "8.8.4.4";
    s.dtu.debugLevel = "0";
    s.dtu.returnToMainServer = "1";
    s.dtu.modemId = "0001e240";
    s.dtu.modemPhoneNumber = "13800138000";
    s.dtu.linkFailRetryTimes = "3";
    s.dtu.dialFailWaitTime = "30";
    s.dtu.apn = "cmnet";
    s.dtu.pppUserId = "user";
    s.dtu.pppPassword = "pass";
    s.dtu.centerCallNumber = "*99***1#";
    s.dtu.smsCenter = "+8613800100500";
    s.dtu.heartbeatPollTime = "60";
    return s;
}

class SaveTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        engine_->AdoptSettings(Recorded(), kId);
        for (const auto& cell : GridCellsFromSettings(Recorded())) {
            if (cell.text) grid_.Set(cell.row, cell.column, *cell.text);
        }
        // Everything is acknowledged unless a test says otherwise.
        Answer([this](std::uint32_t, const Bytes& line) {
            const std::string text(line.begin(), line.end());
            if (!refuse_.empty() && text.rfind(refuse_, 0) == 0) return ToBytes("ERROR\r\n");
            if (!silent_.empty() && text.rfind(silent_, 0) == 0) return Bytes{};
            return ToBytes("OK\r\n");
        });
    }
    static Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
    AlarmSettings Settings() {
        auto lock = engine_->LockSettings();
        return engine_->Settings();
    }
    void Left(int row, const std::string& text) { grid_.Set(row, grid::kLeftValue, text); }
    void Right(int row, const std::string& text) { grid_.Set(row, grid::kRightValue, text); }

    std::string refuse_;
    std::string silent_;
};

TEST_F(SaveTest, UnchangedGridSendsNothing) {
    Run(CommandKind::SaveSettings);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Log(), std::vector<std::string>{G("参数保存完毕...")});
}

TEST_F(SaveTest, SendsEachChangedValueInStepOrderAndRecordsIt) {
    Left(3, G("第三段"));      // text three
    Left(13, "2");             // MP3 priority
    Left(5, "10");             // phone priority (sent before MP3)
    Left(16, "7");             // GPRS play count
    Right(2, "192.168.1.10");  // main centre address
    Right(10, G("否"));        // return to main centre
    Right(20, G("默认"));      // SMS centre: sent empty
    Left(22, "88.7");          // unchanged after conversion: 8870
    Left(26, G("全部循环"));   // MP3 play mode
    Left(27, "25");            // MP3 volume
    Left(33, G("是"));         // intercom module on
    Run(CommandKind::SaveSettings);

    EXPECT_EQ(SentLines(), (std::vector<std::string>{
                               "AT+LRMSETTXT3=" + G("第三段") + "\r",
                               "AT+LRMPHNPRIO=10\r",
                               "AT+LRMMP3PRIO=2\r",
                               "AT+LRMGPRSPLYNUM=7\r",
                               "at+ipad=192.168.1.10\r",
                               "at+retmain=0\r",
                               "at+smsc=\r",
                               "AT+LRMMP3PLYMODE=2\r",
                               "AT+LRMMP3LVL=25\r",
                               "AT+LRMSETINPHNOPEN=1\r",
                           }));
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         G("设置内容三成功"),
                         G("第三段"),
                         G("设置电话等级成功"),
                         "AT+LRMPHNPRIO=10\r",
                         G("设置MP3等级成功"),
                         "AT+LRMMP3PRIO=2\r",
                         G("设置GPRS播放次数成功"),
                         "AT+LRMGPRSPLYNUM=7\r",
                         "at+ipad=192.168.1.10\r",
                         G("设置主中心IP成功"),
                         "at+retmain=0\r",
                         G("设置返回主中心参数成功"),
                         "at+smsc=\r",
                         G("设置短信中心号码成功"),
                         G("设置mp3播放模式成功"),
                         "AT+LRMMP3PLYMODE=2\r",
                         G("设置mp3播放音量成功"),
                         "AT+LRMMP3LVL=25\r",
                         G("设置是否开启对讲机模块成功"),
                         "AT+LRMSETINPHNOPEN=1\r",
                         G("参数保存完毕..."),
                     }));
    const AlarmSettings s = Settings();
    EXPECT_EQ(s.text3, G("第三段"));
    EXPECT_EQ(s.phonePriority, 10);
    EXPECT_EQ(s.gprsPlayNumber, 7);
    EXPECT_EQ(s.dtu.returnToMainServer, "0");
    EXPECT_EQ(s.dtu.smsCenter, "");
    EXPECT_EQ(s.mp3PlayMode, "2");
    EXPECT_EQ(s.interPhoneOpen, "1");

    // The default SMS centre differs from the empty record, so it goes again.
    Sent();
    events_.ClearLog();
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(SentLines().back(), "at+smsc=\r");
}

TEST_F(SaveTest, FirstErrorStopsEverythingAfterIt) {
    Left(5, "10");
    Left(6, "10");
    Left(7, "10");
    Left(8, "10");
    Left(15, "9");
    Right(2, "192.168.1.10");
    refuse_ = "AT+LRMGPRSPRIO";
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(SentLines(), (std::vector<std::string>{"AT+LRMPHNPRIO=10\r", "AT+LRMSMSPRIO=10\r",
                                                     "AT+LRMGPRSPRIO=10\r"}));
    EXPECT_EQ(Log().back(), "AT+LRMGPRSPRIO=10\r");
    EXPECT_EQ(Log()[Log().size() - 2], G("设置GPRS等级失败"));
    const AlarmSettings s = Settings();
    EXPECT_EQ(s.phonePriority, 10);
    EXPECT_EQ(s.smsPriority, 10);
    EXPECT_EQ(s.gprsPriority, 3);
    EXPECT_EQ(s.smsPlayNumber, 3);
}

TEST_F(SaveTest, SilentTerminalFailsTheCommandAfterThePollLimit) {
    Right(19, "*99#");
    silent_ = "at+cent";
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(Log(), (std::vector<std::string>{"at+cent=*99#\r", G("设置拨号中心号码失败")}));
    EXPECT_EQ(Settings().dtu.centerCallNumber, "*99***1#");
}

TEST_F(SaveTest, OverlongPresetTextStopsBeforeAnythingIsSent) {
    Left(1, "changed");
    Left(2, std::string(401, 'x'));
    Run(CommandKind::SaveSettings);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Log(), std::vector<std::string>{G("设置内容失败,数据长度太长....")});

    Left(2, std::string(400, 'x'));
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(SentLines()[1], "AT+LRMSETTXT2=" + std::string(400, 'x') + "\r");
}

TEST_F(SaveTest, PlayCountsOutsideTheirRangeStopStepThree) {
    Left(5, "10");
    Left(15, "65536");
    Left(16, "8");
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(SentLines(), std::vector<std::string>{"AT+LRMPHNPRIO=10\r"});
    EXPECT_EQ(Log().back(), G("播放次数参数范围应该是0到65535之间...."));

    Left(15, "-1");
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(Log().back(), G("播放次数参数范围应该是0到65535之间...."));

    Left(15, "65535");
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(SentLines()[1], "AT+LRMSMSPLYNUM=65535\r");
}

TEST_F(SaveTest, ModemChecksRejectWithTheirMessagesInOrder) {
    struct Case {
        int row;
        std::string text;
        std::string message;
    };
    const std::vector<Case> rejected = {
        {11, "0001e24", "设备ID号必须是8位长度"},
        {11, "1234abcg", "设备ID号必须是十六进制字符串"},
        {12, "1380013800", "SIM 卡号必须是11位长度"},
        {20, "+86-138", "短信中心号码必须是+，或者数字"},
        {21, "30", "心跳包大小超出范围"},
        {21, "65536", "心跳包大小超出范围"},
        {21, "065535", "心跳包大小超出范围"},
    };
    for (const Case& c : rejected) {
        const std::string before = grid_.CellText(c.row, grid::kRightValue).value();
        Right(c.row, c.text);
        Run(CommandKind::SaveSettings);
        ASSERT_FALSE(prompt_.Shown().empty()) << c.text;
        EXPECT_EQ(prompt_.Shown().back(), G(c.message)) << c.text;
        Right(c.row, before);
    }
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Log().empty());  // the message box is the whole report

    // The limits themselves pass.
    prompt_.shown.clear();
    Right(11, "1234abCD");
    Right(21, "31");
    Run(CommandKind::SaveSettings);
    Right(21, "65535");
    Run(CommandKind::SaveSettings);
    EXPECT_TRUE(prompt_.Shown().empty());
    EXPECT_EQ(SentLines(), (std::vector<std::string>{"at+idnt=1234abCD\r", "at+polltime=31\r",
                                                     "at+polltime=65535\r"}));

    // An address over 100 characters is refused without a message.
    Right(2, std::string(101, '1'));
    Run(CommandKind::SaveSettings);
    EXPECT_TRUE(prompt_.Shown().empty());
    EXPECT_EQ(SentLines().size(), 3u);
}

TEST_F(SaveTest, FmFrequencyIsSentInHundredthsAndOnlyDigitsPass) {
    Left(22, "101.5");
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(SentLines(), std::vector<std::string>{"AT+LRMFMFREQ=10150\r"});
    EXPECT_EQ(Settings().fmFreq, "10150");

    Left(22, "88,7");
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(prompt_.Shown(), std::vector<std::string>{G("FM接收频率只能是数字格式")});

    std::string value;
    EXPECT_TRUE(FmFrequencyValue("88.7", value));
    EXPECT_EQ(value, "8870");
    EXPECT_TRUE(FmFrequencyValue("87.5", value));
    EXPECT_EQ(value, "8750");
    EXPECT_TRUE(FmFrequencyValue("", value));
    EXPECT_EQ(value, "0");
    EXPECT_FALSE(FmFrequencyValue("99999999999999999999", value));
}

// The locale is built and switched with the POSIX C library's tools; the
// conversions under test read and write "." on every platform.
#if !defined(_WIN32)
// A numeric locale with a decimal comma, as on many operators' desktops: an
// installed one when there is one, else one built by localedef into a
// temporary folder. Null when neither is possible.
locale_t DecimalCommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"}) {
        if (locale_t found = newlocale(LC_NUMERIC_MASK, name, locale_t{})) return found;
    }
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder =
        fs::temp_directory_path(error) / ("pelmora-comma-locale-" + std::to_string(::getpid()));
    fs::create_directories(folder, error);
    {
        std::ofstream source(folder / "comma.src");
        source << "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
                  "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\n"
                  "grouping 3;3\nEND LC_NUMERIC\n";
    }
    const std::string build = "localedef -c -i '" + (folder / "comma.src").string() +
                              "' -f UTF-8 '" + (folder / "xx_XX.UTF-8").string() +
                              "' >/dev/null 2>&1";
    // localedef reports the categories the source leaves out, yet builds it:
    // whether it worked shows when the locale is loaded.
    [[maybe_unused]] const int status = std::system(build.c_str());
    locale_t built{};
    const char* previous = std::getenv("LOCPATH");
    const std::optional<std::string> kept =
        previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("LOCPATH", folder.c_str(), 1);
    {
#ifdef PELMORA_LEAK_CHECKED
        // glibc keeps the search path it made from LOCPATH; it is not ours to free.
        __lsan::ScopedDisabler keptByTheCLibrary;
#endif
        built = newlocale(LC_NUMERIC_MASK, "xx_XX.UTF-8", locale_t{});
    }
    if (kept) {
        ::setenv("LOCPATH", kept->c_str(), 1);
    } else {
        ::unsetenv("LOCPATH");
    }
    fs::remove_all(folder, error);  // a loaded locale does not need its files
    return built;
}

TEST(FmFrequency, ConvertsAlikeUnderADecimalCommaLocale) {
    const locale_t comma = DecimalCommaLocale();
    if (comma == locale_t{}) GTEST_SKIP() << "no decimal-comma locale can be had here";
    ASSERT_STREQ(nl_langinfo_l(RADIXCHAR, comma), ",");
    const locale_t before = uselocale(comma);

    std::string value;
    const bool read = FmFrequencyValue("88.7", value);
    AlarmSettings recorded;
    recorded.fmFreq = "8870";
    std::string shown;
    for (const auto& cell : GridCellsFromSettings(recorded)) {
        if (cell.row == 22 && cell.column == grid::kLeftValue) shown = cell.text.value_or("");
    }

    uselocale(before);
    freelocale(comma);
    EXPECT_TRUE(read);
    EXPECT_EQ(value, "8870");
    EXPECT_EQ(shown, "88.70");  // a comma here would be refused by the next save
}
#endif

TEST_F(SaveTest, CellThatGbkCannotCarryStopsItsStepWithItsRowNamed) {
    Left(5, "10");                                   // step two would send this...
    grid_.unsendable.insert({9, grid::kLeftValue});  // ...but the FM priority cell cannot go
    Right(2, "192.168.1.10");
    Run(CommandKind::SaveSettings);
    EXPECT_TRUE(Sent().empty());
    ASSERT_EQ(prompt_.Shown().size(), 1u);
    EXPECT_EQ(prompt_.Shown()[0], "row 9/1" + G(" 含有无法发送的字符(GBK不能表示),请修改后再保存"));
}

TEST_F(SaveTest, IntercomSwitchIsSentOnlyForYesOrNo) {
    Left(33, "");
    Run(CommandKind::SaveSettings);
    Left(33, G("未知"));
    Run(CommandKind::SaveSettings);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(SaveTest, ValuesLongerThanTheTerminalsFieldsAreRecordedWhole) {
    const std::string address(100, '7');
    Right(2, address);
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(Settings().dtu.serverIp, address);
    // Saving again finds nothing changed.
    Run(CommandKind::SaveSettings);
    EXPECT_EQ(Sent().size(), 1u);
}

TEST(CellInteger, ReadsLikeTheTerminalsConsole) {
    EXPECT_EQ(CellInteger(""), 0);
    EXPECT_EQ(CellInteger("  42abc"), 42);
    EXPECT_EQ(CellInteger("-7"), -7);
    EXPECT_EQ(CellInteger("x9"), 0);
    EXPECT_GT(CellInteger("99999999999999999999999"), 0);
}

}  // namespace
}  // namespace pelmora::testing
