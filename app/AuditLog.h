// The lasting record of the log pane: the pane forgets its text when it passes
// its size limit and when the program ends, the operator's record must not.
// Every line the pane shows is appended, stamped with the local date and time,
// to one UTF-8 file per day, "pelmora-YYYY-MM-DD.log".
//
// Window thread only. Nothing here throws or stops the program: a file that
// cannot be opened or written costs the line, and the caller is told once so
// that it can say so in the pane.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <functional>
#include <optional>

namespace pelmora {

class AuditLog final {
  public:
    using Clock = std::function<QDateTime()>;

    // The folder named by PELMORA_LOG_DIR, else DefaultDirectory().
    AuditLog();
    AuditLog(const AuditLog&) = delete;
    AuditLog& operator=(const AuditLog&) = delete;

    // "logs" in the application's data folder.
    static QString DefaultDirectory();

    // Takes effect with the next line; the folder is created when needed.
    void SetDirectory(const QString& directory);
    const QString& Directory() const { return directory_; }
    // Local time; the stamp and the day's file both come from it.
    void SetClock(Clock clock);
    QString FilePathFor(const QDate& day) const;

    // Appends one stamped line. Returns the text to show in the pane when this
    // is the first failure since the last line that was written.
    std::optional<QString> Write(const QString& line);

    // A log line may hold line breaks of its own; in the file each becomes a
    // space (trailing ones are dropped), so one file line is one log line.
    static QString OneLine(const QString& line);

  private:
    bool OpenFor(const QDate& day);

    QString directory_;
    Clock clock_;
    QFile file_;     // open for append while the last write succeeded
    QDate fileDay_;  // the day file_ belongs to
    bool failureReported_ = false;
};

}  // namespace pelmora
