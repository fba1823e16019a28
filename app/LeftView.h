// The left pane: three buttons that choose the page of the lower right pane
// (the configuration button also commits the configuration to the terminal).
// It also keeps the log, where every part of the program reports what it did:
// its lines (LogModel, shown by the log dock's LogView) and their daily file.
// Other parts never touch the log: they post a LogLineEvent from any thread.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <string>

#include "AuditLog.h"
#include "LinkApi.h"

class QEvent;
class QGroupBox;
class QPushButton;

namespace pelmora {

class IDeviceList;
class LogModel;

class CLeftView final : public QWidget {
    Q_OBJECT

  public:
    enum class Page { Configuration, Control, DataSend };
    Q_ENUM(Page)

    // Asked before the commit; true for Yes.
    using Confirm = std::function<bool(const QString& text, const QString& caption)>;

    static constexpr int kPaneWidth = 200;

    // `devices` must outlive the pane; `link` carries the commit.
    CLeftView(IDeviceList& devices, LinkApi link, QWidget* parent = nullptr);

    // The append rule for callers on the window thread; posted lines take
    // the same path. Every line also goes to the audit file.
    void AppendLog(const QString& line);
    // The same rule for a batch of lines, inserted at once.
    void AppendLogLines(const QStringList& lines);
    void ClearLog();
    // The whole log, its lines separated by "\r\n".
    QString LogText() const;
    // The log's lines, at most LogModel::kMaxRows of them.
    LogModel& LogTable() { return *log_; }

    void SetConfirm(Confirm confirm);
    // Where the pane's own lines go; by default straight into the log. The
    // window routes them through the same queue as every other line, so all
    // lines keep the order in which they were written.
    void SetLogSink(std::function<void(const QString&)> sink) { logSink_ = std::move(sink); }
    AuditLog& Audit() { return audit_; }

  signals:
    void PageRequested(pelmora::CLeftView::Page page);

  protected:
    bool event(QEvent* e) override;

  private:
    void ShowPageIfSelected(Page page);
    void CommitConfiguration();
    // The number of checked rows when every one is usable, else 0 (logged).
    int CheckSelectedDevice();
    void LogGbk(const std::string& gbkLine);
    void Say(const QString& line);

    IDeviceList& devices_;
    LinkApi link_;
    Confirm confirm_;
    std::function<void(const QString&)> logSink_;  // empty: straight into the log
    AuditLog audit_;
    LogModel* log_;  // a child

    QGroupBox* buttonFrame_;
    QPushButton* dataSendButton_;
    QPushButton* controlButton_;
    QPushButton* configButton_;
};

}  // namespace pelmora
