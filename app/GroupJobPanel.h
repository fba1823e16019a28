// The running group job, live: each terminal's state and outcome, the counts,
// and the operator's two actions on it: cancel what has not been sent or
// answered yet, and export the outcomes as CSV. It reads the job on a short
// timer; the job itself is updated by the worker.
#pragma once

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "GroupJob.h"

class QLabel;
class QPushButton;
class QTableView;

namespace pelmora {

class GroupJobModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kDevice, kOutcome, kProgress, kSoftware, kBoot, kColumns };

    using QAbstractTableModel::QAbstractTableModel;
    void SetJob(std::shared_ptr<GroupJob> job);
    // Takes the job's members again when they changed; true when they did.
    bool Refresh();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    QString Cell(int row, int column) const;

  private:
    std::shared_ptr<GroupJob> job_;
    std::vector<GroupMember> members_;
    std::uint64_t revision_ = 0;
};

class CGroupJobPanel final : public QWidget {
    Q_OBJECT
  public:
    // Asks where to save the CSV file; empty: not saved.
    using AskFileName = std::function<QString()>;

    explicit CGroupJobPanel(QWidget* parent = nullptr);

    // Shows this job from now on.
    void Show(std::shared_ptr<GroupJob> job);
    // One look at the job (the timer's work).
    void Update();
    void OnCancel();
    void OnExport();
    // Every member as a CSV line after a header, UTF-8; false when the file
    // cannot be written.
    bool ExportCsv(const QString& path) const;
    void SetAskFileName(AskFileName ask) { askFileName_ = std::move(ask); }

    const GroupJobModel& Model() const { return model_; }
    QString CountsText() const;
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* ExportButton() const { return export_; }
    QTableView* Table() const { return table_; }

  signals:
    // A line for the log (the export's outcome).
    void LogLine(const QString& line);

  private:
    std::shared_ptr<GroupJob> job_;
    GroupJobModel model_;
    QTimer timer_;
    QLabel* counts_;
    QTableView* table_;
    QPushButton* cancel_;
    QPushButton* export_;
    AskFileName askFileName_;
};

}  // namespace pelmora
