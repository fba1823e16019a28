#include "GroupLauncher.h"

#include <QMessageBox>

#include <unordered_set>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "GbkCodec.h"
#include "GroupJob.h"

namespace pelmora {

namespace {

// The content as far as the confirmation quotes it.
constexpr int kQuotedCharacters = 60;

QString QuotedContent(const std::string& gbk) {
    const QString content = QString::fromStdString(GbkToUtf8Lossy(gbk));
    // Characters, not UTF-16 units: a pair of surrogates is one.
    qsizetype end = 0;
    for (int taken = 0; end < content.size() && taken < kQuotedCharacters; ++taken) {
        const bool pair = content[end].isHighSurrogate() && end + 1 < content.size() &&
                          content[end + 1].isLowSurrogate();
        end += pair ? 2 : 1;
    }
    QString quoted = content.left(end);
    // One line in the box, however the content is broken.
    quoted.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    quoted.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (end < content.size()) quoted += QStringLiteral("…");
    return quoted;
}

QString Question(CommandKind kind, const std::string& content, const TickedTerminals& ticked,
                 const QString& whose) {
    const std::size_t total = ticked.online.size() + ticked.offline.size();
    const QString action = QString::fromStdString(GbkToUtf8Lossy(GroupKindName(kind)));
    QString question =
        QStringLiteral("确认对%1 %2 台设备执行“%3”吗?").arg(whose, QString::number(total), action);
    if (kind == CommandKind::SendPlayContent)
        question += QStringLiteral("\n播放内容: “%1”").arg(QuotedContent(content));
    if (!ticked.offline.empty()) {
        question += QStringLiteral("\n其中 %1 台离线,将跳过,只向 %2 台在线设备发送。")
                        .arg(ticked.offline.size())
                        .arg(ticked.online.size());
    }
    if (ticked.hidden > 0) {
        question +=
            QStringLiteral("\n其中 %1 台被设备列表的筛选隐藏(已勾选但未显示)。").arg(ticked.hidden);
    }
    return question;
}

}  // namespace

TickedTerminals CollectTicked(const IDeviceList& devices,
                              const std::function<bool(int row)>& shown) {
    TickedTerminals ticked;
    for (int row = 0; row < devices.RowCount(); ++row) {
        if (!devices.IsChecked(row)) continue;
        std::uint32_t id = 0;
        if (!ParseDeviceId(devices.IdText(row), id)) continue;
        (devices.OnlineText(row) == text::kOnline ? ticked.online : ticked.offline).push_back(id);
        if (shown && !shown(row)) ++ticked.hidden;
    }
    return ticked;
}

bool GroupLauncher::IsMassAction(CommandKind kind) {
    return kind == CommandKind::SendPlayContent || kind == CommandKind::PlayMp3 ||
           kind == CommandKind::RestartDevice || kind == CommandKind::SendUpgradeParams;
}

GroupLauncher::GroupLauncher(CommandEngine& engine, const IDeviceList& devices)
    : engine_(engine), devices_(devices) {}

bool GroupLauncher::Launch(CommandKind kind, std::string jobText) {
    return Submit(kind, std::move(jobText), CollectTicked(devices_, shown_),
                  QStringLiteral("已选择的"));
}

bool GroupLauncher::LaunchTo(CommandKind kind, std::string jobText,
                             const std::vector<std::uint32_t>& terminals, const QString& whose,
                             const RecordNote& note) {
    std::unordered_set<std::uint32_t> online;
    for (int row = 0; row < devices_.RowCount(); ++row) {
        std::uint32_t id = 0;
        if (devices_.OnlineText(row) == text::kOnline && ParseDeviceId(devices_.IdText(row), id))
            online.insert(id);
    }
    TickedTerminals split;
    for (const std::uint32_t id : terminals)
        (online.count(id) != 0 ? split.online : split.offline).push_back(id);
    return Submit(kind, std::move(jobText), std::move(split), whose, note);
}

bool GroupLauncher::Ask(CommandKind kind, const std::string& jobText, const TickedTerminals& ticked,
                        const QString& whose) {
    const std::size_t total = ticked.online.size() + ticked.offline.size();
    const QString question = Question(kind, jobText, ticked, whose);
    // Enter alone must not send to every ticked terminal: No is the default,
    // and many terminals need their number typed.
    const bool many = confirmCount_ && countAbove_ && IsMassAction(kind) && total > countAbove_();
    return many       ? confirmCount_(question, QStringLiteral("群发确认"), total)
           : confirm_ ? confirm_(question, QStringLiteral("群发确认"))
                      : QMessageBox::question(nullptr, QStringLiteral("群发确认"), question,
                                              QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::No) == QMessageBox::Yes;
}

bool GroupLauncher::Submit(CommandKind kind, std::string jobText, TickedTerminals ticked,
                           const QString& whose, const RecordNote& note) {
    const std::size_t total = ticked.online.size() + ticked.offline.size();
    if (total == 0) {
        engine_.Log(text::kNoDeviceChosen);
        return false;
    }
    if (engine_.Busy()) {
        engine_.Log(text::kBusy);
        return false;
    }
    jobText = engine_.DrillContent(kind, std::move(jobText));
    if (!Ask(kind, jobText, ticked, whose)) return false;
    auto job = std::make_shared<GroupJob>(kind, std::move(jobText), std::move(ticked.online),
                                          std::move(ticked.offline));
    job->SetNote(note);
    if (!engine_.SubmitGroupJob(job)) return false;
    if (started_) started_(job);
    return true;
}

}  // namespace pelmora
