// The device list: one row per terminal seen since the service started, with
// a check box in front; the list itself is the store. Rows are found through
// an index kept beside the list.
#pragma once

#include <QHash>
#include <QString>
#include <QWidget>

#include <cstdint>

#include "Dovrik.h"
#include "EngineUi.h"

class QLabel;

namespace pelmora {

class CReportCtrl;

class CDeviceView final : public QWidget, public IDeviceList {
    Q_OBJECT
  public:
    static constexpr int kListWidth = 928;
    static constexpr int kTitleHeight = 24;

    explicit CDeviceView(QWidget* parent = nullptr);

    // One refresh: every listed terminal is marked offline unless it is in
    // `online`, whose rows are updated or appended. Texts are only written
    // where they change.
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
    void SetPowerText(int row, const std::string& text) override;

    CReportCtrl* List() const { return list_; }
    QString Cell(int row, int column) const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    int FindRow(const QString& idText) const;
    void SetIfChanged(int row, int column, const QString& text);

    QLabel* title_;
    CReportCtrl* list_;
    // ID text -> row; checked on use and rebuilt when a sort moved the rows.
    mutable QHash<QString, int> index_;
};

// "%d-%02d-%02d %02d:%02d:%02d" in local time.
QString LocalTimeText(std::uint32_t seconds);

}  // namespace pelmora
