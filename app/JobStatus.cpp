#include "JobStatus.h"

#include "CommandTexts.h"
#include "GbkCodec.h"

namespace pelmora {

namespace {

long long Seconds(std::chrono::milliseconds span) {
    return std::chrono::duration_cast<std::chrono::seconds>(span).count();
}

}  // namespace

QString RunningJobText(const RunningJob& job, std::chrono::steady_clock::time_point now) {
    const QString title = QString::fromStdString(
        GbkToUtf8Lossy(JobTitle(job.kind, job.deviceId, job.groupTerminals)));
    const auto elapsed =
        std::max(std::chrono::milliseconds(0),
                 std::chrono::duration_cast<std::chrono::milliseconds>(now - job.started));
    const long long limit = Seconds(job.answerLimit);
    QString text = QStringLiteral("%1 已用 %2 秒").arg(title).arg(Seconds(elapsed));
    if (job.groupTerminals > 0) {
        text += QStringLiteral(" (每台限时 %1 秒)").arg(limit);
    } else if (job.severalAnswers) {
        text += QStringLiteral(" (每次应答限时 %1 秒)").arg(limit);
    } else {
        text += QStringLiteral(" / 限时 %1 秒").arg(limit);
    }
    if (job.cancelling) text += QStringLiteral(", 正在取消");
    return text;
}

QString JobPaneText(const std::optional<RunningJob>& running, std::size_t waiting,
                    std::chrono::steady_clock::time_point now) {
    QString text = running ? QStringLiteral("正在执行: ") + RunningJobText(*running, now)
                           : QStringLiteral("空闲");
    if (waiting > 0) text += QStringLiteral(", 另有 %1 项等待").arg(waiting);
    return text;
}

std::optional<int> PageOfKind(CommandKind kind) {
    switch (kind) {
        case CommandKind::RestartDevice:
            return std::nullopt;
        case CommandKind::PlayMp3:
        case CommandKind::StopMp3:
        case CommandKind::ReadVersion:
        case CommandKind::SendUpgradeParams:
            return 1;
        case CommandKind::SendPlayContent:
            return 2;
        default:
            return 0;
    }
}

}  // namespace pelmora
