#include "LogView.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDockWidget>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "LogModel.h"

namespace pelmora {

namespace {

constexpr int kDockHeight = 120;

QString KindName(LogKind kind) {
    const std::string_view name = LogKindName(kind);
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

// The menu "视图", else the one that holds another dock's toggle.
QMenu* ToggleMenu(QMainWindow& window, const QDockWidget* dock) {
    QMenu* withDocks = nullptr;
    const QList<QDockWidget*> docks = window.findChildren<QDockWidget*>();
    for (QAction* entry : window.menuBar()->actions()) {
        QMenu* menu = entry->menu();
        if (menu == nullptr) continue;
        if (menu->title().remove(u'&').startsWith(QStringLiteral("视图"))) return menu;
        for (const QDockWidget* other : docks) {
            if (withDocks == nullptr && other != dock &&
                menu->actions().contains(other->toggleViewAction()))
                withDocks = menu;
        }
    }
    return withDocks;
}

}  // namespace

const QString& LogView::WidestOutcomeLine() {
    static const QString line = QStringLiteral(
        "群发播放内容完成: 成功 10000, 拒绝 10000, 超时 10000, 离线 10000, 发送失败 10000, "
        "已取消 10000, 连接中断 10000, 已发送未确认 10000, 服务已停止 10000");
    return line;
}

LogView::LogView(LogModel& model, QWidget* parent)
    : QWidget(parent),
      filter_(new LogFilter(this)),
      filterBox_(new QLineEdit(this)),
      table_(new QTableView(this)),
      copy_(new QAction(QStringLiteral("复制"), table_)) {
    setObjectName(QStringLiteral("logView"));
    filter_->setSourceModel(&model);

    filterBox_->setObjectName(QStringLiteral("logFilter"));
    filterBox_->setPlaceholderText(QStringLiteral("筛选日志"));
    filterBox_->setClearButtonEnabled(true);
    connect(filterBox_, &QLineEdit::textChanged, filter_, &LogFilter::SetText);

    auto* bar = new QHBoxLayout;
    bar->addWidget(filterBox_, 1);
    for (int k = 0; k < kLogKinds; ++k) {
        const auto kind = static_cast<LogKind>(k);
        auto* box = new QCheckBox(KindName(kind), this);
        box->setObjectName(QStringLiteral("logKind%1").arg(k));
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, this,
                [this, kind](bool shown) { filter_->SetKindShown(kind, shown); });
        kindBoxes_[static_cast<std::size_t>(k)] = box;
        bar->addWidget(box);
    }

    table_->setObjectName(QStringLiteral("logTable"));
    table_->setModel(filter_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->setShowGrid(false);
    table_->setAlternatingRowColors(true);
    table_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QHeaderView* rows = table_->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    QHeaderView* columns = table_->horizontalHeader();
    columns->setStretchLastSection(false);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setHighlightSections(false);
    const QFontMetrics metrics = table_->fontMetrics();
    const int pad = 2 * table_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 16;
    columns->resizeSection(LogModel::kTimeColumn,
                           metrics.horizontalAdvance(QStringLiteral("00:00:00")) + pad);
    columns->resizeSection(LogModel::kTerminalColumn,
                           metrics.horizontalAdvance(QStringLiteral("00000000")) + pad);
    columns->resizeSection(LogModel::kKindColumn,
                           metrics.horizontalAdvance(KindName(LogKind::TerminalMessage)) + pad);
    textMinWidth_ = metrics.horizontalAdvance(WidestOutcomeLine()) + pad;
    columns->resizeSection(LogModel::kTextColumn, textMinWidth_);
    connect(columns, &QHeaderView::sectionResized, this, [this](int section) {
        if (section != LogModel::kTextColumn) FitTextColumn();
    });
    table_->viewport()->installEventFilter(this);

    copy_->setShortcut(QKeySequence::Copy);
    copy_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy_, &QAction::triggered, this, &LogView::CopySelection);
    table_->addAction(copy_);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addLayout(bar);
    layout->addWidget(table_, 1);
    WatchRows();
}

QDockWidget* LogView::MakeDock(QMainWindow& window, LogModel& model) {
    auto* dock = new QDockWidget(QStringLiteral("日志"), &window);
    dock->setObjectName(QStringLiteral("logDock"));
    dock->toggleViewAction()->setText(QStringLiteral("日志面板"));
    dock->setWidget(new LogView(model, dock));
    // Across the whole width: the bottom area takes both lower corners.
    window.setCorner(Qt::BottomLeftCorner, Qt::BottomDockWidgetArea);
    window.setCorner(Qt::BottomRightCorner, Qt::BottomDockWidgetArea);
    window.addDockWidget(Qt::BottomDockWidgetArea, dock);
    window.resizeDocks({dock}, {kDockHeight}, Qt::Vertical);
    if (QMenu* menu = ToggleMenu(window, dock)) {
        menu->addSeparator();
        menu->addAction(dock->toggleViewAction());
    }
    return dock;
}

void LogView::WatchRows() {
    // Each change: was the table at the bottom before it, and rows above the
    // top row that went.
    const auto before = [this] { follow_ = AtBottom(); };
    const auto after = [this] {
        if (follow_) table_->scrollToBottom();
    };
    connect(filter_, &QAbstractItemModel::rowsAboutToBeInserted, this, before);
    connect(filter_, &QAbstractItemModel::rowsInserted, this, after);
    connect(filter_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                follow_ = AtBottom();
                topShift_ = 0;
                // Per item, the scroll bar's value is the top row.
                const int top = table_->verticalScrollBar()->value();
                if (!follow_ && first < top) topShift_ = std::min(last, top - 1) - first + 1;
            });
    connect(filter_, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (follow_) {
            table_->scrollToBottom();
        } else if (topShift_ > 0) {
            // The rows the operator looks at stay where they are.
            QScrollBar* bar = table_->verticalScrollBar();
            bar->setValue(std::max(0, bar->value() - topShift_));
        }
        topShift_ = 0;
    });
    connect(filter_, &QAbstractItemModel::layoutAboutToBeChanged, this, before);
    connect(filter_, &QAbstractItemModel::layoutChanged, this, after);
    connect(filter_, &QAbstractItemModel::modelAboutToBeReset, this, before);
    connect(filter_, &QAbstractItemModel::modelReset, this, after);
}

bool LogView::AtBottom() const {
    const QScrollBar* bar = table_->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

bool LogView::Following() const {
    return AtBottom();
}

void LogView::FitTextColumn() {
    QHeaderView* columns = table_->horizontalHeader();
    int others = 0;
    for (int c = 0; c < LogModel::kTextColumn; ++c) others += columns->sectionSize(c);
    const int width = std::max(textMinWidth_, table_->viewport()->width() - others);
    if (columns->sectionSize(LogModel::kTextColumn) != width)
        columns->resizeSection(LogModel::kTextColumn, width);
}

bool LogView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_->viewport() && event->type() == QEvent::Resize) FitTextColumn();
    return QWidget::eventFilter(watched, event);
}

QString LogView::SelectedLines() const {
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    lines.reserve(rows.size());
    for (const QModelIndex& row : rows) lines << row.data(LogModel::kLineRole).toString();
    return lines.join(QStringLiteral("\r\n"));
}

void LogView::CopySelection() const {
    const QString lines = SelectedLines();
    if (!lines.isEmpty()) QGuiApplication::clipboard()->setText(lines);
}

}  // namespace pelmora
