#include "AuditLog.h"

#include <QDir>
#include <QStandardPaths>

namespace pelmora {

namespace {

constexpr char kDirectoryVariable[] = "PELMORA_LOG_DIR";

bool IsLineBreak(QChar c) {
    return c == u'\r' || c == u'\n' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

}  // namespace

AuditLog::AuditLog() : clock_([] { return QDateTime::currentDateTime(); }) {
    const QString fromEnvironment = qEnvironmentVariable(kDirectoryVariable);
    directory_ = fromEnvironment.isEmpty() ? DefaultDirectory() : fromEnvironment;
}

QString AuditLog::DefaultDirectory() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    // Without a data folder there is no sensible default; an empty folder
    // makes every write fail (and say so) rather than land in the root.
    return data.isEmpty() ? QString() : data + QStringLiteral("/logs");
}

void AuditLog::SetDirectory(const QString& directory) {
    if (directory == directory_) return;
    directory_ = directory;
    file_.close();
}

void AuditLog::SetClock(Clock clock) {
    if (clock) clock_ = std::move(clock);
}

QString AuditLog::FilePathFor(const QDate& day) const {
    const QString name =
        QStringLiteral("pelmora-%1.log").arg(day.toString(QStringLiteral("yyyy-MM-dd")));
    return directory_.isEmpty() ? name : QDir(directory_).filePath(name);
}

QString AuditLog::OneLine(const QString& line) {
    qsizetype end = line.size();
    while (end > 0 && IsLineBreak(line.at(end - 1))) --end;
    QString flat;
    flat.reserve(end);
    for (qsizetype i = 0; i < end; ++i) {
        const QChar c = line.at(i);
        if (!IsLineBreak(c)) {
            flat.append(c);
        } else if (!(c == u'\r' && i + 1 < end && line.at(i + 1) == u'\n')) {
            flat.append(u' ');  // "\r\n" is one break, one space
        }
    }
    return flat;
}

bool AuditLog::OpenFor(const QDate& day) {
    if (file_.isOpen() && fileDay_ == day) return true;
    file_.close();
    if (directory_.isEmpty() || !QDir().mkpath(directory_)) return false;
    file_.setFileName(FilePathFor(day));
    fileDay_ = day;
    return file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

std::optional<QString> AuditLog::Write(const QString& line) {
    QDateTime now = clock_();
    if (!now.isValid()) now = QDateTime::currentDateTime();
    const QByteArray bytes =
        (now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + OneLine(line) + u'\n').toUtf8();

    // Flushed per line: what the operator saw must be on disk if the program
    // dies the next moment.
    if (OpenFor(now.date()) && file_.write(bytes) == bytes.size() && file_.flush()) {
        failureReported_ = false;
        return std::nullopt;
    }
    // Closed so that the next line tries afresh (the folder may come back).
    file_.close();
    if (failureReported_) return std::nullopt;
    failureReported_ = true;
    return QStringLiteral("日志文件写入失败: ") + QDir::toNativeSeparators(FilePathFor(now.date()));
}

}  // namespace pelmora
