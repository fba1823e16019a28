#include "FleetHealthPanel.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

#include "FleetHealth.h"
#include "FleetHealthActions.h"
#include "RegionTreeModel.h"

namespace pelmora {

namespace {

QString IdText(std::uint32_t id) {
    return QStringLiteral("%1").arg(id, 8, 16, QLatin1Char('0'));
}

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ChangeListModel::ChangeListModel(FleetHealthActions& source, QObject* parent)
    : QAbstractTableModel(parent),
      source_(&source),
      rows_(static_cast<int>(source.Health().Changes().size())) {
    connect(&source, &FleetHealthActions::ChangesPublished, this, &ChangeListModel::Published);
    connect(&source, &FleetHealthActions::ChangesCleared, this, [this] {
        beginResetModel();
        rows_ = 0;
        endResetModel();
    });
    connect(&source, &QObject::destroyed, this, [this] {
        beginResetModel();
        source_ = nullptr;
        rows_ = 0;
        endResetModel();
    });
}

void ChangeListModel::Published(std::size_t added, std::size_t dropped) {
    // The oldest left the bottom, the new ones come in at the top.
    const int gone =
        static_cast<int>(std::min<std::size_t>(dropped, static_cast<std::size_t>(rows_)));
    if (gone > 0) {
        beginRemoveRows({}, rows_ - gone, rows_ - 1);
        rows_ -= gone;
        endRemoveRows();
    }
    if (added > 0) {
        beginInsertRows({}, 0, static_cast<int>(added) - 1);
        rows_ += static_cast<int>(added);
        endInsertRows();
    }
}

int ChangeListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ChangeListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ChangeListModel::data(const QModelIndex& index, int role) const {
    if (source_ == nullptr || !index.isValid() || role != Qt::DisplayRole) return {};
    const auto& changes = source_->Health().Changes();
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= changes.size()) return {};
    const dispatch::FleetHealth::Change& change = changes[changes.size() - 1 - row];
    switch (index.column()) {
        case kTime:
            return QDateTime::fromSecsSinceEpoch(change.time).toString(QStringLiteral("HH:mm:ss"));
        case kDevice:
            return IdText(change.deviceId);
        case kName:
            return Utf8(source_->Health().NameOf(change.deviceId));
        case kWhat:
            return Utf8(change.what);
        default:
            return {};
    }
}

QVariant ChangeListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kTime:
            return QStringLiteral("时间");
        case kDevice:
            return QStringLiteral("设备ID");
        case kName:
            return QStringLiteral("名称");
        case kWhat:
            return QStringLiteral("变化");
        default:
            return {};
    }
}

ChangeList::ChangeList(FleetHealthActions& source, QWidget* parent)
    : QWidget(parent),
      source_(source),
      model_(new ChangeListModel(source, this)),
      table_(new QTableView(this)),
      seen_(new QPushButton(QStringLiteral("已查看"), this)) {
    setObjectName(QStringLiteral("changeList"));
    auto* title = new QLabel(QStringLiteral("变化"), this);
    title->setObjectName(QStringLiteral("changeTitle"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    seen_->setObjectName(QStringLiteral("changeSeen"));
    seen_->setEnabled(source.Unseen() > 0 || model_->rowCount() > 0);
    table_->setObjectName(QStringLiteral("changeTable"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setWordWrap(false);

    auto* head = new QHBoxLayout;
    head->addWidget(title);
    head->addStretch(1);
    head->addWidget(seen_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(head);
    layout->addWidget(table_, 1);

    connect(seen_, &QPushButton::clicked, &source, &FleetHealthActions::MarkSeen);
    connect(&source, &FleetHealthActions::UnseenChanged, this, [this](int unseen) {
        seen_->setEnabled(unseen > 0 || model_->rowCount() > 0);
        emit UnseenChanged(unseen);
    });
}

int ChangeList::Unseen() const {
    return source_.Unseen();
}

FleetHealthPanel::FleetHealthPanel(FleetHealthActions& source, QWidget* parent)
    : QWidget(parent),
      regions_(new RegionTreeModel(source, false, this)),
      tree_(new QTreeView),
      changes_(new ChangeList(source)),
      splitter_(new QSplitter(Qt::Vertical, this)) {
    setObjectName(QStringLiteral("fleetHealthPanel"));
    splitter_->setObjectName(QStringLiteral("healthSplitter"));
    tree_->setObjectName(QStringLiteral("regionTree"));
    tree_->setModel(regions_);
    tree_->setUniformRowHeights(true);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(RegionTreeModel::kRegion, QHeaderView::Stretch);
    for (int column = RegionTreeModel::kOnline; column < RegionTreeModel::kColumnCount; ++column)
        tree_->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    // The provinces open, as at the start, whenever the tree is new.
    const auto open = [this] { tree_->expandToDepth(0); };
    connect(regions_, &QAbstractItemModel::modelReset, tree_, open);
    open();
    splitter_->addWidget(tree_);
    splitter_->addWidget(changes_);
    splitter_->setStretchFactor(0, 3);
    splitter_->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter_);
}

}  // namespace pelmora
