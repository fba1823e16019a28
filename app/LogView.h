// The log as the operator reads it: a table of the log's lines under a filter
// box and the four kinds, in a dock across the bottom of the window. The
// table follows the newest line while it is scrolled to the bottom and stays
// on the rows the operator scrolled to otherwise; Ctrl+C copies the selected
// rows' lines exactly as they were written.
#pragma once

#include <QWidget>

#include <array>

#include "LogClassifier.h"

class QAction;
class QCheckBox;
class QDockWidget;
class QLineEdit;
class QMainWindow;
class QTableView;

namespace pelmora {

class LogFilter;
class LogModel;

class LogView final : public QWidget {
    Q_OBJECT
  public:
    // The text column is at least this wide in characters of a group's
    // outcome line ("群发播放内容完成: 成功 …, 服务已停止 …").
    static const QString& WidestOutcomeLine();

    explicit LogView(LogModel& model, QWidget* parent = nullptr);

    // The dock "日志" ("logDock") at the bottom of `window`, across its whole
    // width, showing `model`. Its toggle goes to the menu "视图" when the
    // window has one, else beside the other docks' toggles.
    static QDockWidget* MakeDock(QMainWindow& window, LogModel& model);

    QTableView* Table() const { return table_; }
    QLineEdit* FilterBox() const { return filterBox_; }
    QCheckBox* KindBox(LogKind kind) const { return kindBoxes_[static_cast<std::size_t>(kind)]; }
    LogFilter& Filter() const { return *filter_; }

    // The selected rows' lines, oldest first, separated by "\r\n".
    QString SelectedLines() const;
    // Puts SelectedLines() on the clipboard (Ctrl+C).
    void CopySelection() const;
    // True while new rows scroll into view.
    bool Following() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void WatchRows();
    // The text column fills the room the others leave, and never gets
    // narrower than a group outcome line.
    void FitTextColumn();
    bool AtBottom() const;

    LogFilter* filter_;
    QLineEdit* filterBox_;
    std::array<QCheckBox*, kLogKinds> kindBoxes_{};
    QTableView* table_;
    QAction* copy_;
    int textMinWidth_ = 0;
    bool follow_ = true;  // the table was at the bottom before the change
    int topShift_ = 0;    // rows taken out above the top row
};

}  // namespace pelmora
