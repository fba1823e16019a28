// The device list: one row per terminal seen since the service started and,
// once a registry is set, per registered terminal too, with a check box in
// front; the list's model is the store. Rows are found through an index kept
// beside the list. A registered terminal that is offline tells in "是否在线"
// how long ("离线 3 小时"), or "从未上线"; only "在线" is online.
//
// A bar above the list chooses a group: a filter that hides the rows whose
// device ID, SIM number, address, name, region (name or code) and tags all
// lack its text, a region and a tag box, buttons that tick the shown rows or
// untick every row, and the counts. The filter only hides:
// a hidden row keeps its tick, counts as ticked and, when it is the first
// ticked row, is still the terminal single-terminal commands go to. So what
// IsChecked reports is always what the count "已选" adds up, and "全部取消"
// is the one way to clear ticks the filter hides.
//
// Rows are addressed in list order, hidden rows included: top to bottom as
// the last header click sorted them, kept sorted as their texts change (and
// new rows in their place); before any click, the order they were added.
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "DeviceTable.h"
#include "Dovrik.h"
#include "EngineUi.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace pelmora {

namespace dispatch {
class RegistryKeeper;
}
namespace store {
struct Terminal;
}

class CDeviceView final : public QWidget, public IDeviceList {
    Q_OBJECT
  public:
    // The columns of earlier versions, then what the registry adds.
    enum Column { kId, kLogin, kUpdate, kSim, kAddress, kOnline, kPower, kName, kRegion, kTags };
    static constexpr int kListWidth = 1180;
    static constexpr int kTitleHeight = 24;
    static constexpr int kBarHeight = 30;
    static constexpr int kListTop = kTitleHeight + kBarHeight;
    static constexpr int kCountsRowHeight = 22;  // the counts under the bar, when narrow

    struct Counts {
        int checked = 0;
        int shown = 0;
        int online = 0;
        int total = 0;
        int battery = 0;  // rows whose power column shows battery power
        // The registry's terminals offline longer than the long-offline time,
        // and those never online; as of the last pass over the registry.
        int longOffline = 0;
        int neverOnline = 0;
        bool operator==(const Counts&) const = default;
    };

    // The registry the list shows besides the terminals of this run. The
    // keeper outlives the view.
    struct Registry {
        const dispatch::RegistryKeeper* keeper = nullptr;
        std::function<std::int64_t()> now;  // seconds since 1970
        std::function<int()> alertMinutes;  // the long-offline time
    };
    // How often the offline times are written again without a refresh.
    static constexpr int kRegistryPassMs = 60 * 1000;
    // Rows of registered terminals made in one pass of the event loop: the
    // rows of a large registry are made over several, so that the window
    // paints and answers meanwhile, and join the list at once.
    static constexpr int kRowsPerPass = 1000;

    explicit CDeviceView(QWidget* parent = nullptr);
    ~CDeviceView() override;

    // Shows the registry from now on, and again every kRegistryPassMs.
    void SetRegistry(Registry registry);
    // One pass over the registry: rows for registered terminals without one
    // (but not those the operator removed, until they are online again; for
    // a large registry they join the list a few passes of the event loop
    // later), the name, region and tag columns and boxes when the registry
    // changed, the offline times and the counts.
    void ShowRegistry();

    // One refresh: every listed terminal is marked offline unless it is in
    // `online`, whose rows are updated or appended; then the registry's pass.
    // Texts are only written where they change; ticks stay, and the filter
    // applies to new rows and to rows whose SIM number or address changed.
    void Refresh(const std::vector<ModemInfo>& online);
    void MarkAllOffline();
    void UpdateFromModem(const ModemInfo& info);
    void RemoveAllRows();

    // IDeviceList (window thread).
    int RowCount() const override;
    bool IsChecked(int row) const override;
    std::string IdText(int row) const override;
    std::string OnlineText(int row) const override;
    int FindRow(const std::string& idText) const override;
    int FindRow(const QString& idText) const;
    void SetPowerText(int row, const std::string& text) override;

    // The group: device ID text and whether the row shows "在线", for every
    // ticked row in list order, hidden ones included.
    std::vector<std::pair<std::string, bool>> CheckedTerminals() const;

    // The bar's actions, as its boxes and buttons do them. A region is its
    // code, or its name when it has no code; empty chooses every region (or
    // tag).
    void SetFilterText(const QString& text);
    void SetRegionFilter(const QString& region);
    void SetTagFilter(const QString& tag);
    void CheckAllShown();
    void CheckOnlineShown();
    void UncheckAll();
    bool IsShown(int row) const;
    Counts RowCounts() const;

    // The context menu of a row (copy the device ID, the terminal's page,
    // read back, query versions, disconnect, remove an offline row); null off
    // the rows. The caller shows it; it deletes itself when closed.
    QMenu* RowMenu(int row);
    // Takes an offline row out of the list; false for an online one. A
    // registered terminal's row stays out until the terminal is online again
    // or the rows are all removed.
    bool RemoveOfflineRow(int row);

    CDeviceTable* List() const { return list_; }
    QLineEdit* FilterBox() const { return filter_; }
    QLabel* CountsLabel() const { return countsLabel_; }
    QComboBox* RegionBox() const { return regionBox_; }
    QComboBox* TagBox() const { return tagBox_; }
    QString Cell(int row, int column) const;

  signals:
    // The row menu's commands that go to the terminal; `idText` is "%08x".
    void ReadBackRequested(const QString& idText);
    void VersionsRequested(const QString& idText);
    void DisconnectRequested(const QString& idText);
    void TerminalPageRequested(const QString& idText);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    using Row = DeviceTableModel::Row;
    using RowPtr = DeviceTableModel::RowPtr;

    // Private helpers take the model's own rows ("source rows", the order
    // the rows were added), which a sort does not move.
    QWidget* MakeBar();
    // Lays out the bar at this width; the list's top below it.
    int PlaceBar(int width);
    // The source row of a terminal, -1 without one.
    int SourceRowOf(std::uint32_t deviceId) const;
    bool SetIfChanged(int at, int column, const QString& text);
    // A new row of a terminal online, with its filter state.
    RowPtr MakeRow(const ModemInfo& info) const;
    // Appends the rows in one insertion and indexes them.
    void AppendRows(std::vector<RowPtr> rows);
    // The registry's entry of the terminal; null without one.
    const store::Terminal* Entry(std::uint32_t deviceId) const;
    // What "是否在线" says of a terminal that is not online.
    const QString& OfflineText(std::uint32_t deviceId, std::int64_t now);
    // The registry's operator columns and boxes when it changed, and rows
    // for its terminals that have none.
    void SyncRegistry();
    // Makes kRowsPerPass of the missing rows, and the rest at the next
    // passes; once all are made, they join the list.
    void AddPendingRows();
    void FillBoxes();
    void CountRegistry(std::int64_t now);
    int AlertMinutes() const;
    void ApplyFilterToAll();
    // Returns whether a text the filter reads changed.
    bool UpdateRow(int at, const ModemInfo& info);
    bool Matches(const Row& row) const;
    void ApplyFilter(int at);
    bool IsOnlineAt(int at) const;
    // Ticks (or unticks) the rows `pick` accepts, then shows the counts once.
    template <typename Pick>
    void CheckRows(bool checked, Pick pick);
    void ShowCounts();

    QLabel* title_;
    QLineEdit* filter_;
    QComboBox* regionBox_;
    QComboBox* tagBox_;
    QLabel* countsLabel_;
    QWidget* bar_;
    CDeviceTable* list_;
    DeviceTableModel* rows_;  // the list's
    // Device ID -> source row.
    QHash<std::uint32_t, int> index_;
    // What each terminal's row was last written from.
    QHash<std::uint32_t, ModemInfo> written_;
    // The filter box's text, trimmed; empty shows every row.
    QString filterText_;
    // The chosen region and tag (UTF-8, as the registry has them); empty:
    // every one.
    std::string regionFilter_;
    std::string tagFilter_;
    Registry registry_;
    // The registry's revision the rows and boxes were last made from.
    std::uint64_t syncedRevision_ = 0;
    bool synced_ = false;
    // Registered terminals whose rows the operator removed.
    QSet<std::uint32_t> removed_;
    // Registered terminals still to be listed, in ID order: rows for those
    // before pendingAt_ are made and wait in staged_.
    std::vector<std::uint32_t> pending_;
    std::size_t pendingAt_ = 0;
    std::vector<RowPtr> staged_;
    bool addScheduled_ = false;
    // "离线 N 分钟" and the like, made once each.
    QHash<std::int64_t, QString> offlineTexts_;
    QTimer registryTimer_;
    int longOffline_ = 0;
    int neverOnline_ = 0;
    // Kept as rows change rather than counted at each refresh (the ticked
    // and hidden rows are counted by the model). Rows leave all at once, or
    // one offline row at a time through RemoveOfflineRow.
    int online_ = 0;
    int battery_ = 0;
};

// One row of the device list as a list of its own, ticked: the row menu's
// commands go to that row's terminal whatever is ticked.
class SingleRowList final : public IDeviceList {
  public:
    SingleRowList(CDeviceView& view, int row) : view_(view), row_(row) {}
    int RowCount() const override { return row_ < 0 ? 0 : 1; }
    bool IsChecked(int) const override { return true; }
    std::string IdText(int) const override { return view_.IdText(row_); }
    std::string OnlineText(int) const override { return view_.OnlineText(row_); }
    int FindRow(const std::string& idText) const override { return view_.FindRow(idText); }
    void SetPowerText(int row, const std::string& text) override { view_.SetPowerText(row, text); }

  private:
    CDeviceView& view_;
    int row_;
};

// How long a terminal has been offline, in whole minutes, hours or days
// ("离线 3 小时"); "离线" under a minute.
QString OfflineTimeText(std::int64_t seconds);

// "离线超过30分钟: 12", for the counts and the status bar.
QString LongOfflineText(const CDeviceView::Counts& counts, int alertMinutes);

// "%d-%02d-%02d %02d:%02d:%02d" in local time.
QString LocalTimeText(std::uint32_t seconds);

}  // namespace pelmora
