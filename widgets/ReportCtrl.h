// The sortable report list of the device list and the number pages: rows of
// column texts, optional check boxes in column 0, optional grid lines and a
// header whose clicks sort the rows.
//
// Rows are addressed by their index in list order; every call takes any index
// and answers out-of-range ones with an empty or false result. Each row keeps
// a copy of its column texts (its row data), and sorting reads that copy, so a
// caller that changes a cell through the base class's item calls refreshes it
// with UpdateRowData. Interface thread only.
#pragma once

#include <QHeaderView>
#include <QStringList>
#include <QTreeWidget>
#include <QVariant>

#include <functional>

#include "ReportSortKey.h"

namespace pelmora {

// Draws the sort column's section with a small raised triangle pointing up
// (ascending) or down (descending); the other sections are drawn as usual.
class CReportHeaderCtrl final : public QHeaderView {
    Q_OBJECT
  public:
    explicit CReportHeaderCtrl(QWidget* parent = nullptr);

    // -1 draws no triangle.
    void SetSortState(int column, bool ascending);
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return sortAscending_; }

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

  private:
    void DrawSortTriangle(QPainter* painter, const QRect& area) const;

    int sortColumn_ = -1;
    bool sortAscending_ = true;
};

// Rows of a report list made ahead of being appended: making many can be
// spread over several passes of the event loop, while the tree lays its rows
// out once, when they all join it. Rows never appended go with the batch.
class CReportRowBatch final {
  public:
    CReportRowBatch() = default;
    CReportRowBatch(const CReportRowBatch&) = delete;
    CReportRowBatch& operator=(const CReportRowBatch&) = delete;
    ~CReportRowBatch() { Clear(); }

    qsizetype Size() const { return rows_.size(); }
    void Clear() {
        qDeleteAll(rows_);
        rows_.clear();
    }

  private:
    friend class CReportCtrl;
    QList<QTreeWidgetItem*> rows_;
};

class CReportCtrl final : public QTreeWidget {
    Q_OBJECT
  public:
    // Turns a cell text into the bytes that byte-wise comparisons use. UTF-8
    // by default; the program passes its 8-bit code page so that texts sort
    // in the order the system's own strings have.
    using ByteForm = ReportSortKey::ByteForm;

    explicit CReportCtrl(QWidget* parent = nullptr);

    // Appends a left-aligned column; returns its index.
    int AddColumn(const QString& title, int width);

    // Existing rows gain a cleared box, or lose theirs with its state.
    void SetCheckBoxes(bool on);
    bool CheckBoxes() const { return checkBoxes_; }
    void SetGridLines(bool on);
    bool GridLines() const { return gridLines_; }

    // Inserts a row before `index` (an index past the end appends) with one
    // text per column, missing ones empty, surplus ones dropped. Returns the
    // row's index, or -1 for a negative index.
    int InsertRow(int index, const QStringList& texts);
    // Adds a row to the batch, with its texts as InsertRow takes them and
    // its item data.
    void AddToBatch(CReportRowBatch& batch, QStringList texts, const QVariant& itemData) const;
    // Appends the batch's rows that `keep` accepts by their item data (the
    // others are deleted) in one insertion, and empties the batch. Returns
    // the first new row's index.
    int AppendBatch(CReportRowBatch& batch, const std::function<bool(const QVariant&)>& keep = {});
    // Re-reads the row's cell texts into its row data.
    bool UpdateRowData(int row);
    bool DeleteRow(int row);
    // Returns the number of rows there were.
    int DeleteAllRows();

    int RowCount() const;
    QString Text(int row, int column) const;
    // Sets the cell and the row data alike.
    bool SetText(int row, int column, const QString& text);
    QStringList RowData(int row) const;
    // Without check boxes every row reads unchecked and cannot be checked.
    bool IsChecked(int row) const;
    bool SetChecked(int row, bool checked);
    // One value of the caller's per row; it moves with its row when sorting.
    bool SetItemData(int row, const QVariant& data);
    QVariant ItemData(int row) const;

    // What a click on the column's header does: the same column again turns
    // the direction round, another column starts ascending; an invalid column
    // sorts nothing. Stable: equal rows keep their order.
    void SortByColumn(int column);
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return sortAscending_; }
    CReportHeaderCtrl* ReportHeader() const { return header_; }

    void SetByteForm(ByteForm form);

    // Lays the rows out once, at the next pass of the event loop, instead of
    // placing each changed row as it changes. For a caller about to change
    // many rows while some are hidden: the tree looks for a changed hidden
    // row among all shown ones, so without this a refresh of thousands of
    // rows grows with the square of their number.
    void DeferLayout();

  protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

  private:
    class Row;

    // A row with one text per column, not yet in the tree.
    Row* MakeRow(QStringList texts) const;
    // Null when out of range, or when the row was added through the base
    // class and so has no row data.
    Row* RowAt(int row) const;
    void ForgetSortKeys();

    CReportHeaderCtrl* header_;
    int sortColumn_ = -1;
    bool sortAscending_ = true;
    bool checkBoxes_ = false;
    bool gridLines_ = false;
    ByteForm byteForm_;
};

}  // namespace pelmora
