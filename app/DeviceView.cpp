#include "DeviceView.h"

#include <QLabel>

#include <QResizeEvent>
#include "TitleBanner.h"

#include <ctime>

#include "CommandTexts.h"
#include "GbkCodec.h"
#include "ReportCtrl.h"

namespace pelmora {

namespace {

enum Column { kId, kLogin, kUpdate, kSim, kAddress, kOnline, kPower };

const QString& OnlineWord() {
    static const QString word = QStringLiteral("在线");
    return word;
}
const QString& OfflineWord() {
    static const QString word = QStringLiteral("离线");
    return word;
}

QString IdTextOf(std::uint32_t id) {
    return QString::asprintf("%08x", id);
}

QString AddressText(const ModemInfo& info) {
    return QString::asprintf("%u.%u.%u.%u", info.ipAddress[0], info.ipAddress[1], info.ipAddress[2],
                             info.ipAddress[3]);
}

QString SimText(const ModemInfo& info) {
    return QString::fromLatin1(info.simNumber,
                               static_cast<int>(strnlen(info.simNumber, sizeof info.simNumber)));
}

}  // namespace

QString LocalTimeText(std::uint32_t seconds) {
    const std::time_t t = seconds;
    std::tm local{};
    localtime_r(&t, &local);
    return QString::asprintf("%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                             local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

CDeviceView::CDeviceView(QWidget* parent) : QWidget(parent) {
    title_ = MakeTitleBanner(QStringLiteral("终端设备列表"), this);
    title_->setGeometry(0, 0, kListWidth, kTitleBannerHeight);
    list_ = new CReportCtrl(this);
    const std::pair<QString, int> columns[] = {
        {QStringLiteral("设备ID"), 100},       {QStringLiteral("登陆时间"), 140},
        {QStringLiteral("最后更新时间"), 140}, {QStringLiteral("SIM 号码"), 140},
        {QStringLiteral("动态IP地址"), 160},   {QStringLiteral("是否在线"), 80},
        {QStringLiteral("供电模式"), 80}};
    for (const auto& [title, width] : columns) list_->AddColumn(title, width);
    // Byte-wise comparisons follow the system's GBK order.
    list_->SetByteForm([](const QString& text) {
        const auto gbk = Utf8ToGbk(text.toStdString());
        return gbk ? QByteArray::fromStdString(*gbk) : text.toUtf8();
    });
    list_->SetCheckBoxes(true);
    list_->SetGridLines(true);
    list_->setGeometry(0, kTitleHeight, kListWidth, std::max(0, height() - kTitleHeight));
}

void CDeviceView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The list keeps its width however wide the window grows.
    list_->setGeometry(0, kTitleHeight, kListWidth,
                       std::max(0, event->size().height() - kTitleHeight));
}

int CDeviceView::FindRow(const QString& idText) const {
    const auto hit = index_.constFind(idText);
    if (hit != index_.constEnd() && hit.value() < list_->RowCount() &&
        list_->Text(hit.value(), kId) == idText) {
        return hit.value();
    }
    if (hit == index_.constEnd() && index_.size() == list_->RowCount()) return -1;
    // Rows moved (a sort) or the index is stale: rebuild it once. The first
    // row with the text wins, as a scan from the top would find it.
    index_.clear();
    for (int row = list_->RowCount() - 1; row >= 0; --row)
        index_.insert(list_->Text(row, kId), row);
    const auto again = index_.constFind(idText);
    return again == index_.constEnd() ? -1 : again.value();
}

int CDeviceView::FindRow(const std::string& idText) const {
    return FindRow(QString::fromStdString(GbkToUtf8Lossy(idText)));
}

void CDeviceView::SetIfChanged(int row, int column, const QString& text) {
    if (list_->Text(row, column) != text) list_->SetText(row, column, text);
}

void CDeviceView::MarkAllOffline() {
    for (int row = 0; row < list_->RowCount(); ++row) SetIfChanged(row, kOnline, OfflineWord());
}

void CDeviceView::UpdateFromModem(const ModemInfo& info) {
    const QString id = IdTextOf(info.deviceId);
    const QString login = LocalTimeText(info.loginTime);
    const QString update = LocalTimeText(info.lastUpdateTime);
    const QString sim = SimText(info);
    const QString address = AddressText(info);
    const int row = FindRow(id);
    if (row < 0) {
        const int added = list_->InsertRow(
            list_->RowCount(),
            {id, login, update, sim, address, OnlineWord(), QStringLiteral("未知")});
        if (added >= 0) index_.insert(id, added);
        return;
    }
    SetIfChanged(row, kLogin, login);
    SetIfChanged(row, kUpdate, update);
    SetIfChanged(row, kSim, sim);
    SetIfChanged(row, kAddress, address);
    SetIfChanged(row, kOnline, OnlineWord());
}

void CDeviceView::Refresh(const std::vector<ModemInfo>& online) {
    // The same end state as marking every row offline and then updating the
    // registered ones, without writing each online row twice.
    QHash<int, const ModemInfo*> seen;
    seen.reserve(static_cast<int>(online.size()));
    std::vector<const ModemInfo*> appended;
    for (const ModemInfo& info : online) {
        const int row = FindRow(IdTextOf(info.deviceId));
        if (row < 0) {
            appended.push_back(&info);
        } else {
            seen.insert(row, &info);
        }
    }
    for (int row = 0; row < list_->RowCount(); ++row) {
        const auto it = seen.constFind(row);
        if (it == seen.constEnd()) {
            SetIfChanged(row, kOnline, OfflineWord());
        } else {
            UpdateFromModem(*it.value());
        }
    }
    for (const ModemInfo* info : appended) UpdateFromModem(*info);
}

void CDeviceView::RemoveAllRows() {
    list_->DeleteAllRows();
    index_.clear();
}

int CDeviceView::RowCount() const {
    return list_->RowCount();
}

bool CDeviceView::IsChecked(int row) const {
    return list_->IsChecked(row);
}

QString CDeviceView::Cell(int row, int column) const {
    return list_->Text(row, column);
}

std::string CDeviceView::IdText(int row) const {
    return Utf8ToGbk(list_->Text(row, kId).toStdString()).value_or(std::string());
}

std::string CDeviceView::OnlineText(int row) const {
    return Utf8ToGbk(list_->Text(row, kOnline).toStdString()).value_or(std::string());
}

void CDeviceView::SetPowerText(int row, const std::string& text) {
    if (row >= 0 && row < list_->RowCount())
        list_->SetText(row, kPower, QString::fromStdString(GbkToUtf8Lossy(text)));
}

}  // namespace pelmora
