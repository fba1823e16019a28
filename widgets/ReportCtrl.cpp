#include "ReportCtrl.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace pelmora {

namespace {

constexpr Qt::Alignment kLeftAligned = Qt::AlignLeft | Qt::AlignVCenter;

// The sort triangle, in pixels; its right edge keeps kTriangleMargin from the
// section's right edge.
constexpr int kTriangleWidth = 9;
constexpr int kTriangleHeight = 7;
constexpr int kTriangleMargin = 6;

// Digits and "+" only; a leading "-" counts when something follows it.
bool IsWholeNumber(const QString& text) {
    if (text.isEmpty()) return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if ((c >= u'0' && c <= u'9') || c == u'+') continue;
        if (c == u'-' && i == 0 && text.size() >= 2) continue;
        return false;
    }
    return true;
}

// The decimal number the text starts with: a sign, digits, a fraction. A text
// that does not start with one reads as 0. Long digit runs saturate to
// infinity rather than overflow.
double LeadingNumber(const QString& text) {
    qsizetype i = 0;
    const qsizetype size = text.size();
    bool negative = false;
    if (i < size && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    double value = 0;
    for (; i < size && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        value = value * 10 + (text.at(i).unicode() - u'0');
    }
    if (i < size && text.at(i) == u'.') {
        double scale = 0.1;
        for (++i; i < size && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
            value += (text.at(i).unicode() - u'0') * scale;
            scale /= 10;
        }
    }
    return negative ? -value : value;
}

// Reads date-time texts: our own list's time texts first, then the common
// numeric forms, then what the user's locale writes. A form is tried only on
// texts that hold every separator it needs, so that the texts of other
// columns (addresses, IDs, names) cost no parser run.
class DateTimeReader final {
public:
    DateTimeReader() {
        for (const char* format : {"yyyy-M-d hh:mm:ss", "yyyy-M-d H:m:s", "yyyy-M-d H:m",
                                   "yyyy-M-d", "yyyy/M/d H:m:s", "yyyy/M/d H:m", "yyyy/M/d",
                                   "H:m:s", "H:m"}) {
            Add(QString::fromLatin1(format), false);
        }
        for (const QLocale::FormatType type : {QLocale::ShortFormat, QLocale::LongFormat}) {
            Add(locale_.dateTimeFormat(type), false);
            Add(locale_.dateFormat(type), true);
        }
    }

    std::optional<QDateTime> Read(const QString& text) const {
        for (const Form& form : forms_) {
            if (!std::all_of(form.separators.begin(), form.separators.end(),
                             [&text](QChar c) { return text.contains(c); })) {
                continue;
            }
            if (form.dateOnly) {
                const QDate date = locale_.toDate(text, form.format);
                if (date.isValid()) return QDateTime(date, QTime(0, 0));
            } else {
                const QDateTime parsed = locale_.toDateTime(text, form.format);
                if (parsed.isValid()) return parsed;
            }
        }
        return std::nullopt;
    }

private:
    struct Form {
        QString format;
        QString separators;  // the characters outside fields and quotes
        bool dateOnly;
    };

    void Add(const QString& format, bool dateOnly) {
        if (format.isEmpty()) return;
        QString separators;
        bool quoted = false;
        for (const QChar c : format) {
            if (c == u'\'') {
                quoted = !quoted;
            } else if (!quoted && !c.isLetter() && !separators.contains(c)) {
                separators.append(c);
            }
        }
        forms_.push_back(Form{format, separators, dateOnly});
    }

    const QLocale locale_;
    std::vector<Form> forms_;
};

std::optional<QDateTime> ParseDateTime(const QString& text) {
    static const DateTimeReader reader;
    return reader.Read(text);
}

QByteArray DefaultByteForm(const QString& text) { return text.toUtf8(); }

template <typename T>
int ThreeWay(const T& a, const T& b) {
    if (a < b) return -1;
    if (b < a) return 1;
    return 0;
}

// One cell text prepared for comparing. The date-time is parsed only when a
// comparison asks for it: most columns never need it, and parsing is by far
// the dearest part.
class SortKey final {
public:
    SortKey() = default;
    SortKey(const QString& cellText, const CReportCtrl::ByteForm& byteForm)
        : text_(cellText.trimmed()),
          bytes_(byteForm ? byteForm(text_) : DefaultByteForm(text_)),
          wholeNumber_(IsWholeNumber(text_)),
          number_(LeadingNumber(text_)) {}

    // Negative, zero or positive as `first` goes before, with or after
    // `second`. The kind of comparison follows `first` alone.
    static int Compare(const SortKey& first, const SortKey& second) {
        if (first.text_.isEmpty() || second.text_.isEmpty()) {
            return first.CompareBytes(second);
        }
        if (first.wholeNumber_) return ThreeWay(first.number_, second.number_);
        const QDateTime* firstTime = first.DateTime();
        const QDateTime* secondTime = firstTime ? second.DateTime() : nullptr;
        if (firstTime && secondTime) return ThreeWay(*firstTime, *secondTime);
        return first.CompareBytes(second);
    }

private:
    int CompareBytes(const SortKey& other) const { return ThreeWay(bytes_, other.bytes_); }

    const QDateTime* DateTime() const {
        if (!dateParsed_) {
            dateTime_ = ParseDateTime(text_);
            dateParsed_ = true;
        }
        return dateTime_ ? &*dateTime_ : nullptr;
    }

    QString text_;
    QByteArray bytes_;
    bool wholeNumber_ = false;
    double number_ = 0;
    mutable bool dateParsed_ = false;
    mutable std::optional<QDateTime> dateTime_;
};

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
        const CReportCtrl::ByteForm& byteForm = ByteFormOf(tree);
        if (other.type() == kType) {
            const auto& otherRow = static_cast<const Row&>(other);
            return SortKey::Compare(KeyFor(column, byteForm), otherRow.KeyFor(column, byteForm)) <
                   0;
        }
        // A row added through the base class has no row data: its cell
        // stands in for it.
        return SortKey::Compare(KeyFor(column, byteForm), SortKey(other.text(column), byteForm)) <
               0;
    }

private:
    static const CReportCtrl::ByteForm& ByteFormOf(const QTreeWidget* tree) {
        static const CReportCtrl::ByteForm kNone;
        const auto* list = qobject_cast<const CReportCtrl*>(tree);
        return list ? list->byteForm_ : kNone;
    }

    const SortKey& KeyFor(int column, const CReportCtrl::ByteForm& byteForm) const {
        if (keyColumn_ != column) {
            key_ = SortKey(column >= 0 && column < texts_.size() ? texts_.at(column) : QString(),
                           byteForm);
            keyColumn_ = column;
        }
        return key_;
    }

    QStringList texts_;
    QVariant itemData_;
    // Kept between sorts until the texts change.
    mutable SortKey key_;
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

void CReportHeaderCtrl::paintSection(QPainter* painter, const QRect& rect,
                                     int logicalIndex) const {
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

int CReportCtrl::InsertRow(int index, const QStringList& texts) {
    if (index < 0) return -1;
    const int columns = columnCount();
    QStringList rowTexts;
    rowTexts.reserve(columns);
    for (int column = 0; column < columns; ++column) {
        rowTexts.append(column < texts.size() ? texts.at(column) : QString());
    }
    // Filled before it joins the tree, so that no change is announced.
    auto* row = new Row(rowTexts);
    row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    for (int column = 0; column < columns; ++column) row->setText(column, rowTexts.at(column));
    if (checkBoxes_) row->setCheckState(0, Qt::Unchecked);
    const int at = std::min(index, topLevelItemCount());
    insertTopLevelItem(at, row);
    return at;
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

int CReportCtrl::RowCount() const { return topLevelItemCount(); }

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

void CReportCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    QTreeWidget::drawRow(painter, option, index);
    if (!gridLines_) return;
    QStyleOptionViewItem gridOption = option;
    const auto colour = static_cast<QRgb>(
        style()->styleHint(QStyle::SH_Table_GridLineColor, &gridOption, this));
    painter->save();
    painter->setPen(QColor::fromRgba(colour));
    const QRect& rect = option.rect;
    painter->drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    for (int section = 0; section < header_->count(); ++section) {
        if (header_->isSectionHidden(section)) continue;
        const int x = header_->sectionViewportPosition(section) + header_->sectionSize(section) - 1;
        painter->drawLine(x, rect.top(), x, rect.bottom());
    }
    painter->restore();
}

void CReportCtrl::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                              const QList<int>& roles) {
    QTreeWidget::dataChanged(topLeft, bottomRight, roles);
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
