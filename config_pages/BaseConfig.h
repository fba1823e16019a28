// The settings grid page: every setting of the terminal last read as a
// labelled row, edited in place, with "保存设置" and "参数回读". The grid's
// cells are the working copy; the save sequence reads them back.
#pragma once

#include <QWidget>

#include <map>
#include <optional>
#include <string>

#include "EngineUi.h"
#include "SettingsRecord.h"

class QComboBox;
class QDateTimeEdit;
class QLineEdit;
class QPushButton;

namespace pelmora {

class CListCtrlEx;
class CommandEngine;

class CBaseConfig final : public QWidget, public ISettingsGrid {
    Q_OBJECT
  public:
    static constexpr int kLeftRows = 34;
    static constexpr int kRightRows = 22;

    CBaseConfig(CommandEngine& engine, IDeviceList& devices, QWidget* parent = nullptr);

    void BuildRows();
    // Writes the value cells from the record (the caller holds its lock).
    void FillFromSettings(const AlarmSettings& settings);
    void OnSaveSettings();
    void OnReadBack();

    // ISettingsGrid, from any thread: cell reads are carried out on the
    // window thread.
    std::optional<std::string> CellText(int row, int column) override;
    std::string CellLabel(int row, int column) override;

    CListCtrlEx* Grid() const { return grid_; }
    QComboBox* ChoiceEditor() const { return choiceEditor_; }
    QLineEdit* TextEditor() const { return textEditor_; }
    QLineEdit* DefaultEditor() const { return defaultEditor_; }

  private:
    void Queue(int kind, const char* queuedLine, const char* refusedLine);
    // The cell as GBK, read on the window thread.
    std::optional<std::string> CellOnWindowThread(int row, int column);

    CommandEngine& engine_;
    IDeviceList& devices_;
    CListCtrlEx* grid_;
    QComboBox* choiceEditor_;   // 1006
    QComboBox* spareChoice_;    // 1007, bound but used by no row
    QDateTimeEdit* spareDate_;  // 1008, bound but used by no row
    QLineEdit* textEditor_;     // 1009
    QLineEdit* defaultEditor_;  // 1010
    QPushButton* saveButton_;   // 1004
    QPushButton* readButton_;   // 1005
    // Window thread: each value cell's text as filled and the record's bytes
    // behind it. A record value that does not decode cleanly shows a lossy
    // text; while the cell still shows it, the save reads the bytes back, so
    // an unchanged grid stays unchanged.
    std::map<std::pair<int, int>, std::pair<QString, std::string>> filled_;
};

}  // namespace pelmora
