// The control pages in the running window: play content, MP3 play and stop,
// the version query, the upgrade parameters behind their password and
// checks, and the restart, end to end through the real library and a
// stateful simulated terminal.
#include <gtest/gtest.h>

#include "WindowFixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTemporaryDir>

#include <thread>

#include "CmdDataObj.h"
#include "CommandEngine.h"
#include "DeviceView.h"
#include "Dovrik.h"
#include "GbkCodec.h"
#include "GprsDataDlg.h"
#include "LeftView.h"
#include "LogRelay.h"
#include "LoopbackPort.h"
#include "MainFrame.h"
#include "Mp3Control.h"
#include "PelmoraView.h"
#include "ReportCtrl.h"
#include "ServiceSettings.h"
#include "SystemControlDlg.h"
#include "TabSheet.h"
#include "TerminalSimulator.h"
#include "UpgradeControl.h"

namespace pelmora {
namespace {

using namespace std::chrono_literals;
using dovrik::sim::TerminalScript;
using dovrik::sim::TerminalSimulator;
using testing::Pump;
using Bytes = std::vector<std::uint8_t>;

// A control frame as the terminal received it.
struct Frame {
    std::uint16_t command = 0;
    bool longForm = false;
    int count = 1;
    int index = 0;
    Bytes payload;
};

std::optional<Frame> ReadFrame(const Bytes& m) {
    if (m.size() < CCmdDataObj::kShortOverhead || m[0] != 0x02) return std::nullopt;
    Frame f;
    f.command = static_cast<std::uint16_t>(m[9] << 8 | m[10]);
    f.longForm = m[12] == 8;
    std::size_t at = 13;
    if (f.longForm) {
        f.count = m[13];
        f.index = m[14];
        at = 21;
    }
    const std::size_t n = static_cast<std::size_t>(m[at] << 8 | m[at + 1]);
    if (m.size() != at + 2 + n + 2) return std::nullopt;
    f.payload.assign(m.begin() + static_cast<long>(at + 2),
                     m.begin() + static_cast<long>(at + 2 + n));
    return f;
}

class ControlPagesTest : public testing::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        control_ = &frame_->CommandView()->ControlPages();
        mp3_ = &control_->Mp3Page();
        upgrade_ = &control_->UpgradePage();
        data_ = &frame_->CommandView()->DataSendPage();
        upgrade_->SetPasswordEntry([this] { return password_; });
    }

    // The frames with this request code the terminal received so far.
    std::vector<Frame> Frames(std::uint16_t command) {
        std::vector<Frame> out;
        for (const Bytes& m : sim_->Messages(0)) {
            if (auto f = ReadFrame(m); f && f->command == command) out.push_back(*f);
        }
        return out;
    }
    void SendContent(const QString& text) {
        data_->Content()->setPlainText(text);
        data_->OnSend();
        WaitIdle();
    }
    // The documented example, every field valid.
    void FillExampleUpgrade() {
        upgrade_->FileFormat()->setCurrentIndex(1);       // 压缩
        upgrade_->DownloadTime()->setCurrentIndex(1);     // 立即
        upgrade_->ParameterMode()->setCurrentIndex(1);    // 保留
        upgrade_->DownloadContent()->setCurrentIndex(1);  // BOOT程序
        upgrade_->Protocol()->setCurrentIndex(1);         // UDP
        upgrade_->AnswerFrames()->setCurrentIndex(15);    // 16
        upgrade_->ServerAddress()->setText("192.168.1.10");
        upgrade_->ServerPort()->setEditText("5001");
        upgrade_->Version()->setText("V2.0");
    }

    CSystemControlDlg* control_ = nullptr;
    CMp3Control* mp3_ = nullptr;
    CUpgradeControl* upgrade_ = nullptr;
    CGPRSDataDlg* data_ = nullptr;
    std::optional<QString> password_ = QStringLiteral("tarnpiked");
};

TEST_F(ControlPagesTest, PagesStartAsTheOperatorExpectsThem) {
    EXPECT_EQ(frame_->CommandView()->PageWidget(CPelmoraView::Page::Control), control_);
    EXPECT_EQ(frame_->CommandView()->PageWidget(CPelmoraView::Page::DataSend), data_);
    EXPECT_EQ(control_->Tabs().PageCount(), 2);
    EXPECT_EQ(control_->Tabs().CurrentPage(), 0);
    EXPECT_EQ(control_->Tabs().DialogId(0), 143);
    EXPECT_EQ(control_->Tabs().DialogId(1), 144);
    EXPECT_EQ(control_->Tabs().TabBar()->tabText(1), QStringLiteral("升级控制"));

    ASSERT_EQ(mp3_->TitleList()->count(), 10);
    EXPECT_EQ(mp3_->TitleList()->currentText(), "1");
    EXPECT_EQ(mp3_->TitleList()->itemText(9), "10");
    EXPECT_TRUE(mp3_->BootVersionBox()->isReadOnly());
    EXPECT_TRUE(mp3_->SoftwareVersionBox()->isReadOnly());

    for (QComboBox* list :
         {upgrade_->FileFormat(), upgrade_->DownloadTime(), upgrade_->ParameterMode(),
          upgrade_->DownloadContent(), upgrade_->Protocol(), upgrade_->AnswerFrames()}) {
        EXPECT_EQ(list->currentIndex(), -1);
    }
    EXPECT_EQ(upgrade_->AnswerFrames()->count(), 16);
    EXPECT_EQ(upgrade_->ServerPort()->count(), 3);
    EXPECT_EQ(upgrade_->ServerPort()->currentText(), QString());
    EXPECT_EQ(upgrade_->ServerAddress()->text(), QString());
    EXPECT_EQ(upgrade_->Version()->text(), QString());
}

TEST_F(ControlPagesTest, PlayContentGoesInPiecesOf1024Bytes) {
    Connect();
    struct Case {
        int size;
        std::vector<int> pieces;
        bool longForm;
    };
    const Case cases[] = {{0, {0}, false},
                          {1023, {1023}, false},
                          {1024, {1024}, false},
                          {2500, {1024, 1024, 452}, true}};
    std::size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        QString text;
        for (int i = 0; i < c.size; ++i) text += QChar('a' + i % 26);
        SendContent(text);
        const auto frames = Frames(kPlayContentRequest);
        ASSERT_EQ(frames.size(), seen + c.pieces.size());
        Bytes joined;
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            const Frame& f = frames[seen + i];
            EXPECT_EQ(f.longForm, c.longForm);
            EXPECT_EQ(f.payload.size(), static_cast<std::size_t>(c.pieces[i]));
            if (c.longForm) {
                EXPECT_EQ(f.count, static_cast<int>(c.pieces.size()));
                EXPECT_EQ(f.index, static_cast<int>(i + 1));
            }
            joined.insert(joined.end(), f.payload.begin(), f.payload.end());
        }
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(joined.data()),
                             static_cast<qsizetype>(joined.size())),
                  text.toLatin1());
        seen = frames.size();
        EXPECT_TRUE(Log().endsWith(QStringLiteral("设置播放内容成功")));
    }
    EXPECT_EQ(Log().count(QStringLiteral("设置播放内容,清等待...")), 4);
}

TEST_F(ControlPagesTest, AnyRefusedPieceEndsTheBroadcastAsFailed) {
    TerminalScript script;
    script.frameResults[kPlayContentRequest] = 0;
    Connect(script);
    SendContent(QString(2500, QChar('x')));
    EXPECT_EQ(Frames(kPlayContentRequest).size(), 3u);  // a refusal does not stop the rest
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设置播放内容失败")));
    EXPECT_FALSE(Log().contains(QStringLiteral("设置播放内容成功")));

    SendContent(QString(1024, QChar('y')));
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设置播放内容失败")));
    SendContent("short");
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设置播放内容失败")));
    EXPECT_FALSE(Log().contains(QStringLiteral("设置播放内容成功")));
}

TEST_F(ControlPagesTest, PlayContentIsSentAsGbkAndUnsendableTextIsRefused) {
    Connect();
    const QString text = QStringLiteral("暴雨预警\n请转移");
    SendContent(text);
    const auto frames = Frames(kPlayContentRequest);
    ASSERT_EQ(frames.size(), 1u);
    const std::string expected = Utf8ToGbk("暴雨预警\r\n请转移").value();
    EXPECT_EQ(std::string(frames[0].payload.begin(), frames[0].payload.end()), expected);

    EXPECT_EQ(data_->CountLabel()->text(), QStringLiteral("共 16 字节(GBK),分 1 片发送"));
    // What GBK cannot carry is marked as it is typed, then refused at the send.
    SendContent(QStringLiteral("警报 \U0001F6A8 ok \U0001F6A8"));
    EXPECT_EQ(data_->CountLabel()->text(), QStringLiteral("有 2 个字符无法发送(已标红),请修改"));
    ASSERT_EQ(data_->Content()->extraSelections().size(), 2);
    EXPECT_EQ(data_->Content()->extraSelections()[0].cursor.selectedText(),
              QStringLiteral("\U0001F6A8"));
    EXPECT_EQ(Frames(kPlayContentRequest).size(), 1u);
    ASSERT_EQ(informed_.size(), 1);
    EXPECT_EQ(informed_[0], QStringLiteral("播放内容含有无法发送的字符,请修改"));
    EXPECT_EQ(Log().count(QStringLiteral("设置播放内容,清等待...")), 1);
}

TEST_F(ControlPagesTest, PlayAndStopReportAcknowledgementRefusalAndSilence) {
    Connect();
    mp3_->TitleList()->setCurrentIndex(2);
    mp3_->OnPlay();
    WaitIdle();
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设置播放mp3成功")));
    mp3_->TitleList()->setCurrentIndex(9);
    mp3_->OnPlay();
    WaitIdle();
    auto plays = Frames(kPlayMp3Request);
    ASSERT_EQ(plays.size(), 2u);
    EXPECT_EQ(std::string(plays[0].payload.begin(), plays[0].payload.end()), "00003");
    EXPECT_EQ(std::string(plays[1].payload.begin(), plays[1].payload.end()), "00010");
    mp3_->OnStop();
    WaitIdle();
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设置停止播放mp3成功")));
    ASSERT_EQ(Frames(kStopMp3Request).size(), 1u);
    EXPECT_TRUE(Frames(kStopMp3Request)[0].payload.empty());

    TerminalScript refusing;
    refusing.frameResults[kPlayMp3Request] = 0;
    refusing.frameResults[kStopMp3Request] = 0;
    sim_->SetScript(0, refusing);
    mp3_->OnPlay();
    WaitIdle();
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设置播放Mp3失败")));
    mp3_->OnStop();
    WaitIdle();
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设置停止播放Mp3失败")));

    TerminalScript silent;
    silent.frameResults[kPlayMp3Request] = std::nullopt;
    silent.frameResults[kStopMp3Request] = std::nullopt;
    sim_->SetScript(0, silent);
    mp3_->OnPlay();
    WaitIdle();
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设置播放mp3失败")));
    mp3_->OnStop();
    WaitIdle();
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设置停止播放mp3失败")));
}

TEST_F(ControlPagesTest, TitleNumbersAreTheLeadingDigitsInFiveDigits) {
    EXPECT_EQ(FormatTitleNumber("3"), "00003");
    EXPECT_EQ(FormatTitleNumber("10"), "00010");
    EXPECT_EQ(FormatTitleNumber(""), "00000");
    EXPECT_EQ(FormatTitleNumber("x7"), "00000");
    EXPECT_EQ(FormatTitleNumber("12ab"), "00012");
    EXPECT_EQ(FormatTitleNumber("99999999999999999999"), "99999");
}

TEST_F(ControlPagesTest, VersionQueryFillsTheBoxesAndSilenceLeavesThem) {
    TerminalScript script;
    script.softwareVersion = "V3.1";
    script.bootVersion = Utf8ToGbk("引导1.0").value();
    Connect(script);
    mp3_->OnQuery();
    WaitIdle();
    ASSERT_TRUE(Pump([&] { return !mp3_->SoftwareVersionBox()->text().isEmpty(); }));
    EXPECT_EQ(mp3_->SoftwareVersionBox()->text(), "V3.1");
    EXPECT_EQ(mp3_->BootVersionBox()->text(), QStringLiteral("引导1.0"));
    EXPECT_TRUE(Log().endsWith(QStringLiteral("读取版本成功")));

    script.frameResults[kVersionRequest] = std::nullopt;
    script.softwareVersion = "V9.9";
    sim_->SetScript(0, script);
    mp3_->OnQuery();
    WaitIdle();
    EXPECT_TRUE(Log().endsWith(QStringLiteral("读取版本失败")));
    EXPECT_EQ(mp3_->SoftwareVersionBox()->text(), "V3.1");
    EXPECT_EQ(mp3_->BootVersionBox()->text(), QStringLiteral("引导1.0"));
}

TEST_F(ControlPagesTest, UpgradeSendsTheParameterBlockOfThePage) {
    Connect();
    FillExampleUpgrade();
    upgrade_->OnSet();
    WaitIdle();
    const auto frames = Frames(kUpgradeRequest);
    ASSERT_EQ(frames.size(), 1u);
    const Bytes& p = frames[0].payload;
    ASSERT_EQ(p.size(), 94u);
    EXPECT_EQ(p[0], 0x71);
    EXPECT_EQ((Bytes{p[1], p[2], p[3]}), (Bytes{0x01, 0x01, 0x10}));
    EXPECT_EQ(std::string(p.begin() + 4, p.begin() + 24), std::string(20, ' '));
    EXPECT_EQ(std::string(p.begin() + 24, p.begin() + 44), "192.168.1.10        ");
    EXPECT_EQ(std::string(p.begin() + 44, p.begin() + 49), "5001 ");
    EXPECT_EQ(p[49], 4);
    EXPECT_EQ(std::string(p.begin() + 50, p.begin() + 90), "V2.0" + std::string(36, ' '));
    EXPECT_EQ((Bytes(p.begin() + 90, p.end())), Bytes(4, 0));
    EXPECT_TRUE(Log().endsWith(QStringLiteral("无线下载配置应答成功")));
    EXPECT_TRUE(informed_.isEmpty());

    // The first entry of every list, a typed port and a Chinese version.
    for (QComboBox* list :
         {upgrade_->FileFormat(), upgrade_->DownloadTime(), upgrade_->ParameterMode(),
          upgrade_->DownloadContent(), upgrade_->Protocol(), upgrade_->AnswerFrames()}) {
        list->setCurrentIndex(0);
    }
    upgrade_->ServerPort()->setEditText("65535");
    upgrade_->Version()->setText(QString(20, QChar(0x7248)));  // 40 GBK bytes: still fits
    upgrade_->OnSet();
    WaitIdle();
    const auto again = Frames(kUpgradeRequest);
    ASSERT_EQ(again.size(), 2u);
    const Bytes& q = again[1].payload;
    EXPECT_EQ((Bytes{q[0], q[1], q[3]}), (Bytes{0x00, 0x00, 0x01}));
    EXPECT_EQ(std::string(q.begin() + 44, q.begin() + 49), "65535");
    EXPECT_EQ(q[49], 40);
}

TEST_F(ControlPagesTest, WrongOrCancelledPasswordQueuesNothing) {
    Connect();
    FillExampleUpgrade();
    password_ = QStringLiteral("Tarnpiked");
    upgrade_->OnSet();
    password_ = QStringLiteral("tarnpiked ");
    upgrade_->OnSet();
    password_ = std::nullopt;  // cancelled: not even a message
    upgrade_->OnSet();
    WaitIdle();
    EXPECT_EQ(informed_,
              (QStringList{QStringLiteral("密码输入错误!"), QStringLiteral("密码输入错误!")}));
    EXPECT_EQ(captions_.value(0), QStringLiteral("提示"));
    EXPECT_TRUE(Frames(kUpgradeRequest).empty());
    EXPECT_FALSE(Log().contains(QStringLiteral("设置升级参数")));
}

TEST_F(ControlPagesTest, UpgradeWithAMissingOrBadFieldIsRefusedByName) {
    Connect();
    struct Case {
        const char* name;
        std::function<void(CUpgradeControl&)> spoil;
        QString mentions;
    };
    const Case cases[] = {
        {"file format", [](auto& u) { u.FileFormat()->setCurrentIndex(-1); },
         QStringLiteral("文件格式")},
        {"download time", [](auto& u) { u.DownloadTime()->setCurrentIndex(-1); },
         QStringLiteral("下载时间")},
        {"parameter mode", [](auto& u) { u.ParameterMode()->setCurrentIndex(-1); },
         QStringLiteral("参数模式")},
        {"download content", [](auto& u) { u.DownloadContent()->setCurrentIndex(-1); },
         QStringLiteral("下载内容")},
        {"protocol", [](auto& u) { u.Protocol()->setCurrentIndex(-1); },
         QStringLiteral("协议模式")},
        {"answer frames", [](auto& u) { u.AnswerFrames()->setCurrentIndex(-1); },
         QStringLiteral("应答帧数")},
        {"address blank", [](auto& u) { u.ServerAddress()->setText(""); },
         QStringLiteral("升级服务器IP")},
        {"address short", [](auto& u) { u.ServerAddress()->setText("192.168.1"); },
         QStringLiteral("升级服务器IP")},
        {"address octet", [](auto& u) { u.ServerAddress()->setText("192.168.1.256"); },
         QStringLiteral("升级服务器IP")},
        {"address long", [](auto& u) { u.ServerAddress()->setText("192.168.001.0100000"); },
         QStringLiteral("升级服务器IP")},
        {"port empty", [](auto& u) { u.ServerPort()->setEditText(""); },
         QStringLiteral("升级服务器端口")},
        {"port zero", [](auto& u) { u.ServerPort()->setEditText("0"); },
         QStringLiteral("升级服务器端口")},
        {"port high", [](auto& u) { u.ServerPort()->setEditText("65536"); },
         QStringLiteral("升级服务器端口")},
        {"port text", [](auto& u) { u.ServerPort()->setEditText("50a1"); },
         QStringLiteral("升级服务器端口")},
        {"port wide", [](auto& u) { u.ServerPort()->setEditText("005001"); },
         QStringLiteral("升级服务器端口")},
        {"version empty", [](auto& u) { u.Version()->setText(""); }, QStringLiteral("版本号")},
        {"version long", [](auto& u) { u.Version()->setText(QString(41, QChar('v'))); },
         QStringLiteral("版本号")},
        {"version wide", [](auto& u) { u.Version()->setText(QString(21, QChar(0x7248))); },
         QStringLiteral("版本号")},
        {"version unsendable", [](auto& u) { u.Version()->setText("V\U0001F600"); },
         QStringLiteral("无法发送")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FillExampleUpgrade();
        c.spoil(*upgrade_);
        informed_.clear();
        upgrade_->OnSet();
        ASSERT_EQ(informed_.size(), 1);
        EXPECT_TRUE(informed_[0].contains(c.mentions)) << informed_[0].toStdString();
    }
    WaitIdle();
    EXPECT_TRUE(Frames(kUpgradeRequest).empty());
    EXPECT_FALSE(Log().contains(QStringLiteral("设置升级参数")));
}

TEST_F(ControlPagesTest, RestartNeedsTheServiceAndReportsTheAnswer) {
    frame_->RestartDevice();
    EXPECT_EQ(informed_, QStringList{QStringLiteral("服务未启动!")});
    EXPECT_FALSE(Log().contains(QStringLiteral("设备重启")));

    Connect();
    frame_->RestartDevice();
    WaitIdle();
    EXPECT_TRUE(Log().endsWith(QStringLiteral("设备重启成功")));
    EXPECT_EQ(Frames(kRestartRequest).size(), 1u);
}

}  // namespace
}  // namespace pelmora
