// The region tree as a Qt model: a row per region node, with the region
// (its name, and its code when that differs) and the counts 在线, 离线 (never
// online included), 电池 and 预警失败. A row is tinted red when a terminal
// in it failed its latest warning, orange when one is offline or on battery
// power, green when all are online; its first column starts with a mark
// ("⚠", "○", "✓") and the counts are written out, so the colour is never
// the only sign.
//
// Checkable on request: checking a region checks every region below it, and
// a region whose regions below are checked in part shows a partial check.
// A region's own terminals (those whose code is the region's) count as
// chosen only when the whole region is.
//
// Counts are redrawn row by row as they change; only a new tree (regions
// edited, terminals added) starts the model again, and the checks survive
// it by their codes.
#pragma once

#include <QAbstractItemModel>
#include <QPointer>

#include <string>
#include <vector>

namespace pelmora {

namespace dispatch {
class FleetHealth;
}
class FleetHealthActions;

class RegionTreeModel final : public QAbstractItemModel {
    Q_OBJECT
  public:
    enum Column { kRegion, kOnline, kOffline, kBattery, kFailed, kColumnCount };

    explicit RegionTreeModel(FleetHealthActions& source, bool checkable = false,
                             QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The tree's node of an index (FleetHealth::NodeAt), -1 for none; and
    // back.
    int NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOf(int node, int column = kRegion) const;
    QModelIndex IndexOf(const std::string& code, int column = kRegion) const;

    bool Checkable() const { return checkable_; }
    // The codes of the highest checked regions, in the tree's order.
    std::vector<std::string> CheckedCodes() const;
    // Checks or unchecks a region and every region below it.
    void SetChecked(const std::string& code, bool checked);

  signals:
    void ChecksChanged();

  private:
    const dispatch::FleetHealth* Health() const;
    void Check(int node, bool checked);
    // The node's check from its own flag and its children's checks.
    Qt::CheckState Derived(int node) const;
    void ResetChecks(const std::vector<std::string>& checkedCodes);

    QPointer<FleetHealthActions> source_;
    const bool checkable_;
    std::vector<char> own_;                // by node: its own terminals chosen
    std::vector<Qt::CheckState> checks_;   // by node
    std::vector<std::string> keptChecks_;  // over a new tree
};

}  // namespace pelmora
