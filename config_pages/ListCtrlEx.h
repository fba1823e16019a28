// An editable grid: any cell, row or column can be given an editor (one of
// the owner's hidden controls plus two optional callbacks), read-only flags
// and colours. A double-click opens the editor over the cell; Enter, a click
// elsewhere or a focus change commits; Escape cancels, leaving the cell as it
// was; Tab walks the editable cells.
//
// Editor windows and callbacks stay the owner's: while editing, the grid
// borrows the editor into its viewport and, when the grid goes, hands it back
// to the parent it came from; it never deletes one. Rows, columns and cells
// are addressed by index; out-of-range indexes do nothing and read as empty,
// 0 or false. Interface thread only.
#pragma once

#include <QColor>
#include <QPoint>
#include <QTableWidget>

#include <functional>
#include <memory>
#include <vector>

namespace pelmora {

class CListCtrlEx;

// Both callbacks: (editor window, row, column, text in/out, the row's owner
// item data, the grid, update flag). init may replace the editor window; its
// result is ignored. end decides the close: 0 leaves the cell, non-zero
// writes the text, -1 also re-sorts by the edited column.
using EditorCallback = std::function<int(QWidget*& editor, int row, int column, QString& text,
                                         quintptr itemData, CListCtrlEx& grid, bool update)>;

struct EditorRecord {
    EditorCallback init;
    EditorCallback end;
    QWidget* editor = nullptr;
    bool readOnly = false;
    // Present when it has an init callback or an editor window.
    bool Present() const { return static_cast<bool>(init) || editor != nullptr; }
};

class CListCtrlEx : public QTableWidget {
    Q_OBJECT
  public:
    explicit CListCtrlEx(QWidget* parent = nullptr);
    ~CListCtrlEx() override;

    // Structure.
    int InsertColumn(int column, const QString& title, int width);
    int ColumnCount() const;
    int InsertRow(int row, const QString& firstText);  // attaches an empty row record
    int RowCount() const;
    void SetItemText(int row, int column, const QString& text);
    QString ItemText(int row, int column) const;
    void SetItemData(int row, quintptr data);
    quintptr ItemData(int row) const;
    bool DeleteRow(int row);
    void DeleteAllItems();    // rows and their records
    void DeleteAllColumns();  // columns and their records

    // Editors, read-only flags and colours at each level. An invalid QColor
    // means "not set".
    void SetDefaultEditor(QWidget* editor, EditorCallback init = {}, EditorCallback end = {});
    void SetColumnEditor(int column, QWidget* editor, EditorCallback init = {},
                         EditorCallback end = {});
    void SetRowEditor(int row, QWidget* editor, EditorCallback init = {}, EditorCallback end = {});
    void SetCellEditor(int row, int column, QWidget* editor, EditorCallback init = {},
                       EditorCallback end = {});
    void SetColumnReadOnly(int column, bool readOnly);
    void SetRowReadOnly(int row, bool readOnly);
    void SetCellReadOnly(int row, int column, bool readOnly);
    bool IsCellReadOnly(int row, int column) const;  // any level
    void SetColumnColors(int column, QColor background, QColor text);
    void SetRowColors(int row, QColor background, QColor text);
    void SetCellColors(int row, int column, QColor background, QColor text);
    // The colours a cell is drawn with: the first level with a colour set
    // (cell, row, column); within it an unset component takes the default.
    QColor EffectiveBackground(int row, int column) const;
    QColor EffectiveTextColor(int row, int column) const;

    // Editing. DisplayEditor commits any open edit first and answers whether
    // an editor is now up. HideEditor(true) commits, and an end callback
    // decides what (if anything) is written; (false) cancels: the end
    // callback is told, and the cell keeps its value from before the edit.
    // A close from within a close does nothing.
    bool DisplayEditor(int row, int column);
    void HideEditor(bool update);
    bool IsEditing() const;
    QPoint EditedCell() const;  // (-1, -1) when idle; x is the column, y the row

    // Sorting by header click: flags bit 0/1 direction, bit 2 flips on
    // each click; all clear = not sortable. kind 1 integer, 2 float.
    void SetColumnSort(int column, int flags, int kind);
    void SetAppendRowOnTab(bool append);
    void SetDeleteKeyEnabled(bool enabled);
    // Asked when Tab runs past the last cell with appending on, or the grid
    // is empty; the base version adds nothing.
    virtual bool AddNewRow();

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pelmora
