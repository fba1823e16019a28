#include "ReportCtrl.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>

#include <algorithm>
#include <utility>

#include "GridLines.h"

namespace pelmora {

namespace {

constexpr Qt::Alignment kLeftAligned = Qt::AlignLeft | Qt::AlignVCenter;

// The sort triangle, in pixels; its right edge keeps kTriangleMargin from the
// section's right edge.
constexpr int kTriangleWidth = 9;
constexpr int kTriangleHeight = 7;
constexpr int kTriangleMargin = 6;

}  // namespace

// A row with its row data. Sorting goes through the tree's own stable sort,
// which keeps selection and current row with their rows; this class gives
// it the comparison of the report list.
class CReportCtrl::Row final : public QTreeWidgetItem {
  public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    explicit Row(QStringList texts) : QTreeWidgetItem(kType), texts_(std::move(texts)) {}

    const QStringList& Texts() const { return texts_; }
    void SetRowText(int column, const QString& text) {
        while (texts_.size() <= column) texts_.append(QString());
        texts_[column] = text;
        ForgetKey();
    }
    void SetTexts(QStringList texts) {
        texts_ = std::move(texts);
        ForgetKey();
    }
    const QVariant& ItemData() const { return itemData_; }
    void SetItemData(const QVariant& data) { itemData_ = data; }
    void ForgetKey() { keyColumn_ = -1; }

    bool operator<(const QTreeWidgetItem& other) const override {
        const QTreeWidget* tree = treeWidget();
        const int column = tree ? tree->sortColumn() : 0;
        if (other.type() == kType) {
            const auto& otherRow = static_cast<const Row&>(other);
            return ReportSortKey::Compare(KeyFor(column), otherRow.KeyFor(column)) < 0;
        }
        // A row added through the base class has no row data: its cell
        // stands in for it.
        return ReportSortKey::Compare(KeyFor(column),
                                      ReportSortKey(other.text(column), ByteFormOf(tree))) < 0;
    }

  private:
    static const CReportCtrl::ByteForm& ByteFormOf(const QTreeWidget* tree) {
        static const CReportCtrl::ByteForm kNone;
        const auto* list = qobject_cast<const CReportCtrl*>(tree);
        return list ? list->byteForm_ : kNone;
    }

    const ReportSortKey& KeyFor(int column) const {
        if (keyColumn_ != column) {
            key_ =
                ReportSortKey(column >= 0 && column < texts_.size() ? texts_.at(column) : QString(),
                              ByteFormOf(treeWidget()));
            keyColumn_ = column;
        }
        return key_;
    }

    QStringList texts_;
    QVariant itemData_;
    // Kept between sorts until the texts change.
    mutable ReportSortKey key_;
    mutable int keyColumn_ = -1;
};

CReportHeaderCtrl::CReportHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
    setStretchLastSection(false);
    setDefaultAlignment(kLeftAligned);
}

void CReportHeaderCtrl::SetSortState(int column, bool ascending) {
    sortColumn_ = column;
    sortAscending_ = ascending;
    viewport()->update();
}

void CReportHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (logicalIndex != sortColumn_ || !rect.isValid()) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    QStyleOptionHeader option;
    initStyleOption(&option);
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    option.sortIndicator = QStyleOptionHeader::None;

    painter->save();
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    QStyleOptionHeader label = option;
    label.rect = style()->subElementRect(QStyle::SE_HeaderLabel, &option, this);
    label.rect.setRight(label.rect.right() - kTriangleWidth - kTriangleMargin);
    style()->drawControl(QStyle::CE_HeaderLabel, &label, painter, this);
    DrawSortTriangle(painter, rect);
    painter->restore();
}

// Lit from the upper left, like the section it sits on.
void CReportHeaderCtrl::DrawSortTriangle(QPainter* painter, const QRect& area) const {
    const int right = area.right() - kTriangleMargin;
    const int left = right - kTriangleWidth + 1;
    if (left < area.left() + kTriangleMargin) return;  // no room
    const int middle = left + kTriangleWidth / 2;
    const int top = area.center().y() - kTriangleHeight / 2;
    const int bottom = top + kTriangleHeight - 1;
    const QPen light(palette().color(QPalette::Light));
    const QPen shadow(palette().color(QPalette::Dark));

    painter->setClipRect(area);
    painter->setRenderHint(QPainter::Antialiasing, false);
    if (sortAscending_) {
        painter->setPen(shadow);
        painter->drawLine(left, bottom, middle, top);
        painter->setPen(light);
        painter->drawLine(middle, top, right, bottom);
        painter->drawLine(left, bottom, right, bottom);
    } else {
        painter->setPen(shadow);
        painter->drawLine(left, top, right, top);
        painter->drawLine(left, top, middle, bottom);
        painter->setPen(light);
        painter->drawLine(middle, bottom, right, top);
    }
}

CReportCtrl::CReportCtrl(QWidget* parent)
    : QTreeWidget(parent), header_(new CReportHeaderCtrl(this)) {
    setHeader(header_);
    // Sorting is ours, not the tree's; the tree only makes its header
    // clickable when it sorts itself.
    header_->setSectionsClickable(true);
    setColumnCount(0);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(header_, &QHeaderView::sectionClicked, this, &CReportCtrl::SortByColumn);
}

int CReportCtrl::AddColumn(const QString& title, int width) {
    const int column = columnCount();
    setColumnCount(column + 1);
    headerItem()->setText(column, title);
    headerItem()->setTextAlignment(column, kLeftAligned);
    setColumnWidth(column, std::max(width, 0));
    return column;
}

void CReportCtrl::SetCheckBoxes(bool on) {
    if (on == checkBoxes_) return;
    checkBoxes_ = on;
    for (int row = 0; row < topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = topLevelItem(row);
        if (on) {
            item->setCheckState(0, Qt::Unchecked);
        } else {
            item->setData(0, Qt::CheckStateRole, QVariant());
        }
    }
}

void CReportCtrl::SetGridLines(bool on) {
    gridLines_ = on;
    viewport()->update();
}

CReportCtrl::Row* CReportCtrl::MakeRow(QStringList texts) const {
    const int columns = columnCount();
    texts.resize(columns);  // missing texts empty, surplus ones dropped
    // Filled before it joins the tree, so that no change is announced.
    auto* row = new Row(std::move(texts));
    row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    for (int column = 0; column < columns; ++column) row->setText(column, row->Texts().at(column));
    if (checkBoxes_) row->setCheckState(0, Qt::Unchecked);
    return row;
}

int CReportCtrl::InsertRow(int index, const QStringList& texts) {
    if (index < 0) return -1;
    const int at = std::min(index, topLevelItemCount());
    insertTopLevelItem(at, MakeRow(texts));
    return at;
}

void CReportCtrl::AddToBatch(CReportRowBatch& batch, QStringList texts,
                             const QVariant& itemData) const {
    Row* row = MakeRow(std::move(texts));
    row->SetItemData(itemData);
    batch.rows_.append(row);
}

int CReportCtrl::AppendBatch(CReportRowBatch& batch,
                             const std::function<bool(const QVariant&)>& keep) {
    const int first = topLevelItemCount();
    QList<QTreeWidgetItem*> rows = std::move(batch.rows_);
    batch.rows_.clear();
    if (keep) {
        const auto dropped = std::remove_if(rows.begin(), rows.end(), [&keep](QTreeWidgetItem* r) {
            if (keep(static_cast<Row*>(r)->ItemData())) return false;
            delete r;
            return true;
        });
        rows.erase(dropped, rows.end());
    }
    addTopLevelItems(rows);
    return first;
}

bool CReportCtrl::UpdateRowData(int row) {
    Row* item = RowAt(row);
    if (!item) return false;
    QStringList texts;
    texts.reserve(columnCount());
    for (int column = 0; column < columnCount(); ++column) texts.append(item->text(column));
    item->SetTexts(std::move(texts));
    return true;
}

bool CReportCtrl::DeleteRow(int row) {
    if (row < 0 || row >= topLevelItemCount()) return false;
    delete takeTopLevelItem(row);
    return true;
}

int CReportCtrl::DeleteAllRows() {
    const int rows = topLevelItemCount();
    clear();
    return rows;
}

int CReportCtrl::RowCount() const {
    return topLevelItemCount();
}

QString CReportCtrl::Text(int row, int column) const {
    if (row < 0 || row >= topLevelItemCount() || column < 0 || column >= columnCount()) return {};
    return topLevelItem(row)->text(column);
}

bool CReportCtrl::SetText(int row, int column, const QString& text) {
    if (row < 0 || row >= topLevelItemCount() || column < 0 || column >= columnCount()) {
        return false;
    }
    QTreeWidgetItem* item = topLevelItem(row);
    item->setText(column, text);
    if (item->type() == Row::kType) static_cast<Row*>(item)->SetRowText(column, text);
    return true;
}

QStringList CReportCtrl::RowData(int row) const {
    const Row* item = RowAt(row);
    return item ? item->Texts() : QStringList();
}

bool CReportCtrl::IsChecked(int row) const {
    if (!checkBoxes_ || row < 0 || row >= topLevelItemCount()) return false;
    return topLevelItem(row)->checkState(0) == Qt::Checked;
}

bool CReportCtrl::SetChecked(int row, bool checked) {
    if (!checkBoxes_ || row < 0 || row >= topLevelItemCount()) return false;
    topLevelItem(row)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    return true;
}

bool CReportCtrl::SetItemData(int row, const QVariant& data) {
    Row* item = RowAt(row);
    if (!item) return false;
    item->SetItemData(data);
    return true;
}

QVariant CReportCtrl::ItemData(int row) const {
    const Row* item = RowAt(row);
    return item ? item->ItemData() : QVariant();
}

void CReportCtrl::SortByColumn(int column) {
    sortAscending_ = column == sortColumn_ ? !sortAscending_ : true;
    if (column < 0 || column >= columnCount()) return;
    sortColumn_ = column;
    header_->SetSortState(sortColumn_, sortAscending_);
    invisibleRootItem()->sortChildren(sortColumn_,
                                      sortAscending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CReportCtrl::SetByteForm(ByteForm form) {
    byteForm_ = std::move(form);
    ForgetSortKeys();
}

void CReportCtrl::DeferLayout() {
    scheduleDelayedItemsLayout();
}

void CReportCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    QTreeWidget::drawRow(painter, option, index);
    if (!gridLines_) return;
    DrawRowGridLines(*painter, option, *header_, *this);
}

CReportCtrl::Row* CReportCtrl::RowAt(int row) const {
    if (row < 0 || row >= topLevelItemCount()) return nullptr;
    QTreeWidgetItem* item = topLevelItem(row);
    return item->type() == Row::kType ? static_cast<Row*>(item) : nullptr;
}

void CReportCtrl::ForgetSortKeys() {
    for (int row = 0; row < topLevelItemCount(); ++row) {
        if (Row* item = RowAt(row)) item->ForgetKey();
    }
}

}  // namespace pelmora
