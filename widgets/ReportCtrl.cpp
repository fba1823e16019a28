#include "ReportCtrl.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>

#include <algorithm>
#include <compare>
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

// Reads one run of 1 to `maxDigits` digits at `at`, moving `at` past it.
std::optional<int> ReadField(QStringView text, qsizetype& at, int maxDigits) {
    int value = 0;
    int digits = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at, ++digits) {
        if (digits == maxDigits) return std::nullopt;
        value = value * 10 + (text[at].unicode() - u'0');
    }
    if (digits == 0) return std::nullopt;
    return value;
}

bool Skip(QStringView text, qsizetype& at, QChar separator) {
    if (at >= text.size() || text[at] != separator) return false;
    ++at;
    return true;
}

// "H:m" or "H:m:s" from `at` to the end of the text.
std::optional<QTime> ReadTime(QStringView text, qsizetype at) {
    const auto hour = ReadField(text, at, 2);
    if (!hour || !Skip(text, at, u':')) return std::nullopt;
    const auto minute = ReadField(text, at, 2);
    if (!minute) return std::nullopt;
    std::optional<int> second = 0;
    if (Skip(text, at, u':')) second = ReadField(text, at, 2);
    if (!second || at != text.size()) return std::nullopt;
    const QTime time(*hour, *minute, *second);
    return time.isValid() ? std::optional<QTime>(time) : std::nullopt;
}

// A date and time as written, without time zone: texts compare by what they
// say, whatever daylight saving does on this machine.
struct WallClock {
    qint64 day = 0;  // Julian day
    int millisecond = 0;
    auto operator<=>(const WallClock&) const = default;
};

WallClock WallClockOf(QDate date, QTime time) {
    return WallClock{date.toJulianDay(), time.msecsSinceStartOfDay()};
}

// The numeric forms the lists write: "yyyy-M-d" or "yyyy/M/d", either with an
// optional " H:m" or " H:m:s", and a time alone (on 1 January 1900, as the
// platform's parser has it). Done by hand: the format-driven parser is about
// ten times slower, and a time column of a big list is sorted on each click.
std::optional<WallClock> ReadNumericDateTime(QStringView text) {
    qsizetype at = 0;
    const auto year = ReadField(text, at, 4);
    if (!year) return std::nullopt;
    if (at < text.size() && text[at] == u':') {
        const auto time = ReadTime(text, 0);
        if (!time) return std::nullopt;
        return WallClockOf(QDate(1900, 1, 1), *time);
    }
    if (at != 4 || at >= text.size()) return std::nullopt;
    const QChar separator = text[at++];
    if (separator != u'-' && separator != u'/') return std::nullopt;
    const auto month = ReadField(text, at, 2);
    if (!month || !Skip(text, at, separator)) return std::nullopt;
    const auto day = ReadField(text, at, 2);
    if (!day) return std::nullopt;
    const QDate date(*year, *month, *day);
    if (!date.isValid()) return std::nullopt;
    if (at == text.size()) return WallClockOf(date, QTime(0, 0));
    if (!Skip(text, at, u' ')) return std::nullopt;
    const auto time = ReadTime(text, at);
    if (!time) return std::nullopt;
    return WallClockOf(date, *time);
}

// The user's locale's own date-time and date forms, through the platform's
// parser. A form is tried only on texts that hold every separator it needs,
// so that the texts of other columns (addresses, IDs, names) cost no parser
// run.
class LocaleDateTimeReader final {
  public:
    LocaleDateTimeReader() {
        for (const QLocale::FormatType type : {QLocale::ShortFormat, QLocale::LongFormat}) {
            Add(locale_.dateTimeFormat(type), false);
            Add(locale_.dateFormat(type), true);
        }
    }

    std::optional<WallClock> Read(const QString& text) const {
        for (const Form& form : forms_) {
            if (!std::all_of(form.separators.begin(), form.separators.end(),
                             [&text](QChar c) { return text.contains(c); })) {
                continue;
            }
            if (form.dateOnly) {
                const QDate date = locale_.toDate(text, form.format);
                if (date.isValid()) return WallClockOf(date, QTime(0, 0));
            } else {
                const QDateTime parsed = locale_.toDateTime(text, form.format);
                if (parsed.isValid()) return WallClockOf(parsed.date(), parsed.time());
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

std::optional<WallClock> ParseDateTime(const QString& text) {
    if (auto numeric = ReadNumericDateTime(text)) return numeric;
    static const LocaleDateTimeReader localeReader;
    return localeReader.Read(text);
}

QByteArray DefaultByteForm(const QString& text) {
    return text.toUtf8();
}

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
        const WallClock* firstTime = first.DateTime();
        const WallClock* secondTime = firstTime ? second.DateTime() : nullptr;
        if (firstTime && secondTime) return ThreeWay(*firstTime, *secondTime);
        return first.CompareBytes(second);
    }

  private:
    int CompareBytes(const SortKey& other) const { return ThreeWay(bytes_, other.bytes_); }

    const WallClock* DateTime() const {
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
    mutable std::optional<WallClock> dateTime_;
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
        if (other.type() == kType) {
            const auto& otherRow = static_cast<const Row&>(other);
            return SortKey::Compare(KeyFor(column), otherRow.KeyFor(column)) < 0;
        }
        // A row added through the base class has no row data: its cell
        // stands in for it.
        return SortKey::Compare(KeyFor(column), SortKey(other.text(column), ByteFormOf(tree))) < 0;
    }

  private:
    static const CReportCtrl::ByteForm& ByteFormOf(const QTreeWidget* tree) {
        static const CReportCtrl::ByteForm kNone;
        const auto* list = qobject_cast<const CReportCtrl*>(tree);
        return list ? list->byteForm_ : kNone;
    }

    const SortKey& KeyFor(int column) const {
        if (keyColumn_ != column) {
            key_ = SortKey(column >= 0 && column < texts_.size() ? texts_.at(column) : QString(),
                           ByteFormOf(treeWidget()));
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
    QStyleOptionViewItem gridOption = option;
    const auto colour =
        static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &gridOption, this));
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
