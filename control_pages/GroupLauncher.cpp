#include "GroupLauncher.h"

#include <QMessageBox>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "GbkCodec.h"
#include "GroupJob.h"

namespace pelmora {

TickedTerminals CollectTicked(const IDeviceList& devices) {
    TickedTerminals ticked;
    for (int row = 0; row < devices.RowCount(); ++row) {
        if (!devices.IsChecked(row)) continue;
        std::uint32_t id = 0;
        if (!ParseDeviceId(devices.IdText(row), id)) continue;
        (devices.OnlineText(row) == text::kOnline ? ticked.online : ticked.offline).push_back(id);
    }
    return ticked;
}

GroupLauncher::GroupLauncher(CommandEngine& engine, const IDeviceList& devices)
    : engine_(engine), devices_(devices) {}

bool GroupLauncher::Launch(CommandKind kind, std::string jobText) {
    TickedTerminals ticked = CollectTicked(devices_);
    const std::size_t total = ticked.online.size() + ticked.offline.size();
    if (total == 0) {
        engine_.Log(text::kNoDeviceChosen);
        return false;
    }
    if (engine_.Busy()) {
        engine_.Log(text::kBusy);
        return false;
    }
    const QString action = QString::fromStdString(GbkToUtf8Lossy(GroupKindName(kind)));
    QString question = QStringLiteral("确认对已选择的 %1 台设备执行“%2”吗?").arg(total).arg(action);
    if (!ticked.offline.empty()) {
        question += QStringLiteral("\n其中 %1 台离线,将跳过,只向 %2 台在线设备发送。")
                        .arg(ticked.offline.size())
                        .arg(ticked.online.size());
    }
    const bool yes = confirm_ ? confirm_(question, QStringLiteral("群发确认"))
                              : QMessageBox::question(nullptr, QStringLiteral("群发确认"),
                                                      question) == QMessageBox::Yes;
    if (!yes) return false;
    auto job = std::make_shared<GroupJob>(kind, std::move(jobText), std::move(ticked.online),
                                          std::move(ticked.offline));
    if (!engine_.SubmitGroupJob(job)) return false;
    if (started_) started_(job);
    return true;
}

}  // namespace pelmora
