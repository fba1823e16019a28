// The configuration pages in the running window: the settings grid's rows and
// fill, and read-back, save and the number lists end to end through the real
// library and a stateful simulated terminal.
#include <gtest/gtest.h>

#include "WindowFixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>

#include <thread>

#include "AddPhoneDlg.h"
#include "BaseConfig.h"
#include "CommandEngine.h"
#include "DeviceConfigDlg.h"
#include "DeviceView.h"
#include "Dovrik.h"
#include "GbkCodec.h"
#include "LeftView.h"
#include "ListCtrlEx.h"
#include "LogRelay.h"
#include "LoopbackPort.h"
#include "MainFrame.h"
#include "NumberListPage.h"
#include "PelmoraView.h"
#include "ReportCtrl.h"
#include "ServiceSettings.h"
#include "SettingsReport.h"
#include "TabSheet.h"
#include "TerminalSimulator.h"

namespace pelmora {
namespace {

using namespace std::chrono_literals;
using dovrik::sim::TerminalSimulator;
using testing::Pump;

std::string G(const QString& text) {
    return Utf8ToGbk(text.toStdString()).value();
}

class ConfigPagesTest : public testing::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        pages_ = &frame_->CommandView()->ConfigPages();
        grid_ = pages_->BaseConfig().Grid();
    }

    void ReadBack() {
        pages_->BaseConfig().OnReadBack();
        WaitIdle();
        QCoreApplication::processEvents();
    }
    QString Cell(int row, int column) { return grid_->ItemText(row, column); }

    CDeviceConfigDlg* pages_ = nullptr;
    CListCtrlEx* grid_ = nullptr;
};

TEST_F(ConfigPagesTest, GridHasEveryRowAndTheSettingsPageComesFirst) {
    EXPECT_EQ(pages_->Tabs().CurrentPage(), 0);
    EXPECT_EQ(pages_->Tabs().PageCount(), 4);
    EXPECT_EQ(pages_->Tabs().DialogId(2), 136);
    EXPECT_EQ(grid_->RowCount(), 34);
    EXPECT_EQ(Cell(0, 0), QStringLiteral("预置内容设置"));
    EXPECT_EQ(Cell(33, 0), QStringLiteral("否开启对讲机模块:"));
    EXPECT_EQ(Cell(21, 2), QStringLiteral("心跳包时间(31到65535):"));
    EXPECT_EQ(Cell(22, 2), QString());
    // Labels and headers are read-only; values are empty until a report.
    EXPECT_TRUE(grid_->IsCellReadOnly(5, 0));
    EXPECT_TRUE(grid_->IsCellReadOnly(4, 1));
    EXPECT_FALSE(grid_->IsCellReadOnly(5, 1));
    EXPECT_EQ(Cell(5, 1), QString());
    EXPECT_EQ(grid_->EffectiveBackground(0, 0), QColor(Qt::black));
    EXPECT_EQ(grid_->EffectiveTextColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(grid_->EffectiveBackground(5, 0), QColor(0xF0, 0xF0, 0xF0));

    // A choice row opens its list in the listed order, nothing selected.
    ASSERT_TRUE(grid_->DisplayEditor(20, 1));
    QComboBox* combo = pages_->BaseConfig().ChoiceEditor();
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("是"));
    EXPECT_EQ(combo->currentIndex(), -1);
    combo->setCurrentIndex(1);
    grid_->HideEditor(true);
    EXPECT_EQ(Cell(20, 1), QStringLiteral("否"));
}

TEST_F(ConfigPagesTest, EscapeInACellKeepsItsValueFromBeforeTheEdit) {
    CBaseConfig& page = pages_->BaseConfig();
    auto key = [](QWidget* editor, int code) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
        QCoreApplication::sendEvent(editor, &press);
    };
    grid_->SetItemText(3, 1, "before");
    ASSERT_TRUE(grid_->DisplayEditor(3, 1));
    page.TextEditor()->setText("typed");
    key(page.TextEditor(), Qt::Key_Escape);
    EXPECT_FALSE(grid_->IsEditing());
    EXPECT_EQ(page.CellText(3, 1), std::optional<std::string>("before"));  // what a save sends
    ASSERT_TRUE(grid_->DisplayEditor(20, 1));
    page.ChoiceEditor()->setCurrentIndex(1);
    key(page.ChoiceEditor(), Qt::Key_Escape);
    EXPECT_EQ(Cell(20, 1), QString());

    ASSERT_TRUE(grid_->DisplayEditor(3, 1));
    page.TextEditor()->setText("after");
    key(page.TextEditor(), Qt::Key_Return);
    EXPECT_EQ(Cell(3, 1), "after");
}

TEST_F(ConfigPagesTest, FillShowsTheRecordAsTheTablesSay) {
    AlarmSettings s = dovrik::sim::DefaultTerminalSettings();
    s.fmFreq = "10150";
    s.mp3PlayMode = "3";
    s.interPhoneOpen = "2";
    s.smsResponse = 1;
    s.ttsPlayMode = "0";
    s.dtu.returnToMainServer = "0";
    grid_->SetItemText(26, 1, QStringLiteral("单曲循环"));
    pages_->BaseConfig().FillFromSettings(s);
    EXPECT_EQ(Cell(22, 1), "101.50");
    EXPECT_EQ(Cell(26, 1), QStringLiteral("单曲循环"));  // unknown mode: left as it was
    EXPECT_TRUE(grid_->IsCellReadOnly(33, 1));
    EXPECT_EQ(Cell(19, 1), QStringLiteral("是"));
    EXPECT_EQ(Cell(28, 1), QStringLiteral("女声"));
    EXPECT_EQ(Cell(10, 3), QStringLiteral("否"));
    EXPECT_EQ(Cell(5, 1), QString::number(s.phonePriority));
    EXPECT_EQ(Cell(2, 3), QString::fromStdString(s.dtu.serverIp));
    EXPECT_EQ(Cell(1, 1), QString::fromStdString(GbkToUtf8Lossy(s.text1)));
}

TEST_F(ConfigPagesTest, ReadBackFillsTheGridAndTheListsFromTheTerminal) {
    Connect();
    ReadBack();
    const AlarmSettings terminal = sim_->Settings(0);
    EXPECT_EQ(Cell(1, 1), QString::fromStdString(GbkToUtf8Lossy(terminal.text1)));
    EXPECT_EQ(Cell(21, 3), QString::fromStdString(terminal.dtu.heartbeatPollTime));
    CReportCtrl* admin = pages_->NumberPage(1)->List();
    ASSERT_GT(admin->RowCount(), 0);
    EXPECT_EQ(admin->Text(0, 0), QString::fromStdString(terminal.adminNumbers[0]));
    EXPECT_TRUE(Log().contains(QStringLiteral("正在读取参数，请等待...")));
}

TEST_F(ConfigPagesTest, SaveSendsTheEditedRowsAndAChineseTextComesBackUnchanged) {
    Connect();
    ReadBack();
    const QString text = QStringLiteral("暴雨红色预警：请立即转移到安全地带！");
    grid_->SetItemText(3, 1, text);
    grid_->SetItemText(6, 1, "9");
    grid_->SetItemText(21, 3, "90");
    pages_->BaseConfig().OnSaveSettings();
    WaitIdle();
    const auto lines = sim_->CommandLines(0);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"AT+LRMSETTXT3=" + G(text), "AT+LRMSMSPRIO=9",
                                        "at+polltime=90"}));
    EXPECT_TRUE(Log().endsWith(QStringLiteral("参数保存完毕...")));
    EXPECT_TRUE(Log().contains(QStringLiteral("设置内容三成功\r\n") + text));

    grid_->SetItemText(3, 1, QString());
    ReadBack();
    EXPECT_EQ(Cell(3, 1), text);
}

TEST_F(ConfigPagesTest, ValidationStopsTheSaveAndAnErrorKeepsEarlierValues) {
    Connect();
    ReadBack();
    grid_->SetItemText(11, 3, "1234abcg");
    pages_->BaseConfig().OnSaveSettings();
    WaitIdle();
    EXPECT_EQ(sim_->CommandLines(0).size(), 1u);  // only the read-back
    EXPECT_EQ(informed_, QStringList{QStringLiteral("设备ID号必须是十六进制字符串")});

    grid_->SetItemText(11, 3, QString::fromStdString(sim_->Settings(0).dtu.modemId));
    grid_->SetItemText(5, 1, "10");
    grid_->SetItemText(6, 1, "10");
    grid_->SetItemText(7, 1, "10");
    dovrik::sim::TerminalScript script;
    script.replies["AT+LRMSMSPRIO"] = dovrik::sim::Reply::Error;
    sim_->SetScript(0, script);
    pages_->BaseConfig().OnSaveSettings();
    WaitIdle();
    EXPECT_EQ(sim_->CommandLines(0).back(), "AT+LRMSMSPRIO=10");
    EXPECT_TRUE(Log().contains(QStringLiteral("设置短信等级失败")));
    auto lock = frame_->CommandView()->Engine().LockSettings();
    EXPECT_EQ(frame_->CommandView()->Engine().Settings().phonePriority, 10);
}

TEST_F(ConfigPagesTest, UnsendableTextIsRefusedNamingItsRow) {
    Connect();
    ReadBack();
    grid_->SetItemText(1, 1, QStringLiteral("emoji \U0001F600"));
    pages_->BaseConfig().OnSaveSettings();
    WaitIdle();
    EXPECT_EQ(sim_->CommandLines(0).size(), 1u);
    ASSERT_EQ(informed_.size(), 1);
    EXPECT_TRUE(informed_[0].startsWith(QStringLiteral("预置内容一:")));
}

TEST_F(ConfigPagesTest, NumbersAreAddedDeletedAndResetOnTheTerminal) {
    Connect();
    ReadBack();
    CNumberListPage* backup = pages_->NumberPage(3);
    const int before = backup->List()->RowCount();
    backup->SetNumberEntry([](CAddPhoneDlg& dialog) {
        dialog.Edit()->setText("13912345678,13912345679");
        return dialog.TryAccept();
    });
    backup->SetConfirm([](const QString&, const QString&) { return true; });
    backup->OnAddNumber();
    WaitIdle();
    ASSERT_TRUE(Pump([&] { return backup->List()->RowCount() == before + 2; }));
    EXPECT_EQ(sim_->CommandLines(0).back(), "AT+LRMADDBKNO=13912345678,13912345679");

    for (int row = 0; row < backup->List()->RowCount(); ++row) {
        backup->List()->SetChecked(row, backup->List()->Text(row, 0) == "13912345678");
    }
    backup->OnDeleteNumbers();
    WaitIdle();
    ASSERT_TRUE(Pump([&] { return backup->List()->RowCount() == before + 1; }));
    EXPECT_EQ(sim_->CommandLines(0).back(), "AT+LRMDELBKNO=13912345678");

    backup->OnResetNumbers();
    WaitIdle();
    ASSERT_TRUE(Pump([&] { return backup->List()->RowCount() == 0; }));
    EXPECT_EQ(sim_->CommandLines(0).back(), "AT+LRMSETBKNO=");
    for (const std::string& entry : sim_->Settings(0).backupNumbers) EXPECT_TRUE(entry.empty());
}

TEST_F(ConfigPagesTest, PagesBelongToTheTerminalTheyWereReadFrom) {
    Connect();
    // A second terminal with other settings, one of its texts in bytes that
    // do not decode as GBK.
    constexpr std::uint32_t kOther = 0x0000BEEF;
    AlarmSettings other = dovrik::sim::DefaultTerminalSettings();
    other.text1 = "other terminal";
    other.text2 = "\xFF\x80 raw";
    other.phonePriority = 7;
    other.adminNumbers = {};
    other.adminNumbers[0] = "13700000000";
    dovrik::sim::TerminalSpec setup;
    setup.deviceId = kOther;
    sim_->Add(setup);
    sim_->MakeStateful(1, {}, other);
    ASSERT_TRUE(Pump([] { return DSGetModemCount() == 2; }));
    frame_->Refresh();
    CDeviceTable* rows = frame_->DeviceView()->List();
    ASSERT_EQ(rows->RowCount(), 2);
    EXPECT_EQ(pages_->OriginText(), QStringLiteral("尚未回读任何设备的参数"));

    ReadBack();  // the first terminal
    EXPECT_TRUE(
        pages_->OriginText().startsWith(QStringLiteral("当前显示: 设备 0001e240 的参数, 回读于 ")));

    // The second terminal ticked, the first one's pages shown: a save and a
    // number change are refused and nothing reaches it.
    rows->SetChecked(0, false);
    rows->SetChecked(1, true);
    grid_->SetItemText(3, 1, QStringLiteral("edited"));
    pages_->BaseConfig().OnSaveSettings();
    CNumberListPage* admin = pages_->NumberPage(1);
    admin->SetNumberEntry([](CAddPhoneDlg& dialog) {
        dialog.Edit()->setText("13912345678");
        return dialog.TryAccept();
    });
    admin->OnAddNumber();
    WaitIdle();
    EXPECT_TRUE(sim_->Messages(1).empty());
    const QString refusal = QStringLiteral(
        "注意!配置页面显示的是设备0001e240的参数,未向所选设备发送任何内容,"
        "请先对所选设备进行参数回读");
    EXPECT_EQ(Log().count(refusal), 2);
    EXPECT_FALSE(Log().contains(QStringLiteral("参数保存中，请等待...")));

    // Read back, the pages are its own: an unchanged grid sends nothing,
    // even for the text that does not decode, and an edit goes to it alone.
    ReadBack();
    EXPECT_TRUE(pages_->OriginText().contains(QStringLiteral("设备 0000beef")));
    EXPECT_EQ(Cell(1, 1), QStringLiteral("other terminal"));
    EXPECT_EQ(Cell(5, 1), QStringLiteral("7"));
    EXPECT_EQ(admin->List()->Text(0, 0), QStringLiteral("13700000000"));
    pages_->BaseConfig().OnSaveSettings();
    WaitIdle();
    EXPECT_EQ(sim_->CommandLines(1), std::vector<std::string>{"AT+SHOW"});
    EXPECT_TRUE(Log().endsWith(QStringLiteral("参数保存完毕...")));

    grid_->SetItemText(3, 1, QStringLiteral("edited"));
    pages_->BaseConfig().OnSaveSettings();
    WaitIdle();
    EXPECT_EQ(sim_->CommandLines(1).back(), "AT+LRMSETTXT3=edited");
    EXPECT_EQ(sim_->Settings(1).text2, other.text2);
    EXPECT_EQ(sim_->CommandLines(0), std::vector<std::string>{"AT+SHOW"});
}

}  // namespace
}  // namespace pelmora
