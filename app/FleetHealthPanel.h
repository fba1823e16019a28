// The fleet's health at a glance: the region tree with its counts above the
// list of changes ("变化") the operator has not yet seen.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>

class QLabel;
class QPushButton;
class QSplitter;
class QTableView;
class QTreeView;

namespace pelmora {

class FleetHealthActions;
class RegionTreeModel;

// The changes, newest first: time, device ID, name and what happened.
class ChangeListModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kTime, kDevice, kName, kWhat, kColumnCount };
    explicit ChangeListModel(FleetHealthActions& source, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    void Published(std::size_t added, std::size_t dropped);

    FleetHealthActions* source_;
    int rows_ = 0;  // as the views were last told
};

class ChangeList final : public QWidget {
    Q_OBJECT
  public:
    explicit ChangeList(FleetHealthActions& source, QWidget* parent = nullptr);

    QTableView* Table() const { return table_; }
    QPushButton* SeenButton() const { return seen_; }
    int Unseen() const;

  signals:
    // The count of changes the operator has not seen, whenever it changes.
    void UnseenChanged(int unseen);

  private:
    FleetHealthActions& source_;
    ChangeListModel* model_;
    QTableView* table_;
    QPushButton* seen_;
};

class FleetHealthPanel final : public QWidget {
    Q_OBJECT
  public:
    explicit FleetHealthPanel(FleetHealthActions& source, QWidget* parent = nullptr);

    QTreeView* Tree() const { return tree_; }
    RegionTreeModel* Regions() const { return regions_; }
    ChangeList* Changes() const { return changes_; }
    QSplitter* Splitter() const { return splitter_; }

  private:
    RegionTreeModel* regions_;
    QTreeView* tree_;
    ChangeList* changes_;
    QSplitter* splitter_;
};

}  // namespace pelmora
