// The warning record in the window ("预警记录"): the latest records, newest
// first, narrowed by date, kind, region, outcome and content; one record
// opened with every terminal's outcomes, exported as CSV, and sent again as
// a new group job to the terminals it did not reach. The queries and the
// CSV are the store's (WarningDetail.h); this is their window.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Store.h"
#include "WarningDetail.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;

namespace pelmora {

class GroupLauncher;

// The records found, one a row.
class WarningListModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column {
        kId,
        kStarted,
        kKind,
        kScope,
        kContent,
        kOperator,
        kState,
        kExpires,
        kDrill,
        kColumns
    };

    using QAbstractTableModel::QAbstractTableModel;
    void SetWarnings(std::vector<store::Warning> warnings);
    const store::Warning* At(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    QString Cell(int row, int column) const;

  private:
    std::vector<store::Warning> warnings_;
};

// One record's outcomes: every attempt, by terminal; the earlier attempts
// greyed, or left out when only the latest are asked for.
class OutcomeModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kDevice, kName, kRegion, kAttempt, kWord, kTime, kDetail, kColumns };

    using QAbstractTableModel::QAbstractTableModel;
    void SetDetail(std::shared_ptr<const store::WarningDetail> detail);
    void SetLatestOnly(bool latestOnly);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    QString Cell(int row, int column) const;

  private:
    void Select();

    std::shared_ptr<const store::WarningDetail> detail_;
    bool latestOnly_ = false;
    std::vector<std::size_t> rows_;  // indexes into detail_->outcomes
};

class HistoryView final : public QDialog {
    Q_OBJECT
  public:
    struct Hooks {
        // Message boxes and the log, as the main window has them.
        std::function<void(const QString& text, const QString& caption)> inform;
        std::function<void(const QString& line)> log;
        // Whether the service runs: a job is sent only then.
        std::function<bool()> serviceRunning;
        // Starts the job again for the terminals it did not reach; none: the
        // record cannot be sent again from here.
        GroupLauncher* launcher = nullptr;
    };
    // Where to save the CSV file, given a suggested name; empty: not saved.
    using AskSaveFile = std::function<QString(const QString& suggested)>;

    HistoryView(store::Store& store, Hooks hooks, QWidget* parent = nullptr);

    // The records the filters find; false, with a message and the list as
    // it was, when the filters do not make sense.
    bool Query();
    // Shows one record's outcomes; false when the store has no such record.
    bool OpenRecord(std::int64_t id);
    // The selected row's record.
    void OpenSelected();
    // The open record as CSV, to a file the operator names.
    void OnExport();
    bool ExportCsv(const QString& path) const;
    // A new group job of the open record's kind and content to every
    // terminal whose latest outcome is not success, after the launcher's
    // confirmation.
    void ResendFailed();

    // Replaceable for tests: the file dialog.
    void SetAskSaveFile(AskSaveFile ask) { askSave_ = std::move(ask); }

    const WarningListModel& List() const { return list_; }
    const OutcomeModel& Outcomes() const { return outcomes_; }
    const store::WarningDetail* Detail() const { return detail_.get(); }
    QString SummaryText() const;
    QTableView* ListTable() const { return listTable_; }
    QTableView* OutcomeTable() const { return outcomeTable_; }
    QCheckBox* FromCheck() const { return fromCheck_; }
    QCheckBox* ToCheck() const { return toCheck_; }
    QDateEdit* FromDate() const { return fromDate_; }
    QDateEdit* ToDate() const { return toDate_; }
    QComboBox* KindBox() const { return kind_; }
    QComboBox* WordBox() const { return word_; }
    QLineEdit* RegionBox() const { return region_; }
    QLineEdit* TextBox() const { return text_; }
    QPushButton* QueryButton() const { return query_; }
    QPushButton* ExportButton() const { return export_; }
    QPushButton* ResendButton() const { return resend_; }

  private:
    std::optional<store::WarningQuery> ReadFilters();
    void ShowDetail();
    void Inform(const QString& text) const;
    void Log(const QString& line) const;

    store::Store& store_;
    Hooks hooks_;
    AskSaveFile askSave_;
    WarningListModel list_;
    OutcomeModel outcomes_;
    std::shared_ptr<const store::WarningDetail> detail_;

    QCheckBox* fromCheck_;
    QDateEdit* fromDate_;
    QCheckBox* toCheck_;
    QDateEdit* toDate_;
    QComboBox* kind_;
    QComboBox* word_;
    QLineEdit* region_;
    QLineEdit* text_;
    QSpinBox* count_;
    QPushButton* query_;
    QLabel* found_;
    QTableView* listTable_;
    QPushButton* view_;
    QLabel* title_;
    QLabel* summary_;
    QCheckBox* latestOnly_;
    QPushButton* export_;
    QPushButton* resend_;
    QTableView* outcomeTable_;
};

}  // namespace pelmora
