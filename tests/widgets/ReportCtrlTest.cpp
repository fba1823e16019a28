// The report list: its rows and row data, the sort order of header clicks,
// and what travels with a row when it moves.
#include "ReportCtrl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>

namespace pelmora {
namespace {

class ReportCtrlTest : public ::testing::Test {
  protected:
    // One column per title, rows given as their texts.
    void Build(const QStringList& titles, const QList<QStringList>& rows) {
        for (const QString& title : titles) list_.AddColumn(title, 120);
        for (const QStringList& texts : rows) list_.InsertRow(list_.RowCount(), texts);
    }

    QStringList Column(int column) const {
        QStringList texts;
        for (int row = 0; row < list_.RowCount(); ++row) texts.append(list_.Text(row, column));
        return texts;
    }

    void Show() {
        list_.resize(500, 300);
        list_.show();
        QApplication::processEvents();
    }

    // Presses and releases the left button over the middle of the section.
    void ClickHeader(int column) {
        QHeaderView* header = list_.ReportHeader();
        QWidget* viewport = header->viewport();
        const QPoint local(
            header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
            viewport->height() / 2);
        const QPoint global = viewport->mapToGlobal(local);
        QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(viewport, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(viewport, &release);
    }

    QImage HeaderSection(int column) {
        QHeaderView* header = list_.ReportHeader();
        const QImage image = header->grab().toImage();
        return image.copy(header->sectionViewportPosition(column), 0, header->sectionSize(column),
                          image.height());
    }

    CReportCtrl list_;
};

// Rows and their data

TEST_F(ReportCtrlTest, InsertRowKeepsOneTextPerColumnAndClampsTheIndex) {
    Build({"A", "B", "C"}, {});
    EXPECT_EQ(list_.InsertRow(0, {"a"}), 0);
    EXPECT_EQ(list_.RowData(0), QStringList({"a", "", ""}));
    EXPECT_EQ(list_.Text(0, 2), "");

    EXPECT_EQ(list_.InsertRow(9, {"x", "y", "z", "surplus"}), 1);
    EXPECT_EQ(list_.RowData(1), QStringList({"x", "y", "z"}));
    EXPECT_EQ(list_.InsertRow(0, {"first"}), 0);
    EXPECT_EQ(Column(0), QStringList({"first", "a", "x"}));

    EXPECT_EQ(list_.InsertRow(-1, {"never"}), -1);
    EXPECT_EQ(list_.RowCount(), 3);
}

TEST_F(ReportCtrlTest, DeleteRowRefusesRowsThatAreNotThere) {
    Build({"A"}, {{"a"}, {"b"}});
    EXPECT_FALSE(list_.DeleteRow(-1));
    EXPECT_FALSE(list_.DeleteRow(2));
    EXPECT_EQ(list_.RowCount(), 2);
    EXPECT_TRUE(list_.DeleteRow(0));
    EXPECT_EQ(Column(0), QStringList({"b"}));
}

TEST_F(ReportCtrlTest, DeleteAllRowsTellsHowManyThereWere) {
    Build({"A"}, {{"a"}, {"b"}, {"c"}});
    EXPECT_EQ(list_.DeleteAllRows(), 3);
    EXPECT_EQ(list_.RowCount(), 0);
    EXPECT_EQ(list_.DeleteAllRows(), 0);
}

TEST_F(ReportCtrlTest, CellsOutsideTheListReadEmptyAndRefuseWrites) {
    Build({"A", "B"}, {{"a", "b"}});
    list_.SetCheckBoxes(true);
    EXPECT_EQ(list_.Text(1, 0), "");
    EXPECT_EQ(list_.Text(0, -1), "");
    EXPECT_FALSE(list_.SetText(0, 2, "x"));
    EXPECT_FALSE(list_.SetChecked(1, true));
    EXPECT_FALSE(list_.IsChecked(-1));
    EXPECT_FALSE(list_.SetItemData(5, 1));
    EXPECT_FALSE(list_.UpdateRowData(1));
}

TEST_F(ReportCtrlTest, CheckBoxesComeClearedAndGoWithTheirState) {
    Build({"A"}, {{"a"}});
    EXPECT_FALSE(list_.SetChecked(0, true));
    EXPECT_FALSE(list_.IsChecked(0));

    list_.SetCheckBoxes(true);
    EXPECT_FALSE(list_.IsChecked(0));
    EXPECT_TRUE(list_.SetChecked(0, true));
    EXPECT_TRUE(list_.IsChecked(0));
    list_.InsertRow(1, {"b"});
    EXPECT_FALSE(list_.IsChecked(1));
    list_.SetCheckBoxes(true);  // already on: the marks stay
    EXPECT_TRUE(list_.IsChecked(0));

    list_.SetCheckBoxes(false);
    EXPECT_FALSE(list_.IsChecked(0));
    EXPECT_FALSE(list_.topLevelItem(0)->data(0, Qt::CheckStateRole).isValid());
}

TEST_F(ReportCtrlTest, SortingReadsTheRowDataNotTheCells) {
    Build({"A"}, {{"c"}, {"b"}, {"d"}});
    // A cell changed behind the list's back keeps its old row data ...
    list_.topLevelItem(0)->setText(0, "e");
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"b", "e", "d"}));
    // ... until the row data is read again.
    ASSERT_TRUE(list_.UpdateRowData(1));
    EXPECT_EQ(list_.RowData(1), QStringList({"e"}));
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"e", "d", "b"}));

    // SetText keeps both alike.
    ASSERT_TRUE(list_.SetText(2, 0, "z"));
    EXPECT_EQ(list_.RowData(2), QStringList({"z"}));
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"d", "e", "z"}));
}

// Header clicks

TEST_F(ReportCtrlTest, SameHeaderTwiceTurnsTheOrderAndAnotherStartsAscending) {
    Build({"Name", "Value"}, {{"b", "2"}, {"a", "3"}, {"c", "1"}});
    Show();
    EXPECT_EQ(list_.SortColumn(), -1);

    ClickHeader(0);
    EXPECT_EQ(Column(0), QStringList({"a", "b", "c"}));
    EXPECT_EQ(list_.SortColumn(), 0);
    EXPECT_TRUE(list_.SortAscending());

    ClickHeader(0);
    EXPECT_EQ(Column(0), QStringList({"c", "b", "a"}));
    EXPECT_FALSE(list_.SortAscending());
    EXPECT_EQ(list_.ReportHeader()->SortColumn(), 0);
    EXPECT_FALSE(list_.ReportHeader()->SortAscending());

    ClickHeader(1);
    EXPECT_EQ(Column(1), QStringList({"1", "2", "3"}));
    EXPECT_EQ(list_.SortColumn(), 1);
    EXPECT_TRUE(list_.SortAscending());
    EXPECT_EQ(list_.ReportHeader()->SortColumn(), 1);
    EXPECT_TRUE(list_.ReportHeader()->SortAscending());
}

TEST_F(ReportCtrlTest, AnInvalidColumnSortsNothing) {
    Build({"Name"}, {{"b"}, {"a"}, {"c"}});
    list_.SortByColumn(0);
    list_.SetText(0, 0, "z");
    list_.SortByColumn(1);
    list_.SortByColumn(-1);
    EXPECT_EQ(Column(0), QStringList({"z", "b", "c"}));
    EXPECT_EQ(list_.SortColumn(), 0);
    EXPECT_EQ(list_.ReportHeader()->SortColumn(), 0);
}

TEST_F(ReportCtrlTest, TheHeaderDrawsTheDirectionOnTheSortColumnOnly) {
    Build({"Name", "Value"}, {{"a", "1"}});
    Show();
    const QImage plain = HeaderSection(0);
    list_.SortByColumn(0);
    const QImage ascending = HeaderSection(0);
    const QImage otherWhileAscending = HeaderSection(1);
    list_.SortByColumn(0);
    const QImage descending = HeaderSection(0);

    EXPECT_NE(ascending, plain);
    EXPECT_NE(descending, plain);
    EXPECT_NE(ascending, descending);
    EXPECT_EQ(HeaderSection(1), otherWhileAscending);
}

// The comparison of two rows

TEST_F(ReportCtrlTest, WholeNumbersSortByValue) {
    Build({"N"}, {{"9"}, {"10"}, {"-3"}, {" 7 "}, {"+4"}});
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"-3", "+4", " 7 ", "9", "10"}));
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"10", "9", " 7 ", "+4", "-3"}));
}

TEST_F(ReportCtrlTest, AnEmptyCellComparesByteWise) {
    // Read as a number the blank would be 0 and sort after -3.
    Build({"N"}, {{"5"}, {"  "}, {"-3"}});
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"  ", "-3", "5"}));
}

TEST_F(ReportCtrlTest, DateTimesSortChronologicallyAndAgainstOtherTextsByteWise) {
    // "2026-10-zz" is no date: byte-wise it goes before every date here.
    Build({"T"}, {{"2026-12-08 09:05:00"},
                  {"2026-2-1 10:00:00"},
                  {"2026-12-08 9:05:01"},
                  {"2026-10-zz"},
                  {"2025-12-31 23:59:59"},
                  {"2026-12-08"}});
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"2025-12-31 23:59:59", "2026-10-zz", "2026-2-1 10:00:00",
                                      "2026-12-08", "2026-12-08 09:05:00", "2026-12-08 9:05:01"}));
}

TEST_F(ReportCtrlTest, TheByteFormDecidesTheByteWiseOrder) {
    // In the system's code page "离线" goes before "在线"; in UTF-8 after.
    Build({"State"}, {{"离线"}, {"在线"}});
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"在线", "离线"}));

    list_.SetByteForm([](const QString& text) {
        if (text == QStringLiteral("在线")) return QByteArray("\xD4\xDA\xCF\xDF");
        if (text == QStringLiteral("离线")) return QByteArray("\xC0\xEB\xCF\xDF");
        return text.toUtf8();
    });
    list_.SortByColumn(0);  // descending
    EXPECT_EQ(Column(0), QStringList({"在线", "离线"}));
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"离线", "在线"}));
}

// What moves with a row

TEST_F(ReportCtrlTest, EqualRowsKeepTheirOrderBothWays) {
    Build({"Key", "Name"}, {{"1", "first"}, {"1", "second"}, {"0", "zero"}, {"1", "third"}});
    list_.SortByColumn(0);
    EXPECT_EQ(Column(1), QStringList({"zero", "first", "second", "third"}));
    list_.SortByColumn(0);
    EXPECT_EQ(Column(1), QStringList({"first", "second", "third", "zero"}));
}

TEST_F(ReportCtrlTest, CheckMarksItemDataAndSelectionTravelWithTheirRows) {
    Build({"Name"}, {{"b"}, {"c"}, {"a"}});
    list_.SetCheckBoxes(true);
    list_.SetChecked(1, true);
    list_.SetItemData(2, 42);
    list_.setCurrentItem(list_.topLevelItem(0));

    list_.SortByColumn(0);
    ASSERT_EQ(Column(0), QStringList({"a", "b", "c"}));
    EXPECT_FALSE(list_.IsChecked(0));
    EXPECT_FALSE(list_.IsChecked(1));
    EXPECT_TRUE(list_.IsChecked(2));
    EXPECT_EQ(list_.ItemData(0).toInt(), 42);
    EXPECT_FALSE(list_.ItemData(1).isValid());
    EXPECT_EQ(list_.RowData(2), QStringList({"c"}));
    ASSERT_EQ(list_.selectedItems().size(), 1);
    EXPECT_EQ(list_.selectedItems().front()->text(0), "b");
    EXPECT_EQ(list_.currentItem()->text(0), "b");
}

TEST_F(ReportCtrlTest, RowsAddedThroughTheBaseClassSortByTheirCells) {
    Build({"N"}, {{"3"}, {"1"}});
    list_.addTopLevelItem(new QTreeWidgetItem(QStringList{"2"}));
    EXPECT_TRUE(list_.RowData(2).isEmpty());
    list_.SortByColumn(0);
    EXPECT_EQ(Column(0), QStringList({"1", "2", "3"}));
}

}  // namespace
}  // namespace pelmora
