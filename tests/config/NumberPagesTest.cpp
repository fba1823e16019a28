// The number pages and their entry dialog against a command engine whose
// terminal is played by the test.
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <future>

#include "AddPhoneDlg.h"
#include "CommandTexts.h"
#include "EngineFixture.h"
#include "NumberListPage.h"
#include "ReportCtrl.h"

namespace pelmora::testing {
namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// n digits, all '7' unless told otherwise.
std::string Digits(std::size_t n, char digit = '7') {
    return std::string(n, digit);
}

class NumberPagesTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        Build({}, false);  // each test starts the worker when it needs it
        devices_.rows.push_back({true, "0001e240", G("在线"), ""});
        engine_->AdoptSettings({}, kId);  // the pages hold this terminal's lists
    }
    void TearDown() override {
        ReleaseTerminal();
        // The scripted link reaches the engine through the fixture's pointer,
        // which must outlive the job in progress.
        EXPECT_TRUE(Eventually([this] { return engine_->Idle(); }));
        EngineTest::TearDown();
    }

    // The page's dialog takes `typed`; answers its boxes into shown_ and
    // confirms with `confirm_`.
    void Prepare(CNumberListPage& page, const QString& typed) {
        page.SetMessageBox([this](const QString& text) { shown_ << text; });
        page.SetConfirm([this](const QString& text, const QString& caption) {
            asked_ << text;
            EXPECT_EQ(caption, "YES");
            return confirm_;
        });
        page.SetNumberEntry([typed](CAddPhoneDlg& dialog) {
            dialog.Edit()->setText(typed);
            return dialog.TryAccept();
        });
    }

    void StartAnsweringOk() {
        AnswerText("OK\r\n");
        ASSERT_TRUE(engine_->StartWorker());
    }
    // Keeps the worker busy inside the send of a first job until released.
    void HoldTerminal() {
        const auto gate = gate_.get_future().share();
        Answer([gate](std::uint32_t, const Bytes&) {
            gate.wait();
            return Bytes{'O', 'K'};
        });
        ASSERT_TRUE(engine_->StartWorker());
        ASSERT_TRUE(engine_->SubmitPageCommand(devices_, CommandKind::ReadSettings));
        ASSERT_TRUE(Eventually([this] { return engine_->Busy(); }));
        held_ = true;
    }
    void ReleaseTerminal() {
        if (held_) gate_.set_value();
        held_ = false;
    }
    std::vector<std::string> SentAfterIdle() {
        EXPECT_TRUE(Eventually([this] { return engine_->Idle(); }));
        return SentLines();
    }
    static void AddRows(CNumberListPage& page, const std::vector<std::string>& numbers) {
        NumberList list;
        std::copy(numbers.begin(), numbers.end(), list.begin());
        page.FillNumberList(list);
    }
    static QStringList Rows(const CNumberListPage& page) {
        QStringList rows;
        for (int r = 0; r < page.List()->RowCount(); ++r) rows << page.List()->Text(r, 0);
        return rows;
    }
    NumberList& Record(int kind) { return *NumberListOf(engine_->MutableSettings(), kind); }

    FakeDevices devices_;
    QStringList shown_;
    QStringList asked_;
    bool confirm_ = true;

  private:
    std::promise<void> gate_;
    bool held_ = false;
};

TEST_F(NumberPagesTest, DialogRefusesBadCharactersAndLongEntriesAndStaysOpen) {
    CAddPhoneDlg dialog(*engine_);
    dialog.SetMessageBox([this](const QString& text) { shown_ << text; });
    dialog.show();
    const QString tooLong = QStringLiteral("电话号码长度太长");
    const QString block = QString::fromStdString(Digits(31)) + ',';  // 32 characters
    const QString limit = block.repeated(7) + QString::fromStdString(Digits(30));

    const struct {
        QString typed;
        QString message;
    } refused[] = {
        {"12a", QStringLiteral("输入字符不合法,清重新输入数字或英文逗号格式的字符")},
        {limit + "1", tooLong},
        {limit + ",", tooLong},  // the trailing comma still counts
        {QString::fromStdString(Digits(33)), tooLong},
        {"111," + QString::fromStdString(Digits(33)) + ",", tooLong},
    };
    for (const auto& c : refused) {
        shown_.clear();
        dialog.Edit()->setText(c.typed);
        EXPECT_FALSE(dialog.TryAccept()) << c.typed.toStdString();
        EXPECT_EQ(shown_, QStringList{c.message}) << c.typed.toStdString();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }

    ASSERT_EQ(limit.size(), 254);
    dialog.Edit()->setText(limit);
    EXPECT_TRUE(dialog.TryAccept());
    EXPECT_EQ(dialog.Numbers(), limit);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(NumberPagesTest, DialogDropsOneTrailingCommaAndWaitsWhileBusy) {
    CAddPhoneDlg dialog(*engine_);
    dialog.Edit()->setText("111,222,");
    EXPECT_TRUE(dialog.TryAccept());
    EXPECT_EQ(dialog.Numbers(), "111,222");
    dialog.Edit()->setText("111,,");
    EXPECT_TRUE(dialog.TryAccept());
    EXPECT_EQ(dialog.Numbers(), "111,");

    HoldTerminal();
    events_.ClearLog();
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    dialog.Edit()->setText("123");
    EXPECT_FALSE(dialog.TryAccept());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Log(), std::vector<std::string>{text::kBusy});
}

TEST_F(NumberPagesTest, CheckNumberListRefusesRepeatsEmptyLastAndOverlongNumbers) {
    EXPECT_TRUE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=111,222\r", 1));
    EXPECT_TRUE(CNumberListPage::CheckNumberList("AT+LRMADDLRMNO=5\r", 2));
    EXPECT_TRUE(CNumberListPage::CheckNumberList("AT+LRMADDBKNO=1," + Digits(99) + "\r", 3));
    EXPECT_TRUE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=1,,2\r", 1));

    EXPECT_FALSE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=138,138\r", 1));
    EXPECT_FALSE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=1,2,3,2\r", 1));
    EXPECT_FALSE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=\r", 1));
    EXPECT_FALSE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=1,,\r", 1));
    EXPECT_FALSE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=" + Digits(100) + ",1\r", 1));
    EXPECT_FALSE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=1," + Digits(100) + "\r", 1));
    // The kind chooses the prefix.
    EXPECT_FALSE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=1\r", 3));
    EXPECT_FALSE(CNumberListPage::CheckNumberList("AT+LRMADDADMINNO=1\r", 0));
    EXPECT_FALSE(CNumberListPage::CheckNumberList("", 1));
}

TEST_F(NumberPagesTest, AddSendsTheNumbersAndTheConfirmationListsThem) {
    StartAnsweringOk();
    CAdminNoDlg page(*engine_, devices_);
    Prepare(page, "111,222,");
    page.OnAddNumber();
    EXPECT_EQ(SentAfterIdle(), std::vector<std::string>{"AT+LRMADDADMINNO=111,222\r"});
    EXPECT_TRUE(Contains(Log(), G("设置管理号码,清等待...")));
    EXPECT_TRUE(Rows(page).isEmpty());  // not before the terminal accepted

    std::vector<FakeEvents::Entry> notices;
    {
        std::lock_guard guard(events_.lock);
        notices = events_.notices;
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].what, "added");
    page.OnNumbersAdded(notices[0].notice);
    EXPECT_EQ(Rows(page), (QStringList{"111", "222"}));
}

TEST_F(NumberPagesTest, AddRefusalsSendNothing) {
    StartAnsweringOk();
    CAdminNoDlg page(*engine_, devices_);
    Prepare(page, "138,138");
    page.OnAddNumber();
    EXPECT_EQ(Log(), std::vector<std::string>{G("号码重复,添加失败")});

    events_.ClearLog();
    Prepare(page, "12a");  // the dialog stays open: nothing follows
    page.OnAddNumber();
    EXPECT_EQ(shown_.size(), 1);
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(SentAfterIdle().empty());
}

TEST_F(NumberPagesTest, EveryPageChecksBusyAgainAfterTheDialog) {
    HoldTerminal();
    CLrmNoDlg authorize(*engine_, devices_);
    CBackNoDlg backup(*engine_, devices_);
    // As if the engine had turned busy after the dialog closed: the dialog
    // keeps the numbers before it looks at the busy flag.
    const auto entry = [](CAddPhoneDlg& dialog) {
        dialog.Edit()->setText("555");
        dialog.TryAccept();
        return true;
    };
    authorize.SetNumberEntry(entry);
    backup.SetNumberEntry(entry);

    events_.ClearLog();
    authorize.OnAddNumber();
    EXPECT_EQ(Log(), (std::vector<std::string>{text::kBusy, text::kBusy}));

    // Nothing queues behind a running job, whichever page asks.
    events_.ClearLog();
    backup.OnAddNumber();
    EXPECT_EQ(Log(), (std::vector<std::string>{text::kBusy, text::kBusy}));
}

TEST_F(NumberPagesTest, DeleteSendsTheCheckedNumbersAfterConfirmation) {
    StartAnsweringOk();
    CAdminNoDlg page(*engine_, devices_);
    Prepare(page, {});
    AddRows(page, {"111", "333", "222"});

    page.OnDeleteNumbers();
    EXPECT_EQ(Log(), std::vector<std::string>{G("请选择要删除的号码")});
    EXPECT_TRUE(asked_.isEmpty());

    page.List()->SetChecked(0, true);
    page.List()->SetChecked(2, true);
    confirm_ = false;
    page.OnDeleteNumbers();
    EXPECT_EQ(asked_, QStringList{QStringLiteral("你将删除管理号:111,222")});
    EXPECT_TRUE(SentAfterIdle().empty());

    confirm_ = true;
    events_.ClearLog();
    page.OnDeleteNumbers();
    EXPECT_EQ(SentAfterIdle(), std::vector<std::string>{"AT+LRMDELADMINNO=111,222\r"});
    EXPECT_TRUE(Contains(Log(), G("删除管理号码,清等待...")));
    EXPECT_EQ(Rows(page).size(), 3);  // until the terminal's answer is handled
}

TEST_F(NumberPagesTest, ResetAsksFirstAndReportsAQueueWithoutWorker) {
    CBackNoDlg page(*engine_, devices_);
    Prepare(page, {});
    confirm_ = false;
    page.OnResetNumbers();
    EXPECT_EQ(asked_, QStringList{QStringLiteral("重置备份号码将使所有号码清除，是否继续？")});
    EXPECT_TRUE(Log().empty());

    confirm_ = true;
    page.OnResetNumbers();  // no worker started
    EXPECT_EQ(Log(), std::vector<std::string>{G("重置备份号码失败.")});

    StartAnsweringOk();
    events_.ClearLog();
    page.OnResetNumbers();
    EXPECT_EQ(SentAfterIdle(), std::vector<std::string>{"AT+LRMSETBKNO=\r"});
}

TEST_F(NumberPagesTest, AddedNumbersGoToFreeEntriesAndNewRows) {
    CAdminNoDlg page(*engine_, devices_);
    AddRows(page, {"111"});
    Record(1)[0] = "900";
    const std::string longNumber = Digits(40, '8');

    page.OnNumbersAdded({"AT+LRMADDADMINNO=111,222," + longNumber + "\r", 1});
    EXPECT_EQ(Rows(page), (QStringList{"111", "222", QString::fromStdString(longNumber)}));
    EXPECT_EQ(Record(1)[1], "111");
    EXPECT_EQ(Record(1)[2], "222");
    EXPECT_EQ(Record(1)[3], longNumber);  // whole, beyond an entry's 32 characters
    const std::string line = "AT+LRMADDADMINNO=111,222," + longNumber + "\r";
    EXPECT_EQ(Log(), (std::vector<std::string>{line, G("管理号码重复"), line, G("管理号码添加成功"),
                                               line, G("管理号码添加成功")}));

    // Another list's notice, and a number of 100 characters, end it all.
    page.OnNumbersAdded({"AT+LRMADDLRMNO=444\r", 2});
    page.OnNumbersAdded({"AT+LRMADDADMINNO=555," + Digits(100) + ",666\r", 1});
    EXPECT_EQ(Rows(page).size(), 4);
    EXPECT_EQ(Rows(page).back(), "555");
    EXPECT_TRUE(Record(1)[5].empty());
}

TEST_F(NumberPagesTest, AFullRecordNeitherStoresNorLists) {
    CLrmNoDlg page(*engine_, devices_);
    Record(2).fill("1");
    page.OnNumbersAdded({"AT+LRMADDLRMNO=222\r", 2});
    EXPECT_TRUE(Rows(page).isEmpty());
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(std::count(Record(2).begin(), Record(2).end(), "222"), 0);
}

TEST_F(NumberPagesTest, DeletedNumbersLeaveRowsAndRecord) {
    CAdminNoDlg page(*engine_, devices_);
    AddRows(page, {"111", "222", "333", "111"});
    Record(1)[0] = "111";
    Record(1)[4] = "111";
    Record(1)[7] = "333";

    page.OnNumbersDeleted({"AT+LRMDELADMINNO=111,444\r", 1});
    EXPECT_EQ(Rows(page), (QStringList{"222", "333"}));
    EXPECT_TRUE(Record(1)[0].empty());
    EXPECT_TRUE(Record(1)[4].empty());
    EXPECT_EQ(Record(1)[7], "333");
    EXPECT_TRUE(Log().empty());

    page.OnNumbersDeleted({"AT+LRMDELBKNO=333\r", 3});  // not this page's list
    EXPECT_EQ(Rows(page).size(), 2);
}

TEST_F(NumberPagesTest, ResetEmptiesOnlyTheListAndFillShowsUsedEntries) {
    CBackNoDlg page(*engine_, devices_);
    NumberList numbers;
    numbers[3] = "333";
    numbers[1] = "111";
    numbers[254] = G("号");
    page.FillNumberList(numbers);
    EXPECT_EQ(Rows(page), (QStringList{"111", "333", QStringLiteral("号")}));
    EXPECT_EQ(page.RowNumber(2), G("号"));

    Record(3)[0] = "111";
    page.OnNumbersReset({{}, 1});
    EXPECT_EQ(Rows(page).size(), 3);
    page.OnNumbersReset({{}, 3});
    EXPECT_TRUE(Rows(page).isEmpty());
    EXPECT_EQ(Record(3)[0], "111");
}

TEST_F(NumberPagesTest, PagesCarryTheirButtonIdsAndColumn) {
    CAdminNoDlg admin(*engine_, devices_);
    CLrmNoDlg authorize(*engine_, devices_);
    CBackNoDlg backup(*engine_, devices_);
    const struct {
        CNumberListPage* page;
        const char* column;
        int add, remove, reset;
    } pages[] = {{&admin, "管理号码", 1002, 1004, 1005},
                 {&authorize, "授权号码", 1011, 1012, 1013},
                 {&backup, "备份号码", 1012, 1013, 1005}};
    for (const auto& p : pages) {
        const auto button = [&](int id) {
            auto* b = p.page->findChild<QPushButton*>(QStringLiteral("button%1").arg(id));
            return b ? b->text() : QString();
        };
        EXPECT_EQ(button(p.add), QStringLiteral("添加")) << p.column;
        EXPECT_EQ(button(p.remove), QStringLiteral("删除")) << p.column;
        EXPECT_EQ(button(p.reset), QStringLiteral("重置")) << p.column;
        CReportCtrl* list = p.page->List();
        EXPECT_TRUE(list->CheckBoxes() && list->GridLines());
        ASSERT_EQ(list->columnCount(), 1);
        EXPECT_EQ(list->headerItem()->text(0), QString::fromUtf8(p.column));
        EXPECT_EQ(list->columnWidth(0), 180);
    }
}

}  // namespace
}  // namespace pelmora::testing
