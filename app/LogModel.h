// The log's lines as a table: time, terminal, kind and text. Each row keeps
// its line exactly as written; the table holds at most kMaxRows rows, and the
// oldest go in one block when a batch would pass the bound. LogFilter shows
// the rows of some kinds that hold a text. Window thread only.
#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QPointer>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>
#include <QStringMatcher>

#include <cstdint>
#include <deque>
#include <functional>

#include "LogClassifier.h"

namespace pelmora {

class LogModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kTimeColumn, kTerminalColumn, kKindColumn, kTextColumn, kColumns };
    // The row's line exactly as written (a QString).
    static constexpr int kLineRole = Qt::UserRole + 1;
    static constexpr int kMaxRows = 100'000;

    using Clock = std::function<QDateTime()>;

    explicit LogModel(QObject* parent = nullptr);

    // The time each appended line is stamped with; local time by default.
    void SetClock(Clock clock);

    // One line; a batch is inserted at once (one beginInsertRows), after the
    // oldest rows that would pass the bound are taken out in one block.
    void Append(const QString& line);
    void AppendLines(const QStringList& lines);
    void Clear();

    // Every line, separated by "\r\n".
    QString Text() const;
    const QString& Line(int row) const { return rows_[static_cast<std::size_t>(row)].line; }
    LogKind Kind(int row) const { return rows_[static_cast<std::size_t>(row)].kind; }
    // The line case-folded, with the terminal's ID when the line does not hold
    // it: what the filter searches.
    const QString& SearchText(int row) const { return rows_[static_cast<std::size_t>(row)].search; }
    // Eight lowercase hex digits, or empty.
    QString TerminalText(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    struct Row {
        QString line;
        QString search;  // shares `line` when folding changes nothing
        qint64 msecs = 0;
        std::uint32_t terminal = 0;
        bool hasTerminal = false;
        LogKind kind = LogKind::System;
    };
    static Row MakeRow(const QString& line, qint64 msecs);

    Clock clock_;
    std::deque<Row> rows_;
};

// The rows of the kinds shown whose line (or terminal) holds the text, in any
// case. Answers from what LogModel folded when the line came, so a change
// over kMaxRows rows costs one pass of plain comparisons.
class LogFilter final : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    explicit LogFilter(QObject* parent = nullptr);

    // The rows of a LogModel; another model's rows are all shown.
    void setSourceModel(QAbstractItemModel* source) override;

    void SetText(const QString& text);
    const QString& Text() const { return text_; }
    void SetKindShown(LogKind kind, bool shown);
    bool KindShown(LogKind kind) const { return (kinds_ & Bit(kind)) != 0; }

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

  private:
    static unsigned Bit(LogKind kind) { return 1u << static_cast<unsigned>(kind); }
    static constexpr unsigned kAllKinds = (1u << kLogKinds) - 1;
    // Makes `change` and has the proxy filter every row again.
    template <typename Change>
    void Refilter(Change change);

    QPointer<const LogModel> log_;  // null when the source is no LogModel, or gone
    QString text_;
    QStringMatcher matcher_;  // the folded text, case-sensitive
    unsigned kinds_ = kAllKinds;
};

}  // namespace pelmora
