#include "DeviceTable.h"

#include <QPainter>
#include <QStyle>

#include "GridLines.h"
#include "ReportCtrl.h"

namespace pelmora {

namespace {

enum ChangedRole { kDisplay, kCheckState, kShown };

}  // namespace

DeviceTableModel::DeviceTableModel(std::array<QString, kColumns> titles, QObject* parent)
    : QAbstractTableModel(parent), titles_(std::move(titles)) {}

int DeviceTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows();
}

int DeviceTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant DeviceTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !Valid(index.row())) return {};
    const Row& row = At(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return row.texts[static_cast<std::size_t>(index.column())];
        case Qt::CheckStateRole:
            if (index.column() != 0) return {};
            return row.checked ? Qt::Checked : Qt::Unchecked;
        case kShownRole:
            return row.shown;
        default:
            return {};
    }
}

bool DeviceTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0) return false;
    return SetChecked(index.row(), value.toInt() == Qt::Checked);
}

Qt::ItemFlags DeviceTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    // A flat list: the view need not ask each row for children.
    const Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    return index.column() == 0 ? flags | Qt::ItemIsUserCheckable : flags;
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
    if (role != Qt::DisplayRole) return {};  // the header aligns them left
    return titles_[static_cast<std::size_t>(section)];
}

const QString& DeviceTableModel::Text(int row, int column) const {
    static const QString kNone;
    if (!Valid(row) || column < 0 || column >= kColumns) return kNone;
    return At(row).texts[static_cast<std::size_t>(column)];
}

bool DeviceTableModel::SetText(int row, int column, const QString& text) {
    if (!Valid(row) || column < 0 || column >= kColumns) return false;
    Row& changed = Mutable(row);
    QString& cell = changed.texts[static_cast<std::size_t>(column)];
    if (cell == text) return false;
    cell = text;
    if (changed.keyColumn == column) changed.keyColumn = -1;
    Changed(row, column, kDisplay);
    return true;
}

bool DeviceTableModel::SetChecked(int row, bool checked) {
    if (!Valid(row)) return false;
    bool& tick = Mutable(row).checked;
    if (tick == checked) return true;
    tick = checked;
    checked_ += checked ? 1 : -1;
    Changed(row, 0, kCheckState);
    if (batchDepth_ == 0) emit CheckToggled();
    return true;
}

void DeviceTableModel::SetShown(int row, bool shown) {
    if (!Valid(row)) return;
    bool& flag = Mutable(row).shown;
    if (flag == shown) return;
    flag = shown;
    hidden_ += shown ? -1 : 1;
    if (batchDepth_ > 0 && ++shownChanges_ > kShownChangesToldOneByOne) {
        shownReset_ = true;
        return;
    }
    Changed(row, 0, kShown);
}

void DeviceTableModel::SetAllShown(const std::function<bool(const Row&)>& matches) {
    BeginChanges();
    for (int row = 0; row < Rows(); ++row) SetShown(row, matches(At(row)));
    EndChanges();
}

int DeviceTableModel::Append(std::vector<RowPtr> rows) {
    const int first = Rows();
    const auto none = std::remove(rows.begin(), rows.end(), nullptr);
    rows.erase(none, rows.end());
    if (rows.empty()) return first;
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    for (const RowPtr& row : rows) {
        checked_ += row->checked ? 1 : 0;
        hidden_ += row->shown ? 0 : 1;
    }
    if (rows_.empty()) {
        rows_ = std::move(rows);
    } else {
        rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
                     std::make_move_iterator(rows.end()));
    }
    endInsertRows();
    return first;
}

bool DeviceTableModel::Remove(int row) {
    if (!Valid(row)) return false;
    // What the batch changed so far is told while its rows are where they were.
    if (batchDepth_ > 0) Tell();
    beginRemoveRows(QModelIndex(), row, row);
    const Row& gone = At(row);
    checked_ -= gone.checked ? 1 : 0;
    hidden_ -= gone.shown ? 0 : 1;
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
    return true;
}

void DeviceTableModel::Clear() {
    beginResetModel();
    rows_.clear();
    checked_ = 0;
    hidden_ = 0;
    changed_.fill(Span{});
    changedRoles_.fill(false);
    shownChanges_ = 0;
    shownReset_ = false;
    endResetModel();
}

void DeviceTableModel::BeginChanges() {
    ++batchDepth_;
}

void DeviceTableModel::EndChanges() {
    if (batchDepth_ > 0 && --batchDepth_ == 0) Tell();
}

void DeviceTableModel::Changed(int row, int column, int role) {
    if (batchDepth_ > 0) {
        changed_[static_cast<std::size_t>(column)].Add(row);
        changedRoles_[static_cast<std::size_t>(role)] = true;
        return;
    }
    const QModelIndex cell = index(row, column);
    static const QList<int> kRoles[] = {{Qt::DisplayRole}, {Qt::CheckStateRole}, {kShownRole}};
    emit dataChanged(cell, cell, kRoles[role]);
}

void DeviceTableModel::Tell() {
    QList<int> roles;
    if (changedRoles_[kDisplay]) roles.append(Qt::DisplayRole);
    if (changedRoles_[kCheckState]) roles.append(Qt::CheckStateRole);
    if (changedRoles_[kShown]) roles.append(kShownRole);
    // Columns left of the sort column, the sort column, those right of it.
    struct Group {
        Span rows;
        int firstColumn = -1;
        int lastColumn = -1;
    };
    Group groups[3];
    for (int column = 0; column < kColumns; ++column) {
        const Span& rows = changed_[static_cast<std::size_t>(column)];
        if (rows.first < 0) continue;
        Group& group = groups[sortColumn_ < 0 || column < sortColumn_ ? 0
                              : column == sortColumn_                 ? 1
                                                                      : 2];
        group.rows.Add(rows);
        if (group.firstColumn < 0) group.firstColumn = column;
        group.lastColumn = column;
    }
    changed_.fill(Span{});
    changedRoles_.fill(false);
    shownChanges_ = 0;
    const bool reset = std::exchange(shownReset_, false);
    for (const Group& group : groups) {
        if (group.rows.first < 0) continue;
        emit dataChanged(index(group.rows.first, group.firstColumn),
                         index(group.rows.last, group.lastColumn), roles);
    }
    if (reset) emit ShownReset();
}

void DeviceTableModel::SetByteForm(ReportSortKey::ByteForm form) {
    byteForm_ = std::move(form);
    for (const RowPtr& row : rows_) row->keyColumn = -1;
}

const ReportSortKey& DeviceTableModel::SortKey(int row, int column) const {
    static const ReportSortKey kNone;
    if (!Valid(row) || column < 0 || column >= kColumns) return kNone;
    const Row& cached = At(row);
    if (cached.keyColumn != column) {
        cached.key = ReportSortKey(cached.texts[static_cast<std::size_t>(column)], byteForm_);
        cached.keyColumn = column;
    }
    return cached.key;
}

DeviceSortProxy::DeviceSortProxy(DeviceTableModel* rows, QObject* parent)
    : QSortFilterProxyModel(parent), rows_(rows) {
    setSourceModel(rows);
}

bool DeviceSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    return ReportSortKey::Compare(rows_->SortKey(left.row(), left.column()),
                                  rows_->SortKey(right.row(), right.column())) < 0;
}

DeviceFilterProxy::DeviceFilterProxy(QObject* parent) : QSortFilterProxyModel(parent) {
    setFilterRole(DeviceTableModel::kShownRole);
}

bool DeviceFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    return sourceModel()->index(sourceRow, 0, sourceParent).data(filterRole()).toBool();
}

CDeviceTable::CDeviceTable(
    const std::array<std::pair<QString, int>, DeviceTableModel::kColumns>& columns, QWidget* parent)
    : QTreeView(parent), header_(new CReportHeaderCtrl(this)) {
    std::array<QString, DeviceTableModel::kColumns> titles;
    for (std::size_t i = 0; i < columns.size(); ++i) titles[i] = columns[i].first;
    rows_ = new DeviceTableModel(std::move(titles), this);
    sorted_ = new DeviceSortProxy(rows_, this);
    shown_ = new DeviceFilterProxy(this);
    shown_->setSourceModel(sorted_);
    // Many filter states changed at once: every row filtered once, rather
    // than each changed row moved on its own.
    connect(rows_, &DeviceTableModel::ShownReset, shown_, &QSortFilterProxyModel::invalidate);
    setHeader(header_);
    setModel(shown_);
    // Sorting is ours, not the view's; the view only makes its header
    // clickable when it sorts itself.
    header_->setSectionsClickable(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (std::size_t i = 0; i < columns.size(); ++i)
        setColumnWidth(static_cast<int>(i), std::max(columns[i].second, 0));
    connect(header_, &QHeaderView::sectionClicked, this, &CDeviceTable::SortByColumn);
}

int CDeviceTable::SourceRow(int row) const {
    if (row < 0 || row >= RowCount()) return -1;
    return sorted_->mapToSource(sorted_->index(row, 0)).row();
}

int CDeviceTable::ListRow(int sourceRow) const {
    if (sourceRow < 0 || sourceRow >= RowCount()) return -1;
    return sorted_->mapFromSource(rows_->index(sourceRow, 0)).row();
}

int CDeviceTable::RowAt(const QPoint& point) const {
    const QModelIndex index = indexAt(point);
    if (!index.isValid()) return -1;
    return shown_->mapToSource(index).row();
}

QString CDeviceTable::Text(int row, int column) const {
    return rows_->Text(SourceRow(row), column);
}

bool CDeviceTable::IsChecked(int row) const {
    return rows_->IsChecked(SourceRow(row));
}

bool CDeviceTable::SetChecked(int row, bool checked) {
    return rows_->SetChecked(SourceRow(row), checked);
}

void CDeviceTable::SortByColumn(int column) {
    sortAscending_ = column == sortColumn_ ? !sortAscending_ : true;
    if (column < 0 || column >= DeviceTableModel::kColumns) return;
    sortColumn_ = column;
    header_->SetSortState(sortColumn_, sortAscending_);
    rows_->SetSortColumn(sortColumn_);
    sorted_->sort(sortColumn_, sortAscending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CDeviceTable::SetGridLines(bool on) {
    gridLines_ = on;
    viewport()->update();
}

void CDeviceTable::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    QTreeView::drawRow(painter, option, index);
    if (!gridLines_) return;
    DrawRowGridLines(*painter, option, *header_, *this);
}

}  // namespace pelmora
