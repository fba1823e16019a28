#include "ListCtrlEx.h"

#include "MsgHook.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QStyledItemDelegate>

#include <algorithm>
#include <numeric>
#include <utility>

namespace pelmora {

namespace {

constexpr int kRowHeight = 20;
constexpr int kRowItemType = QTableWidgetItem::UserType + 1;
constexpr int kSortAscending = 1;
constexpr int kSortDescending = 2;
constexpr int kSortDirectionBits = 3;
constexpr int kSortFlipBit = 4;
constexpr int kSortKindInteger = 1;
constexpr int kSortKindFloat = 2;

struct CellRecord {
    int column = -1;
    EditorRecord editor;
    QColor background;
    QColor text;
};

struct RowRecord {
    // Identifies the row across inserts, deletes and sorts; never reused, so
    // an edit whose row was deleted cannot land in a newer row.
    quint64 id = 0;
    EditorRecord editor;
    std::vector<CellRecord> cells;
    QColor background;
    QColor text;
    quintptr itemData = 0;
};

struct ColumnRecord {
    int column = -1;
    EditorRecord editor;
    QColor background;
    QColor text;
    int sortFlags = 0;
    int sortKind = 0;
};

// A row's record rides on the row's vertical header item (the header is
// hidden): the table then deletes it with its row and shifts it with inserts
// and removals.
class RowItem final : public QTableWidgetItem {
  public:
    explicit RowItem(quint64 id) : QTableWidgetItem(kRowItemType) { record.id = id; }
    RowRecord record;
};

class CellColours final : public QStyledItemDelegate {
  public:
    explicit CellColours(CListCtrlEx* grid) : QStyledItemDelegate(grid), grid_(grid) {}

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->backgroundBrush = grid_->EffectiveBackground(index.row(), index.column());
        option->palette.setColor(QPalette::Text,
                                 grid_->EffectiveTextColor(index.row(), index.column()));
    }

  private:
    const CListCtrlEx* grid_;
};

QString EditorText(const QWidget* editor) {
    if (const auto* combo = qobject_cast<const QComboBox*>(editor)) return combo->currentText();
    if (const auto* line = qobject_cast<const QLineEdit*>(editor)) return line->text();
    if (const auto* spin = qobject_cast<const QAbstractSpinBox*>(editor)) return spin->text();
    const QMetaProperty user = editor->metaObject()->userProperty();
    return user.isValid() ? user.read(editor).toString() : QString();
}

void SetEditorText(QWidget* editor, const QString& text) {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        // Editable: the edit field; otherwise the matching entry, if any.
        combo->setCurrentText(text);
    } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->setText(text);
    } else if (const QMetaProperty user = editor->metaObject()->userProperty(); user.isValid()) {
        user.write(editor, text);
    }
}

// The number at the start of a text, 0 when there is none, like atoi/atof:
// "12 kg" sorts as 12.
double LeadingNumber(const QString& text, bool integer) {
    static const QRegularExpression intPattern(QStringLiteral("^[+-]?\\d+"));
    static const QRegularExpression floatPattern(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?"));
    const QRegularExpressionMatch match =
        (integer ? intPattern : floatPattern).match(text.trimmed());
    return match.hasMatch() ? QLocale::c().toDouble(match.captured(0)) : 0.0;
}

int CompareCells(const QString& a, const QString& b, int kind) {
    if (kind == kSortKindInteger || kind == kSortKindFloat) {
        const double x = LeadingNumber(a, kind == kSortKindInteger);
        const double y = LeadingNumber(b, kind == kSortKindInteger);
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    return QString::compare(a, b);
}

}  // namespace

struct CListCtrlEx::Impl {
    explicit Impl(CListCtrlEx& grid) : q(grid) {}

    RowRecord* Row(int row) const;
    RowRecord* EnsureRow(int row);
    int RowOf(quint64 id) const;
    ColumnRecord* Column(int column);
    const ColumnRecord* Column(int column) const;
    ColumnRecord* EnsureColumn(int column);
    static const CellRecord* Cell(const RowRecord& row, int column);
    CellRecord* EnsureCell(int row, int column);
    bool InRange(int row, int column) const;
    // The colours of the first level that has any: cell, row, column.
    std::pair<QColor, QColor> LevelColours(int row, int column) const;

    void Borrow(QWidget* editor);
    void ReturnBorrowed();
    bool WalkTab(bool forward);
    void OnHeaderClicked(int column);
    void SortRows(int column, bool ascending, int kind);
    void DeleteSelectedRows();

    CListCtrlEx& q;
    std::vector<ColumnRecord> columns;
    EditorRecord defaultEditor;
    QColor defaultBackground;
    QColor defaultText;
    quint64 nextRowId = 1;

    CMsgHook hook;
    // Set while an edit is being closed: the hide and the focus change it
    // causes come back here and must find nothing to do.
    bool closing = false;
    // The edit in progress: a copy of the chosen record (with the editor an
    // init callback picked), so that owner calls during the edit cannot pull
    // it from under us.
    EditorRecord active;
    QPointer<QWidget> activeEditor;
    quint64 editedRowId = 0;
    int editedColumn = -1;
    int tabRow = -1;
    int tabColumn = -1;

    bool deleteKey = false;
    bool appendOnTab = false;
    int sortColumn = -1;
    // Editors moved into the viewport, with the parent they came from; they
    // go back there when the grid goes, so the grid never deletes them.
    std::vector<std::pair<QPointer<QWidget>, QPointer<QWidget>>> borrowed;
};

RowRecord* CListCtrlEx::Impl::Row(int row) const {
    if (row < 0 || row >= q.rowCount()) return nullptr;
    QTableWidgetItem* item = q.verticalHeaderItem(row);
    return item != nullptr && item->type() == kRowItemType ? &static_cast<RowItem*>(item)->record
                                                           : nullptr;
}

// Rows added through the base class come without a record; they get one
// when first needed.
RowRecord* CListCtrlEx::Impl::EnsureRow(int row) {
    if (row < 0 || row >= q.rowCount()) return nullptr;
    if (RowRecord* record = Row(row)) return record;
    auto* item = new RowItem(nextRowId++);
    q.setVerticalHeaderItem(row, item);
    return &item->record;
}

int CListCtrlEx::Impl::RowOf(quint64 id) const {
    for (int row = 0; row < q.rowCount(); ++row) {
        const RowRecord* record = Row(row);
        if (record != nullptr && record->id == id) return row;
    }
    return -1;
}

ColumnRecord* CListCtrlEx::Impl::Column(int column) {
    for (ColumnRecord& record : columns) {
        if (record.column == column) return &record;
    }
    return nullptr;
}

const ColumnRecord* CListCtrlEx::Impl::Column(int column) const {
    return const_cast<Impl*>(this)->Column(column);
}

ColumnRecord* CListCtrlEx::Impl::EnsureColumn(int column) {
    if (column < 0 || column >= q.columnCount()) return nullptr;
    if (ColumnRecord* record = Column(column)) return record;
    ColumnRecord& record = columns.emplace_back();
    record.column = column;
    return &record;
}

const CellRecord* CListCtrlEx::Impl::Cell(const RowRecord& row, int column) {
    for (const CellRecord& cell : row.cells) {
        if (cell.column == column) return &cell;
    }
    return nullptr;
}

CellRecord* CListCtrlEx::Impl::EnsureCell(int row, int column) {
    if (!InRange(row, column)) return nullptr;
    RowRecord* record = EnsureRow(row);
    if (const CellRecord* cell = Cell(*record, column)) return const_cast<CellRecord*>(cell);
    CellRecord& cell = record->cells.emplace_back();
    cell.column = column;
    return &cell;
}

bool CListCtrlEx::Impl::InRange(int row, int column) const {
    return row >= 0 && row < q.rowCount() && column >= 0 && column < q.columnCount();
}

std::pair<QColor, QColor> CListCtrlEx::Impl::LevelColours(int row, int column) const {
    auto any = [](const QColor& background, const QColor& text) {
        return background.isValid() || text.isValid();
    };
    if (!InRange(row, column)) return {};
    if (const RowRecord* record = Row(row)) {
        if (const CellRecord* cell = Cell(*record, column);
            cell && any(cell->background, cell->text)) {
            return {cell->background, cell->text};
        }
        if (any(record->background, record->text)) return {record->background, record->text};
    }
    if (const ColumnRecord* record = Column(column);
        record && any(record->background, record->text)) {
        return {record->background, record->text};
    }
    return {};
}

void CListCtrlEx::Impl::Borrow(QWidget* editor) {
    QWidget* viewport = q.viewport();
    if (editor->parentWidget() == viewport) return;
    const bool known = std::any_of(borrowed.begin(), borrowed.end(),
                                   [editor](const auto& entry) { return entry.first == editor; });
    if (!known) borrowed.emplace_back(editor, editor->parentWidget());
    editor->setParent(viewport);
}

void CListCtrlEx::Impl::ReturnBorrowed() {
    for (auto& [editor, parent] : borrowed) {
        if (editor == nullptr || editor->parentWidget() != q.viewport()) continue;
        editor->hide();
        editor->setParent(parent);
    }
    borrowed.clear();
}

bool CListCtrlEx::Impl::WalkTab(bool forward) {
    if (q.columnCount() <= 0) return false;
    // The owner gets one chance per Tab to add a row, so an owner that keeps
    // saying yes without adding an editable cell cannot keep us here.
    bool asked = false;
    auto askForRow = [this, &asked] {
        if (asked) return false;
        asked = true;
        const int before = q.rowCount();
        return q.AddNewRow() && q.rowCount() > before;
    };
    if (q.rowCount() == 0 && forward && !askForRow()) return false;

    int row = tabRow;
    int column = tabColumn;
    auto step = [this, forward, &row, &column] {
        if (forward) {
            if (++column >= q.columnCount()) {
                column = 0;
                ++row;
            }
        } else if (--column < 0) {
            column = q.columnCount() - 1;
            --row;
        }
    };
    if (row < 0 || column < 0 || row >= q.rowCount() || column >= q.columnCount()) {
        row = forward ? 0 : q.rowCount() - 1;
        column = forward ? 0 : q.columnCount() - 1;
    } else {
        step();
    }
    while (row >= 0) {
        if (row >= q.rowCount()) {
            if (forward && appendOnTab && askForRow()) continue;
            break;
        }
        if (q.DisplayEditor(row, column)) return true;
        step();
    }
    // Out of the grid: an edit still open ends with the grid, and the next
    // Tab into it starts afresh.
    q.HideEditor(true);
    tabRow = -1;
    tabColumn = -1;
    return false;
}

void CListCtrlEx::Impl::OnHeaderClicked(int column) {
    ColumnRecord* record = Column(column);
    QHeaderView* header = q.horizontalHeader();
    if (record == nullptr || (record->sortFlags & (kSortDirectionBits | kSortFlipBit)) == 0) {
        // The header moves its arrow on any click; put it back.
        if (sortColumn >= 0) {
            const ColumnRecord* sorted = Column(sortColumn);
            const bool descending =
                sorted && (sorted->sortFlags & kSortDirectionBits) == kSortDescending;
            header->setSortIndicator(sortColumn,
                                     descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        } else {
            header->setSortIndicatorShown(false);
        }
        return;
    }
    int direction = record->sortFlags & kSortDirectionBits;
    if (record->sortFlags & kSortFlipBit) {
        direction = (sortColumn == column && direction == kSortAscending) ? kSortDescending
                                                                          : kSortAscending;
    } else if (direction != kSortDescending) {
        direction = kSortAscending;
    }
    record->sortFlags = (record->sortFlags & ~kSortDirectionBits) | direction;
    sortColumn = column;
    header->setSortIndicatorShown(true);
    header->setSortIndicator(
        column, direction == kSortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
    SortRows(column, direction == kSortAscending, record->sortKind);
}

// Rows are moved whole, their records (vertical header items) with them.
void CListCtrlEx::Impl::SortRows(int column, bool ascending, int kind) {
    const int rowCount = q.rowCount();
    const int columnCount = q.columnCount();
    if (rowCount < 2 || column < 0 || column >= columnCount) return;
    std::vector<QString> keys(rowCount);
    for (int row = 0; row < rowCount; ++row) keys[row] = q.ItemText(row, column);
    std::vector<int> order(rowCount);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int result = CompareCells(keys[a], keys[b], kind);
        return ascending ? result < 0 : result > 0;
    });

    std::vector<std::vector<QTableWidgetItem*>> cells(rowCount);
    std::vector<QTableWidgetItem*> heads(rowCount);
    for (int row = 0; row < rowCount; ++row) {
        heads[row] = q.takeVerticalHeaderItem(row);
        for (int c = 0; c < columnCount; ++c) cells[row].push_back(q.takeItem(row, c));
    }
    for (int row = 0; row < rowCount; ++row) {
        const int from = order[row];
        if (heads[from] != nullptr) q.setVerticalHeaderItem(row, heads[from]);
        for (int c = 0; c < columnCount; ++c) {
            if (cells[from][c] != nullptr) q.setItem(row, c, cells[from][c]);
        }
    }
}

void CListCtrlEx::Impl::DeleteSelectedRows() {
    std::vector<int> rows;
    for (const QModelIndex& index : q.selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (int row : rows) q.DeleteRow(row);
}

CListCtrlEx::CListCtrlEx(QWidget* parent)
    : QTableWidget(parent), impl_(std::make_unique<Impl>(*this)) {
    impl_->defaultBackground = palette().color(QPalette::Base);
    impl_->defaultText = palette().color(QPalette::Text);
    setItemDelegate(new CellColours(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    // Tab belongs to the cell walk, and past it to the dialog's focus chain.
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { impl_->OnHeaderClicked(column); });
}

// No end callback runs here: its owner may be half gone already.
CListCtrlEx::~CListCtrlEx() {
    impl_->hook.Detach();
    impl_->ReturnBorrowed();
}

int CListCtrlEx::InsertColumn(int column, const QString& title, int width) {
    if (column < 0) return -1;
    column = std::min(column, columnCount());
    insertColumn(column);
    setHorizontalHeaderItem(column, new QTableWidgetItem(title));
    setColumnWidth(column, width);
    // Records name their column by index; those at or right of the new one
    // move along with their cells.
    for (ColumnRecord& record : impl_->columns) {
        if (record.column >= column) ++record.column;
    }
    for (int row = 0; row < rowCount(); ++row) {
        if (RowRecord* record = impl_->Row(row)) {
            for (CellRecord& cell : record->cells) {
                if (cell.column >= column) ++cell.column;
            }
        }
    }
    if (impl_->editedColumn >= column) ++impl_->editedColumn;
    return column;
}

int CListCtrlEx::ColumnCount() const {
    return columnCount();
}

int CListCtrlEx::InsertRow(int row, const QString& firstText) {
    if (row < 0) return -1;
    row = std::min(row, rowCount());
    insertRow(row);
    setVerticalHeaderItem(row, new RowItem(impl_->nextRowId++));
    if (columnCount() > 0) setItem(row, 0, new QTableWidgetItem(firstText));
    return row;
}

int CListCtrlEx::RowCount() const {
    return rowCount();
}

void CListCtrlEx::SetItemText(int row, int column, const QString& text) {
    if (!impl_->InRange(row, column)) return;
    if (QTableWidgetItem* cell = item(row, column)) {
        cell->setText(text);
    } else {
        setItem(row, column, new QTableWidgetItem(text));
    }
}

QString CListCtrlEx::ItemText(int row, int column) const {
    if (!impl_->InRange(row, column)) return {};
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

void CListCtrlEx::SetItemData(int row, quintptr data) {
    if (RowRecord* record = impl_->EnsureRow(row)) record->itemData = data;
}

quintptr CListCtrlEx::ItemData(int row) const {
    const RowRecord* record = impl_->Row(row);
    return record != nullptr ? record->itemData : 0;
}

bool CListCtrlEx::DeleteRow(int row) {
    if (row < 0 || row >= rowCount()) return false;
    removeRow(row);
    return true;
}

void CListCtrlEx::DeleteAllItems() {
    setRowCount(0);
    impl_->tabRow = -1;
    impl_->tabColumn = -1;
}

void CListCtrlEx::DeleteAllColumns() {
    setColumnCount(0);
    impl_->columns.clear();
    for (int row = 0; row < rowCount(); ++row) {
        if (RowRecord* record = impl_->Row(row)) record->cells.clear();
    }
    impl_->tabRow = -1;
    impl_->tabColumn = -1;
}

void CListCtrlEx::SetDefaultEditor(QWidget* editor, EditorCallback init, EditorCallback end) {
    impl_->defaultEditor.editor = editor;
    impl_->defaultEditor.init = std::move(init);
    impl_->defaultEditor.end = std::move(end);
}

void CListCtrlEx::SetColumnEditor(int column, QWidget* editor, EditorCallback init,
                                  EditorCallback end) {
    if (ColumnRecord* record = impl_->EnsureColumn(column)) {
        record->editor.editor = editor;
        record->editor.init = std::move(init);
        record->editor.end = std::move(end);
    }
}

void CListCtrlEx::SetRowEditor(int row, QWidget* editor, EditorCallback init, EditorCallback end) {
    if (RowRecord* record = impl_->EnsureRow(row)) {
        record->editor.editor = editor;
        record->editor.init = std::move(init);
        record->editor.end = std::move(end);
    }
}

void CListCtrlEx::SetCellEditor(int row, int column, QWidget* editor, EditorCallback init,
                                EditorCallback end) {
    if (CellRecord* cell = impl_->EnsureCell(row, column)) {
        cell->editor.editor = editor;
        cell->editor.init = std::move(init);
        cell->editor.end = std::move(end);
    }
}

void CListCtrlEx::SetColumnReadOnly(int column, bool readOnly) {
    if (ColumnRecord* record = impl_->EnsureColumn(column)) record->editor.readOnly = readOnly;
}

void CListCtrlEx::SetRowReadOnly(int row, bool readOnly) {
    if (RowRecord* record = impl_->EnsureRow(row)) record->editor.readOnly = readOnly;
}

void CListCtrlEx::SetCellReadOnly(int row, int column, bool readOnly) {
    if (CellRecord* cell = impl_->EnsureCell(row, column)) cell->editor.readOnly = readOnly;
}

bool CListCtrlEx::IsCellReadOnly(int row, int column) const {
    if (!impl_->InRange(row, column)) return false;
    if (const ColumnRecord* record = impl_->Column(column); record && record->editor.readOnly) {
        return true;
    }
    const RowRecord* record = impl_->Row(row);
    if (record == nullptr) return false;
    if (record->editor.readOnly) return true;
    const CellRecord* cell = Impl::Cell(*record, column);
    return cell != nullptr && cell->editor.readOnly;
}

void CListCtrlEx::SetColumnColors(int column, QColor background, QColor text) {
    if (ColumnRecord* record = impl_->EnsureColumn(column)) {
        record->background = background;
        record->text = text;
        viewport()->update();
    }
}

void CListCtrlEx::SetRowColors(int row, QColor background, QColor text) {
    if (RowRecord* record = impl_->EnsureRow(row)) {
        record->background = background;
        record->text = text;
        viewport()->update();
    }
}

void CListCtrlEx::SetCellColors(int row, int column, QColor background, QColor text) {
    if (CellRecord* cell = impl_->EnsureCell(row, column)) {
        cell->background = background;
        cell->text = text;
        viewport()->update();
    }
}

QColor CListCtrlEx::EffectiveBackground(int row, int column) const {
    const QColor level = impl_->LevelColours(row, column).first;
    return level.isValid() ? level : impl_->defaultBackground;
}

QColor CListCtrlEx::EffectiveTextColor(int row, int column) const {
    const QColor level = impl_->LevelColours(row, column).second;
    return level.isValid() ? level : impl_->defaultText;
}

bool CListCtrlEx::DisplayEditor(int row, int column) {
    Impl& d = *impl_;
    // Closing the open edit may re-sort; the record finds our row again.
    const RowRecord* before = d.Row(row);
    const quint64 id = before != nullptr ? before->id : 0;
    HideEditor(true);
    if (id != 0) row = d.RowOf(id);
    if (!d.InRange(row, column) || IsCellReadOnly(row, column)) return false;

    // Nothing is read-only past this point, so a present record of a nearer
    // level simply wins.
    const RowRecord& record = *d.EnsureRow(row);
    const EditorRecord* chosen = &d.defaultEditor;
    if (const ColumnRecord* c = d.Column(column); c && c->editor.Present()) chosen = &c->editor;
    if (record.editor.Present()) chosen = &record.editor;
    if (const CellRecord* cell = Impl::Cell(record, column); cell && cell->editor.Present()) {
        chosen = &cell->editor;
    }
    if (!chosen->Present() || chosen->readOnly) return false;

    EditorRecord edit = *chosen;
    const quint64 rowId = record.id;
    d.tabRow = row;
    d.tabColumn = column;
    QString text = ItemText(row, column);
    if (edit.init) {
        edit.init(edit.editor, row, column, text, record.itemData, *this, true);
        // The callback was handed the grid and may have changed it.
        row = d.RowOf(rowId);
        if (!d.InRange(row, column)) return false;
    }
    QWidget* editor = edit.editor;
    if (editor == nullptr) return false;

    clearSelection();
    if (!edit.init) SetEditorText(editor, text);
    d.Borrow(editor);
    const QModelIndex index = model()->index(row, column);
    scrollTo(index);
    editor->setGeometry(visualRect(index));
    editor->show();
    editor->raise();
    editor->setFocus(Qt::OtherFocusReason);
    d.active = std::move(edit);
    d.activeEditor = editor;
    d.editedRowId = rowId;
    d.editedColumn = column;
    d.hook.Attach(editor, this);
    return true;
}

void CListCtrlEx::HideEditor(bool update) {
    Impl& d = *impl_;
    if (d.closing || !d.hook.Detach()) return;
    d.closing = true;
    const EditorRecord edit = std::exchange(d.active, EditorRecord{});
    const QPointer<QWidget> editor = std::exchange(d.activeEditor, nullptr);
    const quint64 rowId = std::exchange(d.editedRowId, 0);
    const int column = std::exchange(d.editedColumn, -1);

    if (editor != nullptr) {
        // Keep the keyboard in the grid rather than let Qt pass it to
        // whatever follows the hidden editor.
        const QWidget* focus = QApplication::focusWidget();
        if (focus != nullptr && (focus == editor || editor->isAncestorOf(focus))) setFocus();
        editor->hide();
    }

    int row = d.RowOf(rowId);
    const bool cellExists = d.InRange(row, column);
    if (!cellExists) update = false;
    const QString before = cellExists ? ItemText(row, column) : QString();
    QString text = before;
    const quintptr data = cellExists ? ItemData(row) : 0;
    int decision = 0;
    if (edit.end) {
        QWidget* window = editor;
        decision = edit.end(window, cellExists ? row : -1, column, text, data, *this, update);
    } else {
        if (editor != nullptr) text = EditorText(editor);
        decision = update ? 1 : 0;
    }

    row = d.RowOf(rowId);
    if (!update) {
        // A cancel keeps the cell's value from before the edit, whatever the
        // end callback answered or wrote through the grid.
        if (d.InRange(row, column) && ItemText(row, column) != before)
            SetItemText(row, column, before);
    } else {
        if (decision != 0 && d.InRange(row, column)) SetItemText(row, column, text);
        if (decision == -1) {
            const ColumnRecord* record = d.Column(column);
            const bool descending =
                record && (record->sortFlags & kSortDirectionBits) == kSortDescending;
            d.SortRows(column, !descending, record != nullptr ? record->sortKind : 0);
        }
    }
    d.closing = false;
}

bool CListCtrlEx::IsEditing() const {
    return impl_->hook.IsWatching();
}

QPoint CListCtrlEx::EditedCell() const {
    if (!IsEditing()) return {-1, -1};
    const int row = impl_->RowOf(impl_->editedRowId);
    return row >= 0 ? QPoint(impl_->editedColumn, row) : QPoint(-1, -1);
}

void CListCtrlEx::SetColumnSort(int column, int flags, int kind) {
    if (ColumnRecord* record = impl_->EnsureColumn(column)) {
        record->sortFlags = flags & (kSortDirectionBits | kSortFlipBit);
        record->sortKind = kind;
    }
}

void CListCtrlEx::SetAppendRowOnTab(bool append) {
    impl_->appendOnTab = append;
}

void CListCtrlEx::SetDeleteKeyEnabled(bool enabled) {
    impl_->deleteKey = enabled;
}

bool CListCtrlEx::AddNewRow() {
    return false;
}

bool CListCtrlEx::event(QEvent* event) {
    if (event->type() == kEndEditEvent) {
        HideEditor(static_cast<CEndEditEvent*>(event)->Update());
        return true;
    }
    // Tab is taken here, before the base class would move the focus on.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && !(key->modifiers() & Qt::ControlModifier)) {
            const bool forward =
                key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
            if (impl_->WalkTab(forward)) {
                event->accept();
                return true;
            }
        }
    }
    return QTableWidget::event(event);
}

void CListCtrlEx::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && impl_->deleteKey) {
        impl_->DeleteSelectedRows();
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void CListCtrlEx::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    QTableWidget::mouseDoubleClickEvent(event);
    if (index.isValid()) DisplayEditor(index.row(), index.column());
}

}  // namespace pelmora
