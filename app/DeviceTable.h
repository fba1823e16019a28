// The device list's table: its rows as plain records in a model, in the
// order they were added, a proxy that sorts them as the header was last
// clicked, a proxy over that one that leaves out the rows the bar's filter
// hides, and the view of what is left.
//
// Rows the view's owner addresses ("list rows") are rows of the sorted
// order, hidden ones included: after a sort, row 0 is the row at the top.
// The model's own rows ("source rows") never move but when a row before
// them leaves. Every call takes any index and answers out-of-range ones with
// an empty or false result. Window thread only.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <QTreeView>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "ReportSortKey.h"

namespace pelmora {

class CReportHeaderCtrl;

// The rows. Changes are told to the views as they are made, or, between
// BeginChanges and EndChanges, once at the end: one notice spanning the
// changed rows and columns left of the sort column, one for the sort
// column and one for those right of it (so that a changed update time does
// not make the proxy look at the order of another column), and, when many
// rows' filter states changed, one notice that all may have.
class DeviceTableModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kColumns = 10;
    // Whether the row passes the bar's filter (bool); the filter proxy
    // reads it again for the rows a change notice spans.
    static constexpr int kShownRole = Qt::UserRole + 1;
    // More rows than this changing their filter state in one batch are told
    // as one change of all: the proxy then filters every row once instead
    // of moving each row on its own.
    static constexpr int kShownChangesToldOneByOne = 32;

    struct Row {
        std::uint32_t deviceId = 0;
        std::array<QString, kColumns> texts;
        bool checked = false;
        bool shown = true;
        // The model's: the cell last compared, kept until its text changes.
        mutable ReportSortKey key;
        mutable int keyColumn = -1;
    };
    // Rows are made one by one (for a large registry, over several passes
    // of the event loop) and then only their pointers move: a list of
    // 100,000 rows copied at once would stall the window on fresh memory.
    using RowPtr = std::unique_ptr<Row>;

    explicit DeviceTableModel(std::array<QString, kColumns> titles, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int Rows() const { return static_cast<int>(rows_.size()); }
    // The row itself; `row` must be a source row.
    const Row& At(int row) const { return *rows_[static_cast<std::size_t>(row)]; }
    const QString& Text(int row, int column) const;
    // Returns whether the text changed.
    bool SetText(int row, int column, const QString& text);
    bool IsChecked(int row) const { return Valid(row) && At(row).checked; }
    bool SetChecked(int row, bool checked);
    bool IsShown(int row) const { return Valid(row) && At(row).shown; }
    void SetShown(int row, bool shown);
    // Every row's filter state anew, told as one change when any changed.
    void SetAllShown(const std::function<bool(const Row&)>& matches);
    int CheckedCount() const { return checked_; }
    int HiddenCount() const { return hidden_; }

    // Appends the rows in one insertion; returns the first one's row.
    int Append(std::vector<RowPtr> rows);
    bool Remove(int row);
    void Clear();

    void BeginChanges();
    void EndChanges();
    // The column the rows are sorted by, -1 for none: changes to it are
    // told apart from the others'.
    void SetSortColumn(int column) { sortColumn_ = column; }

    // The byte form of byte-wise comparisons; see ReportSortKey.
    void SetByteForm(ReportSortKey::ByteForm form);
    // The cell prepared for comparing, kept until its text changes or
    // another column is compared.
    const ReportSortKey& SortKey(int row, int column) const;

  signals:
    // A tick changed outside a batch: by the operator's click, or by a
    // caller ticking one row.
    void CheckToggled();
    // Many rows' filter states changed at once: the filter proxy is to
    // filter every row again.
    void ShownReset();

  private:
    // Changed cells of a batch: the rows of each column, and the roles.
    struct Span {
        int first = -1;
        int last = -1;
        void Add(int row) {
            first = first < 0 ? row : std::min(first, row);
            last = std::max(last, row);
        }
        void Add(const Span& other) {
            if (other.first < 0) return;
            Add(other.first);
            Add(other.last);
        }
    };

    bool Valid(int row) const { return row >= 0 && row < Rows(); }
    void Changed(int row, int column, int role);
    void Tell();
    Row& Mutable(int row) { return *rows_[static_cast<std::size_t>(row)]; }

    std::array<QString, kColumns> titles_;
    std::vector<RowPtr> rows_;
    ReportSortKey::ByteForm byteForm_;
    int checked_ = 0;
    int hidden_ = 0;
    int sortColumn_ = -1;
    int batchDepth_ = 0;
    std::array<Span, kColumns> changed_;
    std::array<bool, 3> changedRoles_{};  // display, check state, shown
    int shownChanges_ = 0;
    bool shownReset_ = false;
};

// Sorts with the report lists' comparison; stable, so equal rows keep the
// order they had before the click.
class DeviceSortProxy final : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    explicit DeviceSortProxy(DeviceTableModel* rows, QObject* parent = nullptr);

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
    bool filterAcceptsRow(int, const QModelIndex&) const override { return true; }

  private:
    const DeviceTableModel* rows_;
};

// Leaves out the rows whose kShownRole is false.
class DeviceFilterProxy final : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    explicit DeviceFilterProxy(QObject* parent = nullptr);

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
};

// The view, with check boxes in column 0, grid lines and a header whose
// clicks sort the rows. It owns the model and both proxies.
class CDeviceTable final : public QTreeView {
    Q_OBJECT
  public:
    // One (title, width) per column of the model.
    CDeviceTable(const std::array<std::pair<QString, int>, DeviceTableModel::kColumns>& columns,
                 QWidget* parent = nullptr);

    DeviceTableModel* Rows() const { return rows_; }

    // List rows, in the sorted order, hidden ones included.
    int RowCount() const { return rows_->Rows(); }
    // The source row of a list row, and back; -1 out of range.
    int SourceRow(int row) const;
    int ListRow(int sourceRow) const;
    // The list row under a point of the viewport; -1 off the rows.
    int RowAt(const QPoint& point) const;
    QString Text(int row, int column) const;
    bool IsChecked(int row) const;
    bool SetChecked(int row, bool checked);

    // What a click on the column's header does: the same column again turns
    // the direction round, another column starts ascending; an invalid column
    // sorts nothing. Stable. Rows stay sorted as their texts change.
    void SortByColumn(int column);
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return sortAscending_; }
    CReportHeaderCtrl* ReportHeader() const { return header_; }

    void SetGridLines(bool on);
    bool GridLines() const { return gridLines_; }

  protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

  private:
    DeviceTableModel* rows_;
    DeviceSortProxy* sorted_;
    DeviceFilterProxy* shown_;
    CReportHeaderCtrl* header_;
    int sortColumn_ = -1;
    bool sortAscending_ = true;
    bool gridLines_ = false;
};

// Tells the model's changes once, when it goes.
class DeviceTableChanges final {
  public:
    explicit DeviceTableChanges(DeviceTableModel& rows) : rows_(rows) { rows_.BeginChanges(); }
    ~DeviceTableChanges() { rows_.EndChanges(); }
    DeviceTableChanges(const DeviceTableChanges&) = delete;
    DeviceTableChanges& operator=(const DeviceTableChanges&) = delete;

  private:
    DeviceTableModel& rows_;
};

}  // namespace pelmora
