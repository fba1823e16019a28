// The log table: its columns, the filter by text and kind, following the
// newest row, copying lines, and its dock in the main window.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QTableView>
#include <QtTest/QTest>

#include "LogModel.h"
#include "LogView.h"
#include "WindowFixture.h"

namespace pelmora {
namespace {

QStringList Column(const QAbstractItemModel& model, int column) {
    QStringList cells;
    for (int row = 0; row < model.rowCount(); ++row)
        cells << model.index(row, column).data().toString();
    return cells;
}

class LogViewTest : public ::testing::Test {
  protected:
    LogViewTest() : view_(model_) {
        model_.SetClock([] { return QDateTime(QDate(2026, 3, 1), QTime(8, 5, 9)); });
    }

    LogModel model_;
    LogView view_;
};

TEST_F(LogViewTest, ColumnsShowTimeTerminalKindAndTheLineOnOneRow) {
    model_.AppendLines({QStringLiteral("服务启动,侦听端口为5001\r\n"),
                        QStringLiteral("0001E240:OK\r\n"),
                        QStringLiteral("群发播放MP3: 设备00000100 拒绝")});
    const QAbstractItemModel& shown = *view_.Table()->model();
    ASSERT_EQ(shown.rowCount(), 3);
    QStringList headers;
    for (int c = 0; c < shown.columnCount(); ++c)
        headers << shown.headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, QStringList({"时间", "终端", "类别", "内容"}));
    EXPECT_EQ(Column(shown, 0), QStringList(3, QStringLiteral("08:05:09")));
    EXPECT_EQ(Column(shown, 1), QStringList({"", "0001e240", "00000100"}));
    EXPECT_EQ(Column(shown, 2), QStringList({"系统", "终端消息", "结果"}));
    EXPECT_EQ(Column(shown, 3), QStringList({"服务启动,侦听端口为5001", "0001E240:OK",
                                             "群发播放MP3: 设备00000100 拒绝"}));
    // The line itself stays exactly as written.
    EXPECT_EQ(shown.index(1, 3).data(LogModel::kLineRole).toString(),
              QStringLiteral("0001E240:OK\r\n"));
}

TEST_F(LogViewTest, FilterByTextInAnyCaseAndByKind) {
    model_.AppendLines({
        QStringLiteral("设置播放内容,清等待..."),           // 操作
        QStringLiteral("0001e240:OK"),                      // 终端消息
        QStringLiteral("群发播放内容: 设备0001E240 成功"),  // 结果
        QStringLiteral("群发播放内容: 设备00000101 超时"),  // 结果
        QStringLiteral("AT+LRMGPRSPRIO=10\r"),              // 操作
        QStringLiteral("停止数据中心服务成功!"),            // 系统
    });
    const QAbstractItemModel& shown = *view_.Table()->model();
    ASSERT_EQ(shown.rowCount(), 6);

    view_.FilterBox()->setText(QStringLiteral("0001e240"));
    EXPECT_EQ(Column(shown, 3), QStringList({"0001e240:OK", "群发播放内容: 设备0001E240 成功"}));
    view_.FilterBox()->setText(QStringLiteral("at+lrm"));
    EXPECT_EQ(Column(shown, 3), QStringList({"AT+LRMGPRSPRIO=10"}));

    view_.FilterBox()->clear();
    view_.KindBox(LogKind::Outcome)->setChecked(false);
    view_.KindBox(LogKind::System)->setChecked(false);
    EXPECT_EQ(Column(shown, 2), QStringList({"操作", "终端消息", "操作"}));
    view_.FilterBox()->setText(QStringLiteral("设备"));
    EXPECT_EQ(shown.rowCount(), 0);
    view_.KindBox(LogKind::Outcome)->setChecked(true);
    EXPECT_EQ(Column(shown, 1), QStringList({"0001e240", "00000101"}));

    view_.FilterBox()->clear();
    view_.KindBox(LogKind::System)->setChecked(true);
    EXPECT_EQ(shown.rowCount(), 6);
    for (int k = 0; k < kLogKinds; ++k) {
        QCheckBox* box = view_.KindBox(static_cast<LogKind>(k));
        EXPECT_TRUE(box->isCheckable());
        EXPECT_EQ(box->text(), QStringList({"操作", "结果", "终端消息", "系统"})[k]);
    }
    EXPECT_EQ(view_.FilterBox()->placeholderText(), QStringLiteral("筛选日志"));
}

TEST_F(LogViewTest, AFilterOverTheWholeBoundAnswersQuickly) {
    QStringList lines;
    for (int i = 0; i < LogModel::kMaxRows; ++i) {
        const QString id = QStringLiteral("%1").arg(i, 8, 16, QChar(u'0'));
        lines << (i % 3 == 0 ? QStringLiteral("群发播放内容: 设备%1 成功").arg(id)
                             : id + QStringLiteral(":OK"));
    }
    model_.AppendLines(lines);
    const QString needle = QStringLiteral("0001A");
    int matching = 0;
    int matchingOutcomes = 0;
    for (int i = 0; i < LogModel::kMaxRows; ++i) {
        if (!lines[i].contains(needle, Qt::CaseInsensitive)) continue;
        ++matching;
        if (i % 3 == 0) ++matchingOutcomes;
    }
    ASSERT_GT(matchingOutcomes, 0);
    ASSERT_LT(matchingOutcomes, matching);

    QElapsedTimer clock;
    clock.start();
    view_.FilterBox()->setText(needle);
    EXPECT_EQ(view_.Table()->model()->rowCount(), matching);
    view_.KindBox(LogKind::TerminalMessage)->setChecked(false);
    EXPECT_EQ(view_.Table()->model()->rowCount(), matchingOutcomes);
    view_.FilterBox()->clear();
    view_.KindBox(LogKind::TerminalMessage)->setChecked(true);
    EXPECT_EQ(view_.Table()->model()->rowCount(), LogModel::kMaxRows);
    // Four changes; a debug build on a slow machine, so the bound is loose
    // (bench_log_table measures the release build).
    EXPECT_LT(clock.elapsed(), 4000);
}

TEST_F(LogViewTest, FollowsTheNewestRowUntilScrolledUpThenStaysPut) {
    view_.resize(800, 300);
    view_.show();
    QScrollBar* bar = view_.Table()->verticalScrollBar();
    QStringList lines;
    for (int i = 0; i < 200; ++i) lines << QString::number(i);
    model_.AppendLines(lines);
    model_.Append(QStringLiteral("last"));
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(view_.Following());

    bar->setValue(10);
    model_.Append(QStringLiteral("later"));
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->value(), 10);
    EXPECT_FALSE(view_.Following());

    // At the bound the oldest rows go; the rows in view stay in view.
    lines.clear();
    for (int i = model_.rowCount(); i < LogModel::kMaxRows; ++i) lines << QString::number(i);
    model_.AppendLines(lines);
    QCoreApplication::processEvents();  // laid out, as before the operator scrolls
    bar->setValue(5000);
    const QString top = view_.Table()->model()->index(5000, 3).data().toString();
    model_.AppendLines({QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")});
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->value(), 4997);
    EXPECT_EQ(view_.Table()->model()->index(bar->value(), 3).data().toString(), top);

    // Back at the bottom it follows again.
    view_.Table()->scrollToBottom();
    model_.Append(QStringLiteral("newest"));
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->value(), bar->maximum());
    const QModelIndex last = view_.Table()->model()->index(LogModel::kMaxRows - 1, 3);
    EXPECT_EQ(last.data().toString(), QStringLiteral("newest"));
    EXPECT_TRUE(view_.Table()->viewport()->rect().intersects(view_.Table()->visualRect(last)));
}

TEST_F(LogViewTest, CtrlCCopiesTheSelectedRowsExactLines) {
    model_.AppendLines({QStringLiteral("one"), QStringLiteral("two\r\n"), QStringLiteral("three"),
                        QStringLiteral("0001e240:OK\r\n")});
    view_.show();
    QApplication::setActiveWindow(&view_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view_));
    QTableView* table = view_.Table();
    table->setFocus();
    QItemSelectionModel* selection = table->selectionModel();
    const auto rows = QItemSelectionModel::Select | QItemSelectionModel::Rows;
    selection->select(table->model()->index(3, 0), rows);
    selection->select(table->model()->index(1, 0), rows);
    QApplication::clipboard()->clear();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("two\r\n\r\n0001e240:OK\r\n"));
}

TEST_F(LogViewTest, TheTextColumnHoldsAGroupOutcomeLineAndFillsTheRoom) {
    QHeaderView* header = view_.Table()->horizontalHeader();
    const int needed = view_.Table()->fontMetrics().horizontalAdvance(LogView::WidestOutcomeLine());
    view_.resize(400, 200);
    view_.show();
    QCoreApplication::processEvents();
    EXPECT_GE(header->sectionSize(LogModel::kTextColumn), needed);
    EXPECT_FALSE(view_.Table()->wordWrap());

    view_.resize(needed * 3, 200);
    QCoreApplication::processEvents();
    int others = 0;
    for (int c = 0; c < LogModel::kTextColumn; ++c) others += header->sectionSize(c);
    EXPECT_EQ(others + header->sectionSize(LogModel::kTextColumn),
              view_.Table()->viewport()->width());
}

class LogDockTest : public testing::WindowTest {};

TEST_F(LogDockTest, TheLogIsADockAcrossTheBottomOfTheWindow) {
    auto* dock = frame_->findChild<QDockWidget*>(QStringLiteral("logDock"));
    ASSERT_NE(dock, nullptr);
    EXPECT_EQ(dock->windowTitle(), QStringLiteral("日志"));
    EXPECT_EQ(frame_->dockWidgetArea(dock), Qt::BottomDockWidgetArea);
    EXPECT_EQ(frame_->corner(Qt::BottomLeftCorner), Qt::BottomDockWidgetArea);
    EXPECT_EQ(frame_->corner(Qt::BottomRightCorner), Qt::BottomDockWidgetArea);
    // The left pane keeps its buttons, and no log.
    EXPECT_EQ(frame_->LeftView()->findChild<QAbstractItemView*>(), nullptr);

    // Its toggle is in "视图".
    QMenu* viewMenu = nullptr;
    for (QAction* entry : frame_->menuBar()->actions()) {
        if (entry->menu() != nullptr && entry->text().startsWith(QStringLiteral("视图")))
            viewMenu = entry->menu();
    }
    ASSERT_NE(viewMenu, nullptr);
    EXPECT_TRUE(viewMenu->actions().contains(dock->toggleViewAction()));

    frame_->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dock->isVisible());
    EXPECT_GE(dock->width(), frame_->width() - 10);
    EXPECT_GT(dock->geometry().top(), frame_->LeftView()->mapTo(frame_.get(), QPoint()).y());

    // What the window logs shows there.
    frame_->StartService();
    ASSERT_TRUE(Log().contains(QStringLiteral("服务启动")));
    auto* view = dock->findChild<LogView*>();
    ASSERT_NE(view, nullptr);
    const QAbstractItemModel& shown = *view->Table()->model();
    ASSERT_GT(shown.rowCount(), 0);
    EXPECT_TRUE(shown.index(shown.rowCount() - 1, 3)
                    .data()
                    .toString()
                    .startsWith(QStringLiteral("服务启动")));
    frame_->ClearLog();
    EXPECT_EQ(shown.rowCount(), 0);
}

}  // namespace
}  // namespace pelmora
