#include "GroupJobPanel.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "CommandTexts.h"
#include "GbkCodec.h"

namespace pelmora {

namespace {

constexpr int kRefreshMs = 200;

QString FromGbk(const std::string& text) {
    return QString::fromStdString(GbkToUtf8Lossy(text));
}

QString CsvField(const QString& text) {
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

}  // namespace

void GroupJobModel::SetJob(std::shared_ptr<GroupJob> job) {
    beginResetModel();
    job_ = std::move(job);
    members_ = job_ ? job_->Members() : std::vector<GroupMember>{};
    revision_ = job_ ? job_->Revision() : 0;
    endResetModel();
}

bool GroupJobModel::Refresh() {
    if (!job_ || job_->Revision() == revision_) return false;
    revision_ = job_->Revision();
    std::vector<GroupMember> members = job_->Members();
    if (members.size() != members_.size()) {
        beginResetModel();
        members_ = std::move(members);
        endResetModel();
    } else {
        members_ = std::move(members);
        if (!members_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
    }
    return true;
}

int GroupJobModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(members_.size());
}

int GroupJobModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString GroupJobModel::Cell(int row, int column) const {
    if (row < 0 || row >= rowCount()) return {};
    const GroupMember& member = members_[static_cast<std::size_t>(row)];
    switch (column) {
        case kDevice:
            return QString::fromStdString(DeviceIdText(member.deviceId));
        case kOutcome:
            return FromGbk(GroupOutcomeName(member.outcome));
        case kProgress:
            return member.pieces > 1
                       ? QStringLiteral("%1/%2").arg(member.piecesDone).arg(member.pieces)
                       : QString();
        case kSoftware:
        case kBoot: {
            if (!job_) return {};
            const auto versions = job_->Versions(member.deviceId);
            if (!versions) return {};
            return FromGbk(column == kSoftware ? versions->first : versions->second);
        }
        default:
            return {};
    }
}

QVariant GroupJobModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return Cell(index.row(), index.column());
}

QVariant GroupJobModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    switch (section) {
        case kDevice:
            return QStringLiteral("设备ID");
        case kOutcome:
            return QStringLiteral("状态");
        case kProgress:
            return QStringLiteral("分片");
        case kSoftware:
            return QStringLiteral("软件版本");
        case kBoot:
            return QStringLiteral("BOOT版本");
        default:
            return {};
    }
}

CGroupJobPanel::CGroupJobPanel(QWidget* parent) : QWidget(parent) {
    counts_ = new QLabel(QStringLiteral("没有群发任务"), this);
    counts_->setObjectName(QStringLiteral("groupCounts"));
    table_ = new QTableView(this);
    table_->setModel(&model_);
    table_->verticalHeader()->setDefaultSectionSize(20);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    cancel_ = new QPushButton(QStringLiteral("取消未完成"), this);
    cancel_->setObjectName(QStringLiteral("groupCancel"));
    cancel_->setEnabled(false);
    export_ = new QPushButton(QStringLiteral("导出CSV"), this);
    export_->setObjectName(QStringLiteral("groupExport"));
    export_->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(export_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(counts_);
    layout->addLayout(buttons);
    layout->addWidget(table_, 1);

    connect(cancel_, &QPushButton::clicked, this, &CGroupJobPanel::OnCancel);
    connect(export_, &QPushButton::clicked, this, &CGroupJobPanel::OnExport);
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &CGroupJobPanel::Update);
}

void CGroupJobPanel::Show(std::shared_ptr<GroupJob> job) {
    job_ = std::move(job);
    model_.SetJob(job_);
    table_->resizeColumnToContents(GroupJobModel::kDevice);
    timer_.start();
    Update();
}

void CGroupJobPanel::Update() {
    model_.Refresh();
    counts_->setText(CountsText());
    const bool finished = !job_ || job_->Finished();
    cancel_->setEnabled(!finished);
    export_->setEnabled(job_ != nullptr);
    if (finished) timer_.stop();
}

QString CGroupJobPanel::CountsText() const {
    if (!job_) return QStringLiteral("没有群发任务");
    const GroupCounts c = job_->Counts();
    const QString state = job_->Finished() ? QStringLiteral("已完成")
                                           : QStringLiteral("进行中 %1").arg(c.waiting + c.sent);
    QString text =
        QStringLiteral("%1: 共 %2 台, %3\n成功 %4 | 拒绝 %5 | 超时 %6 | 离线 %7 | 发送失败 %8")
            .arg(FromGbk(GroupKindName(job_->Kind())))
            .arg(c.total)
            .arg(state)
            .arg(c.succeeded)
            .arg(c.refused)
            .arg(c.timedOut)
            .arg(c.offline)
            .arg(c.sendFailed);
    // The rarer endings only when they happened.
    const std::pair<int, GroupOutcome> rare[] = {{c.connectionLost, GroupOutcome::ConnectionLost},
                                                 {c.unconfirmed, GroupOutcome::Unconfirmed},
                                                 {c.cancelled, GroupOutcome::Cancelled},
                                                 {c.serviceStopped, GroupOutcome::ServiceStopped}};
    for (const auto& [count, outcome] : rare) {
        if (count > 0 || outcome == GroupOutcome::Cancelled)
            text += QStringLiteral(" | %1 %2").arg(FromGbk(GroupOutcomeName(outcome))).arg(count);
    }
    return text;
}

void CGroupJobPanel::OnCancel() {
    if (job_) job_->Cancel();
    Update();
}

void CGroupJobPanel::OnExport() {
    if (!job_) return;
    const QString path = askFileName_
                             ? askFileName_()
                             : QFileDialog::getSaveFileName(this, QStringLiteral("导出群发结果"),
                                                            QStringLiteral("group-outcomes.csv"),
                                                            QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    emit LogLine(ExportCsv(path) ? QStringLiteral("群发结果已导出到 %1").arg(path)
                                 : QStringLiteral("注意!群发结果无法写入 %1").arg(path));
}

bool CGroupJobPanel::ExportCsv(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    GroupJobModel model;
    model.SetJob(job_);
    QString text;
    for (int column = 0; column < GroupJobModel::kColumns; ++column) {
        if (column > 0) text += u',';
        text += model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    }
    text += QStringLiteral("\r\n");
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < GroupJobModel::kColumns; ++column) {
            if (column > 0) text += u',';
            text += CsvField(model.Cell(row, column));
        }
        text += QStringLiteral("\r\n");
    }
    // A byte-order mark, so spreadsheet programs read the Chinese as UTF-8.
    const QByteArray bytes = "\xEF\xBB\xBF" + text.toUtf8();
    return file.write(bytes) == bytes.size() && file.flush();
}

}  // namespace pelmora
