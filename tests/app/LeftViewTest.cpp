#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CommandTexts.h"
#include "EngineUi.h"
#include "GbkCodec.h"
#include "LeftView.h"
#include "LogEvents.h"
#include "LogModel.h"

namespace pelmora {
namespace {

struct Row {
    bool checked;
    std::string id;
    std::string online;  // GBK
};

class FakeDevices final : public IDeviceList {
  public:
    std::vector<Row> rows;
    int RowCount() const override { return static_cast<int>(rows.size()); }
    bool IsChecked(int row) const override { return rows.at(row).checked; }
    std::string IdText(int row) const override { return rows.at(row).id; }
    std::string OnlineText(int row) const override { return rows.at(row).online; }
    int FindRow(const std::string&) const override { return -1; }
    void SetPowerText(int, const std::string&) override {}
};

struct Sent {
    std::uint32_t id;
    std::string bytes;
};

QString FromGbk(const std::string& gbk) {
    return QString::fromStdString(GbkToUtf8Lossy(gbk));
}

const std::string kOnlineGbk = Utf8ToGbk("在线").value();
const std::string kOfflineGbk = Utf8ToGbk("离线").value();

class LeftViewTest : public ::testing::Test {
  protected:
    LeftViewTest()
        : view_(devices_,
                LinkApi{[this](std::uint32_t id, std::uint16_t length, const std::uint8_t* data) {
                    sent_.push_back({id, std::string(reinterpret_cast<const char*>(data), length)});
                    return 1;
                }}) {
        view_.Audit().SetDirectory(dir_.path());
        view_.SetConfirm([this](const QString& text, const QString& caption) {
            questions_.push_back(caption + u'|' + text);
            return answer_;
        });
        QObject::connect(&view_, &CLeftView::PageRequested,
                         [this](CLeftView::Page page) { pages_.push_back(page); });
    }

    void Click(const char* name) {
        auto* button = view_.findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr);
        button->click();
    }

    QTemporaryDir dir_;
    FakeDevices devices_;
    std::vector<Sent> sent_;
    CLeftView view_;
    std::vector<QString> questions_;
    bool answer_ = true;
    std::vector<CLeftView::Page> pages_;
};

// --- the log ---

TEST_F(LeftViewTest, LinesAreJoinedByBreaks) {
    view_.AppendLog(QStringLiteral("a"));
    EXPECT_EQ(view_.LogText(), QStringLiteral("a"));
    view_.AppendLog(QStringLiteral("b\r\n"));
    view_.AppendLog(QStringLiteral("c"));
    EXPECT_EQ(view_.LogText(), QStringLiteral("a\r\nb\r\n\r\nc"));
    view_.ClearLog();
    EXPECT_EQ(view_.LogText(), QString());
    view_.AppendLog(QStringLiteral("d"));
    EXPECT_EQ(view_.LogText(), QStringLiteral("d"));
}

TEST_F(LeftViewTest, KeepsTheNewestWholeLinesUpToTheRowBound) {
    LogModel& table = view_.LogTable();
    std::vector<std::pair<int, int>> removed;
    int inserts = 0;
    QObject::connect(
        &table, &QAbstractItemModel::rowsAboutToBeRemoved,
        [&](const QModelIndex&, int first, int last) { removed.emplace_back(first, last); });
    QObject::connect(&table, &QAbstractItemModel::rowsAboutToBeInserted, [&] { ++inserts; });

    QStringList lines;
    for (int i = 0; i < LogModel::kMaxRows - 1; ++i) lines << QString::number(i);
    view_.AppendLogLines(lines);
    // Longer than the 30,000 characters the pane once held, with a break of
    // its own: one row, kept whole.
    const QString longLine = QString(40000, u'x') + QStringLiteral("\r\n");
    view_.AppendLog(longLine);
    EXPECT_EQ(table.rowCount(), LogModel::kMaxRows);
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(inserts, 2);  // one for each batch

    // Past the bound the oldest rows go, in one block, before the batch.
    view_.AppendLogLines({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    EXPECT_EQ(removed, (std::vector<std::pair<int, int>>{{0, 2}}));
    EXPECT_EQ(inserts, 3);
    EXPECT_EQ(table.rowCount(), LogModel::kMaxRows);
    EXPECT_EQ(table.Line(0), QStringLiteral("3"));
    EXPECT_EQ(table.Line(LogModel::kMaxRows - 4), longLine);
    const QString text = view_.LogText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("3\r\n4\r\n5\r\n")));
    EXPECT_TRUE(text.endsWith(longLine + QStringLiteral("\r\na\r\nb\r\nc")));
}

TEST_F(LeftViewTest, PostedLinesArriveInOrderFromAnyThread) {
    std::thread worker([this] {
        for (int i = 0; i < 100; ++i) {
            PostLogLine(&view_, Utf8ToGbk("第" + std::to_string(i) + "行").value());
        }
    });
    worker.join();
    // An event of the log's number without a line is dropped.
    QCoreApplication::postEvent(&view_, new QEvent(kLogLineEvent));
    QCoreApplication::sendPostedEvents(&view_, kLogLineEvent);

    QStringList expected;
    for (int i = 0; i < 100; ++i) expected << QStringLiteral("第%1行").arg(i);
    EXPECT_EQ(view_.LogText(), expected.join(QStringLiteral("\r\n")));
}

TEST_F(LeftViewTest, AuditFileKeepsWhatTheLogForgets) {
    const QString line(1000, u'q');
    for (int i = 0; i < 40; ++i) view_.AppendLog(line);
    view_.ClearLog();
    EXPECT_EQ(view_.LogText(), QString());
    EXPECT_EQ(view_.LogTable().rowCount(), 0);

    QFile file(view_.Audit().FilePathFor(QDate::currentDate()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 40);
    EXPECT_TRUE(lines.last().endsWith(u' ' + line));
}

TEST_F(LeftViewTest, AuditFailureShowsOnceAndTheLogGoesOn) {
    QFile blocker(dir_.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    view_.Audit().SetDirectory(blocker.fileName());
    view_.AppendLog(QStringLiteral("one"));
    view_.AppendLog(QStringLiteral("two"));
    const QStringList lines = view_.LogText().split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("one"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("日志文件写入失败: ")));
    EXPECT_EQ(lines[2], QStringLiteral("two"));
}

// --- the selected device ---

TEST_F(LeftViewTest, NoCheckedRowAsksForADevice) {
    devices_.rows = {{false, "0001e240", kOnlineGbk}};
    Click("dataSendButton");
    EXPECT_EQ(view_.LogText(), FromGbk(text::kNoDeviceChosen));
    EXPECT_TRUE(pages_.empty());
}

TEST_F(LeftViewTest, SeveralCheckedRowsWarnAndPass) {
    devices_.rows = {{true, "0001e240", kOnlineGbk},
                     {false, "bad", kOfflineGbk},
                     {true, "0000abcd", kOnlineGbk}};
    Click("dataSendButton");
    Click("controlButton");
    const QString warning =
        QStringLiteral("提示:仅对所选择的第一个设备进行操作，不能同时操作多台设备");
    EXPECT_EQ(view_.LogText(), warning + QStringLiteral("\r\n") + warning);
    EXPECT_EQ(pages_, (std::vector{CLeftView::Page::DataSend, CLeftView::Page::Control}));
}

TEST_F(LeftViewTest, AnyCheckedRowOfflineBlocksEveryButton) {
    devices_.rows = {{true, "0001e240", kOnlineGbk}, {true, "0000abcd", kOfflineGbk}};
    Click("dataSendButton");
    Click("controlButton");
    Click("configButton");
    const QString offline = FromGbk(WithText(text::kDeviceOffline, "0000abcd"));
    EXPECT_EQ(view_.LogText(), QStringList(3, offline).join(QStringLiteral("\r\n")));
    EXPECT_TRUE(pages_.empty());
    EXPECT_TRUE(questions_.empty());
    EXPECT_TRUE(sent_.empty());
}

TEST_F(LeftViewTest, BadIdStopsTheCheckAtThatRow) {
    devices_.rows = {{true, "0001e24", kOnlineGbk}, {true, "0000abcd", kOfflineGbk}};
    Click("controlButton");
    EXPECT_EQ(view_.LogText(), FromGbk(WithText(text::kBadDeviceId, "0001e24")));
    EXPECT_TRUE(pages_.empty());
}

// --- the commit ---

TEST_F(LeftViewTest, CommitSendsTheCommandToTheOneCheckedDevice) {
    devices_.rows = {{false, "00000001", kOnlineGbk}, {true, "0001E240", kOnlineGbk}};
    Click("configButton");
    EXPECT_EQ(questions_, std::vector<QString>{QStringLiteral(
                              "YES|远程配置参数后，系统将重启以加载新的参数，确认远程配置吗?")});
    EXPECT_EQ(pages_, std::vector{CLeftView::Page::Configuration});
    ASSERT_EQ(sent_.size(), 1u);
    EXPECT_EQ(sent_[0].id, 123456u);
    EXPECT_EQ(sent_[0].bytes, "***COMMIT CONFIG***");
    EXPECT_EQ(view_.LogText(), QString());
}

TEST_F(LeftViewTest, DeclinedCommitDoesNothing) {
    devices_.rows = {{true, "0001e240", kOnlineGbk}};
    answer_ = false;
    Click("configButton");
    EXPECT_EQ(questions_.size(), 1u);
    EXPECT_TRUE(pages_.empty());
    EXPECT_TRUE(sent_.empty());
}

TEST_F(LeftViewTest, CommitWithTwoCheckedRowsShowsThePageButSendsNothing) {
    devices_.rows = {{true, "0001e240", kOnlineGbk}, {true, "0000abcd", kOnlineGbk}};
    Click("configButton");
    EXPECT_EQ(questions_.size(), 1u);
    EXPECT_EQ(pages_, std::vector{CLeftView::Page::Configuration});
    EXPECT_TRUE(view_.LogText().endsWith(QStringLiteral("\r\n请选择一台设备进行配置")));
    EXPECT_TRUE(sent_.empty());
}

}  // namespace
}  // namespace pelmora
