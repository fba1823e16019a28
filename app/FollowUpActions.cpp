#include "FollowUpActions.h"

#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <memory>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "FollowUps.h"
#include "GbkCodec.h"
#include "GroupJob.h"
#include "RegistryKeeper.h"
#include "ServiceSettings.h"
#include "WarningRecorder.h"

namespace pelmora {

namespace {

constexpr int kTickMs = 1000;

QString IdText(std::uint32_t deviceId) {
    return QString::fromStdString(DeviceIdText(deviceId));
}

}  // namespace

FollowUpActions::FollowUpActions(dispatch::FollowUps& followUps, dispatch::RegistryKeeper& keeper,
                                 dispatch::WarningRecorder& recorder, CommandEngine& engine,
                                 ServiceSettings& settings, Log log, QWidget* dialogParent)
    : followUps_(followUps),
      keeper_(keeper),
      recorder_(recorder),
      engine_(engine),
      settings_(settings),
      log_(std::move(log)),
      parent_(dialogParent) {
    recorder_.SetDefaultValidity(static_cast<std::int64_t>(settings_.validityMinutes) * 60);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start(kTickMs);
}

void FollowUpActions::Registered(const std::vector<std::uint32_t>& deviceIds) {
    if (deviceIds.empty()) return;
    followUps_.Registered(deviceIds);
    Tick();
}

bool FollowUpActions::Tick() {
    // Only when idle: the operator's own commands are never refused because
    // a follow-up queued first, and a busy engine is tried again next tick.
    if (engine_.Busy()) return false;
    auto job = followUps_.Next([this](std::uint32_t id) { return keeper_.Online(id); });
    if (!job) return false;
    auto group = std::make_shared<GroupJob>(job->kind, job->text, job->deviceIds,
                                            std::vector<std::uint32_t>{});
    group->SetNote({job->warningId, job->attempt, -1});
    log_(QStringLiteral("补发预警记录%1(第%2次发送)给%3台重新上线的终端")
             .arg(job->warningId)
             .arg(job->attempt)
             .arg(job->deviceIds.size()));
    if (!engine_.SubmitGroupJob(group)) return false;
    followUps_.Taken(*job);
    return true;
}

void FollowUpActions::ShowPending() {
    QDialog dialog(parent_);
    dialog.setWindowTitle(QStringLiteral("待补发预警"));
    dialog.resize(620, 420);
    auto* layout = new QVBoxLayout(&dialog);
    auto* table = new QTableWidget(&dialog);
    table->setColumnCount(5);
    table->setHorizontalHeaderLabels({QStringLiteral("预警记录"), QStringLiteral("设备ID"),
                                      QStringLiteral("名称"), QStringLiteral("已发送次数"),
                                      QStringLiteral("有效期至")});
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(22);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setStretchLastSection(true);
    auto* count = new QLabel(&dialog);
    const auto fill = [&] {
        const std::vector<store::FollowUp> pending = followUps_.Pending();
        table->setRowCount(static_cast<int>(pending.size()));
        for (int row = 0; row < table->rowCount(); ++row) {
            const store::FollowUp& f = pending[static_cast<std::size_t>(row)];
            auto* warning = new QTableWidgetItem(QString::number(f.warningId));
            warning->setData(Qt::UserRole, static_cast<qlonglong>(f.warningId));
            auto* device = new QTableWidgetItem(IdText(f.deviceId));
            device->setData(Qt::UserRole, static_cast<qulonglong>(f.deviceId));
            table->setItem(row, 0, warning);
            table->setItem(row, 1, device);
            const auto known = keeper_.Terminals().find(f.deviceId);
            table->setItem(row, 2,
                           new QTableWidgetItem(known == keeper_.Terminals().end()
                                                    ? QString()
                                                    : QString::fromStdString(known->second.name)));
            table->setItem(row, 3, new QTableWidgetItem(QString::number(f.attempts)));
            table->setItem(row, 4,
                           new QTableWidgetItem(QDateTime::fromSecsSinceEpoch(f.expires).toString(
                               "yyyy-MM-dd HH:mm:ss")));
        }
        count->setText(QStringLiteral("共%1条待补发").arg(pending.size()));
    };
    fill();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QPushButton* cancelOne =
        buttons->addButton(QStringLiteral("取消所选终端的补发"), QDialogButtonBox::ActionRole);
    QPushButton* cancelAll =
        buttons->addButton(QStringLiteral("取消所选预警的全部补发"), QDialogButtonBox::ActionRole);
    const auto cancel = [&](bool wholeWarning) {
        const int row = table->currentRow();
        if (row < 0) return;
        const auto warningId = table->item(row, 0)->data(Qt::UserRole).toLongLong();
        const auto deviceId =
            wholeWarning
                ? 0u
                : static_cast<std::uint32_t>(table->item(row, 1)->data(Qt::UserRole).toULongLong());
        const int cancelled = followUps_.Cancel(warningId, deviceId);
        log_(QStringLiteral("已取消预警记录%1的%2条补发").arg(warningId).arg(cancelled));
        fill();
    };
    connect(cancelOne, &QPushButton::clicked, &dialog, [&] { cancel(false); });
    connect(cancelAll, &QPushButton::clicked, &dialog, [&] { cancel(true); });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(count);
    layout->addWidget(table);
    layout->addWidget(buttons);
    dialog.exec();
}

void FollowUpActions::EditSettings() {
    QDialog dialog(parent_);
    dialog.setWindowTitle(QStringLiteral("预警设置"));
    auto* form = new QFormLayout(&dialog);
    auto* validity = new QSpinBox(&dialog);
    validity->setRange(0, 7 * 24 * 60);
    validity->setSuffix(QStringLiteral(" 分钟"));
    validity->setSpecialValueText(QStringLiteral("不补发"));
    validity->setValue(settings_.validityMinutes);
    auto* offline = new QSpinBox(&dialog);
    offline->setRange(1, 7 * 24 * 60);
    offline->setSuffix(QStringLiteral(" 分钟"));
    offline->setValue(settings_.offlineAlertMinutes);
    auto* above = new QSpinBox(&dialog);
    above->setRange(1, 1000000);
    above->setSuffix(QStringLiteral(" 台"));
    above->setValue(settings_.massConfirmAbove);
    auto* prefix = new QLineEdit(settings_.drillPrefix, &dialog);
    prefix->setMaxLength(20);
    form->addRow(QStringLiteral("预警默认有效期(补发期限):"), validity);
    form->addRow(QStringLiteral("离线超过多久计入离线统计:"), offline);
    form->addRow(QStringLiteral("群发超过多少台须输入台数确认:"), above);
    form->addRow(QStringLiteral("演练模式下播放内容前加:"), prefix);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        // Never empty: people near a terminal must hear that it is a drill.
        if (prefix->text().trimmed().isEmpty() || !Utf8ToGbk(prefix->text().toStdString())) {
            QMessageBox::information(&dialog, QStringLiteral("提示"),
                                     QStringLiteral("演练文字不能为空,也不能含有无法发送的字符"));
            return;
        }
        dialog.accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return;
    settings_.StoreRecordSettings(validity->value(), offline->value());
    settings_.StoreSafetySettings(above->value(), prefix->text());
    recorder_.SetDefaultValidity(static_cast<std::int64_t>(settings_.validityMinutes) * 60);
    log_(QStringLiteral("预警设置: 默认有效期%1分钟,离线统计%2分钟,超过%3台须输入台数确认,"
                        "演练文字“%4”")
             .arg(settings_.validityMinutes)
             .arg(settings_.offlineAlertMinutes)
             .arg(settings_.massConfirmAbove)
             .arg(settings_.drillPrefix));
    emit SettingsChanged();
}

}  // namespace pelmora
