#include "RegionTreeModel.h"

#include <QBrush>
#include <QColor>

#include "FleetHealth.h"
#include "FleetHealthActions.h"

namespace pelmora {

namespace {

using Counts = dispatch::FleetHealth::Counts;

enum class Tone { Failed, Attention, Online, None };

Tone ToneOf(const Counts& c) {
    if (c.failed > 0) return Tone::Failed;
    if (c.online < c.total || c.battery > 0) return Tone::Attention;
    return c.total > 0 ? Tone::Online : Tone::None;
}

QString Mark(Tone tone) {
    switch (tone) {
        case Tone::Failed:
            return QStringLiteral("⚠ ");
        case Tone::Attention:
            return QStringLiteral("○ ");
        case Tone::Online:
            return QStringLiteral("✓ ");
        case Tone::None:
            break;
    }
    return {};
}

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

RegionTreeModel::RegionTreeModel(FleetHealthActions& source, bool checkable, QObject* parent)
    : QAbstractItemModel(parent), source_(&source), checkable_(checkable) {
    ResetChecks({});
    connect(&source, &FleetHealthActions::TreeAboutToChange, this, [this] {
        keptChecks_ = CheckedCodes();
        beginResetModel();
    });
    connect(&source, &FleetHealthActions::TreeChanged, this, [this] {
        ResetChecks(keptChecks_);
        keptChecks_.clear();
        endResetModel();
    });
    connect(&source, &FleetHealthActions::CountsChanged, this,
            [this](const std::vector<int>& nodes) {
                for (const int node : nodes)
                    emit dataChanged(IndexOf(node, kRegion), IndexOf(node, kFailed));
            });
    // Gone before the model: nothing is left to show.
    connect(&source, &QObject::destroyed, this, [this] {
        beginResetModel();
        source_ = nullptr;
        endResetModel();
    });
}

const dispatch::FleetHealth* RegionTreeModel::Health() const {
    return source_ ? &source_->Health() : nullptr;
}

QModelIndex RegionTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const dispatch::FleetHealth* health = Health();
    if (health == nullptr || row < 0 || column < 0 || column >= kColumnCount) return {};
    const int up = NodeOf(parent);
    if (parent.isValid() && up < 0) return {};
    const std::vector<int>& rows = up < 0 ? health->TopNodes() : health->NodeAt(up).children;
    if (row >= static_cast<int>(rows.size())) return {};
    return createIndex(row, column, static_cast<quintptr>(rows[static_cast<std::size_t>(row)]));
}

QModelIndex RegionTreeModel::parent(const QModelIndex& child) const {
    const int node = NodeOf(child);
    if (node < 0) return {};
    return IndexOf(Health()->NodeAt(node).parent);
}

int RegionTreeModel::rowCount(const QModelIndex& parent) const {
    const dispatch::FleetHealth* health = Health();
    if (health == nullptr) return 0;
    if (!parent.isValid()) return static_cast<int>(health->TopNodes().size());
    if (parent.column() != 0) return 0;
    const int node = NodeOf(parent);
    return node < 0 ? 0 : static_cast<int>(health->NodeAt(node).children.size());
}

int RegionTreeModel::columnCount(const QModelIndex&) const {
    return kColumnCount;
}

int RegionTreeModel::NodeOf(const QModelIndex& index) const {
    const dispatch::FleetHealth* health = Health();
    if (health == nullptr || !index.isValid() || index.model() != this) return -1;
    const auto node = index.internalId();
    return node < health->Nodes().size() ? static_cast<int>(node) : -1;
}

QModelIndex RegionTreeModel::IndexOf(int node, int column) const {
    const dispatch::FleetHealth* health = Health();
    if (health == nullptr || node < 0 || node >= static_cast<int>(health->Nodes().size()))
        return {};
    return createIndex(health->NodeAt(node).row, column, static_cast<quintptr>(node));
}

QModelIndex RegionTreeModel::IndexOf(const std::string& code, int column) const {
    const dispatch::FleetHealth* health = Health();
    return health == nullptr ? QModelIndex() : IndexOf(health->Find(code), column);
}

QVariant RegionTreeModel::data(const QModelIndex& index, int role) const {
    const int node = NodeOf(index);
    if (node < 0) return {};
    const dispatch::FleetHealth::Node& n = Health()->NodeAt(node);
    const Counts& c = n.counts;
    const Tone tone = ToneOf(c);
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case kRegion: {
                    QString text = Mark(tone) + Utf8(n.name);
                    if (!n.code.empty() && n.name != n.code)
                        text += QStringLiteral(" (%1)").arg(Utf8(n.code));
                    return text;
                }
                case kOnline:
                    return c.online;
                case kOffline:
                    return c.offline + c.neverSeen;
                case kBattery:
                    return c.battery;
                case kFailed:
                    return c.failed;
            }
            break;
        case Qt::ToolTipRole:
            return QStringLiteral(
                       "共 %1 台: 在线 %2, 离线 %3, 从未上线 %4, 电池供电 %5, 预警失败 %6")
                .arg(c.total)
                .arg(c.online)
                .arg(c.offline)
                .arg(c.neverSeen)
                .arg(c.battery)
                .arg(c.failed);
        case Qt::TextAlignmentRole:
            if (column != kRegion) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            break;
        case Qt::BackgroundRole:
            switch (tone) {
                case Tone::Failed:
                    return QBrush(QColor(0xfd, 0xde, 0xde));
                case Tone::Attention:
                    return QBrush(QColor(0xff, 0xed, 0xd5));
                case Tone::Online:
                    return QBrush(QColor(0xe2, 0xf4, 0xe2));
                case Tone::None:
                    break;
            }
            break;
        case Qt::ForegroundRole:
            switch (tone) {
                case Tone::Failed:
                    return QBrush(QColor(0xb7, 0x1c, 0x1c));
                case Tone::Attention:
                    return QBrush(QColor(0x8a, 0x4b, 0x00));
                case Tone::Online:
                    return QBrush(QColor(0x1b, 0x5e, 0x20));
                case Tone::None:
                    break;
            }
            break;
        case Qt::CheckStateRole:
            if (checkable_ && column == kRegion) return checks_[static_cast<std::size_t>(node)];
            break;
        default:
            break;
    }
    return {};
}

QVariant RegionTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kRegion:
            return QStringLiteral("区划");
        case kOnline:
            return QStringLiteral("在线");
        case kOffline:
            return QStringLiteral("离线");
        case kBattery:
            return QStringLiteral("电池");
        case kFailed:
            return QStringLiteral("预警失败");
        default:
            return {};
    }
}

Qt::ItemFlags RegionTreeModel::flags(const QModelIndex& index) const {
    if (NodeOf(index) < 0) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (checkable_ && index.column() == kRegion) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

bool RegionTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const int node = NodeOf(index);
    if (!checkable_ || node < 0 || index.column() != kRegion || role != Qt::CheckStateRole)
        return false;
    Check(node, value.toInt() == Qt::Checked);
    emit ChecksChanged();
    return true;
}

Qt::CheckState RegionTreeModel::Derived(int node) const {
    const dispatch::FleetHealth::Node& n = Health()->NodeAt(node);
    bool any = false, all = true;
    if (n.below > n.first) {
        const bool mine = own_[static_cast<std::size_t>(node)] != 0;
        any = mine;
        all = mine;
    }
    for (const int child : n.children) {
        const Qt::CheckState state = checks_[static_cast<std::size_t>(child)];
        any = any || state != Qt::Unchecked;
        all = all && state == Qt::Checked;
    }
    return all ? Qt::Checked : any ? Qt::PartiallyChecked : Qt::Unchecked;
}

void RegionTreeModel::Check(int node, bool checked) {
    const dispatch::FleetHealth& health = *Health();
    const Qt::CheckState state = checked ? Qt::Checked : Qt::Unchecked;
    // The region and everything below it, told a row range at a time.
    std::vector<int> walk{node};
    while (!walk.empty()) {
        const int at = walk.back();
        walk.pop_back();
        own_[static_cast<std::size_t>(at)] = checked ? 1 : 0;
        checks_[static_cast<std::size_t>(at)] = state;
        const std::vector<int>& children = health.NodeAt(at).children;
        if (children.empty()) continue;
        walk.insert(walk.end(), children.begin(), children.end());
        emit dataChanged(IndexOf(children.front()), IndexOf(children.back()), {Qt::CheckStateRole});
    }
    emit dataChanged(IndexOf(node), IndexOf(node), {Qt::CheckStateRole});
    // Then the regions above it.
    for (int up = health.NodeAt(node).parent; up >= 0; up = health.NodeAt(up).parent) {
        const Qt::CheckState derived = Derived(up);
        if (derived == checks_[static_cast<std::size_t>(up)]) break;
        checks_[static_cast<std::size_t>(up)] = derived;
        emit dataChanged(IndexOf(up), IndexOf(up), {Qt::CheckStateRole});
    }
}

void RegionTreeModel::SetChecked(const std::string& code, bool checked) {
    const dispatch::FleetHealth* health = Health();
    if (!checkable_ || health == nullptr) return;
    const int node = health->Find(code);
    if (node < 0) return;
    Check(node, checked);
    emit ChecksChanged();
}

std::vector<std::string> RegionTreeModel::CheckedCodes() const {
    std::vector<std::string> codes;
    const dispatch::FleetHealth* health = Health();
    if (!checkable_ || health == nullptr) return codes;
    std::vector<int> walk(health->TopNodes().rbegin(), health->TopNodes().rend());
    while (!walk.empty()) {
        const int node = walk.back();
        walk.pop_back();
        const Qt::CheckState state = checks_[static_cast<std::size_t>(node)];
        if (state == Qt::Checked) {
            codes.push_back(health->NodeAt(node).code);
        } else if (state == Qt::PartiallyChecked) {
            const std::vector<int>& children = health->NodeAt(node).children;
            walk.insert(walk.end(), children.rbegin(), children.rend());
        }
    }
    return codes;
}

void RegionTreeModel::ResetChecks(const std::vector<std::string>& checkedCodes) {
    const dispatch::FleetHealth* health = Health();
    const std::size_t count = health == nullptr ? 0 : health->Nodes().size();
    own_.assign(count, 0);
    checks_.assign(count, Qt::Unchecked);
    if (!checkable_ || health == nullptr || checkedCodes.empty()) return;
    for (const std::string& code : checkedCodes) {
        const int node = health->Find(code);
        if (node < 0) continue;
        std::vector<int> walk{node};
        while (!walk.empty()) {
            const int at = walk.back();
            walk.pop_back();
            own_[static_cast<std::size_t>(at)] = 1;
            const std::vector<int>& children = health->NodeAt(at).children;
            walk.insert(walk.end(), children.begin(), children.end());
        }
    }
    // A node's code sorts after its parent's, and so does its index: from
    // the last node back, children come before their parents.
    for (std::size_t i = count; i-- > 0;) checks_[i] = Derived(static_cast<int>(i));
}

}  // namespace pelmora
