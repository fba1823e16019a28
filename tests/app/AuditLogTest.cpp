#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include "AuditLog.h"

namespace pelmora {
namespace {

QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

class AuditLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        log_.SetDirectory(dir_.filePath(QStringLiteral("logs")));
        log_.SetClock([this] { return now_; });
    }

    QTemporaryDir dir_;
    QDateTime now_{QDate(2024, 3, 5), QTime(14, 7, 9)};
    AuditLog log_;
};

TEST_F(AuditLogTest, StampsEachLineInTheDaysFile) {
    EXPECT_FALSE(log_.Write(QStringLiteral("服务已启动")));
    now_ = now_.addSecs(61);
    EXPECT_FALSE(log_.Write(QString()));
    EXPECT_EQ(FileLines(dir_.filePath(QStringLiteral("logs/pelmora-2024-03-05.log"))),
              (QStringList{QStringLiteral("2024-03-05 14:07:09 服务已启动"),
                           QStringLiteral("2024-03-05 14:08:10 ")}));
}

TEST_F(AuditLogTest, BreaksInsideALineBecomeSpaces) {
    EXPECT_EQ(AuditLog::OneLine(QStringLiteral("a\r\nb\nc\rd\r\n")), QStringLiteral("a b c d"));
    EXPECT_EQ(AuditLog::OneLine(QStringLiteral("\r\n")), QString());
    log_.Write(QStringLiteral("上个操作未完成，请稍后再试\r\n"));
    log_.Write(QStringLiteral("x\n\ny"));
    EXPECT_EQ(FileLines(log_.FilePathFor(now_.date())),
              (QStringList{QStringLiteral("2024-03-05 14:07:09 上个操作未完成，请稍后再试"),
                           QStringLiteral("2024-03-05 14:07:09 x  y")}));
}

TEST_F(AuditLogTest, MidnightStartsTheNextDaysFile) {
    now_ = QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59));
    log_.Write(QStringLiteral("old year"));
    now_ = now_.addSecs(1);
    log_.Write(QStringLiteral("new year"));
    EXPECT_EQ(FileLines(log_.FilePathFor(QDate(2024, 12, 31))),
              QStringList{QStringLiteral("2024-12-31 23:59:59 old year")});
    EXPECT_EQ(FileLines(log_.FilePathFor(QDate(2025, 1, 1))),
              QStringList{QStringLiteral("2025-01-01 00:00:00 new year")});
}

TEST_F(AuditLogTest, AppendsAcrossProgramRuns) {
    log_.Write(QStringLiteral("first run"));
    {
        AuditLog again;
        again.SetDirectory(log_.Directory());
        again.SetClock([this] { return now_; });
        again.Write(QStringLiteral("second run"));
    }
    EXPECT_EQ(FileLines(log_.FilePathFor(now_.date())).size(), 2);
}

TEST_F(AuditLogTest, FolderComesFromTheEnvironmentUnlessSet) {
    const QByteArray saved = qgetenv("PELMORA_LOG_DIR");
    const QString fromEnvironment = dir_.filePath(QStringLiteral("env"));
    qputenv("PELMORA_LOG_DIR", fromEnvironment.toLocal8Bit());
    AuditLog log;
    qunsetenv("PELMORA_LOG_DIR");
    AuditLog byDefault;
    if (!saved.isEmpty()) qputenv("PELMORA_LOG_DIR", saved);
    EXPECT_EQ(log.Directory(), fromEnvironment);
    EXPECT_EQ(byDefault.Directory(), AuditLog::DefaultDirectory());
    EXPECT_TRUE(AuditLog::DefaultDirectory().endsWith(QStringLiteral("/logs")));
}

TEST_F(AuditLogTest, FailureIsReportedOncePerRunOfFailures) {
    // A file where the folder should be: not writable even for root.
    QFile blocker(dir_.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString good = log_.Directory();
    log_.SetDirectory(dir_.filePath(QStringLiteral("blocker/logs")));

    const auto report = log_.Write(QStringLiteral("lost 1"));
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->startsWith(QStringLiteral("日志文件写入失败: ")));
    EXPECT_TRUE(report->contains(QStringLiteral("pelmora-2024-03-05.log")));
    EXPECT_FALSE(log_.Write(QStringLiteral("lost 2")));

    log_.SetDirectory(good);
    EXPECT_FALSE(log_.Write(QStringLiteral("kept")));
    log_.SetDirectory(dir_.filePath(QStringLiteral("blocker/logs")));
    EXPECT_TRUE(log_.Write(QStringLiteral("lost 3")));
    EXPECT_EQ(FileLines(QDir(good).filePath(QStringLiteral("pelmora-2024-03-05.log"))),
              QStringList{QStringLiteral("2024-03-05 14:07:09 kept")});
}

TEST_F(AuditLogTest, FailedWriteOfAnOpenFileIsReported) {
    if (!QFile::exists(QStringLiteral("/dev/full"))) GTEST_SKIP() << "no full device";
    ASSERT_TRUE(QDir().mkpath(log_.Directory()));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), log_.FilePathFor(now_.date())));
    EXPECT_TRUE(log_.Write(QStringLiteral("disk full")));
    EXPECT_FALSE(log_.Write(QStringLiteral("still full")));
}

}  // namespace
}  // namespace pelmora
