#include "DeviceConfigDlg.h"

#include <QDateTime>
#include <QLabel>
#include <QResizeEvent>

#include "TitleBanner.h"

#include "BaseConfig.h"
#include "CommandEngine.h"
#include "CommandTexts.h"
#include "NumberListPage.h"
#include "TabSheet.h"

namespace pelmora {

namespace {
// The pages start just below the banner.
constexpr int kPagesTop = kTitleBannerHeight + 2;
// Where the banner's note of the shown read-back starts, after the title.
constexpr int kOriginLeft = 110;
}  // namespace

CDeviceConfigDlg::CDeviceConfigDlg(CommandEngine& engine, IDeviceList& devices, QWidget* parent)
    : QWidget(parent), engine_(engine) {
    MakeTitleBanner(QStringLiteral("远程配置"), this)->setGeometry(0, 0, 1200, kTitleBannerHeight);
    // On the banner, in plain view on every page: whose settings these are.
    originLabel_ = new QLabel(this);
    originLabel_->setObjectName(QStringLiteral("settingsOrigin"));
    originLabel_->setStyleSheet(QStringLiteral("QLabel { color: #ffe9a8; font-weight: bold; }"));
    // Just after the title, so a narrow window still shows it.
    originLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    originLabel_->setText(DescribeOrigin(std::nullopt));
    originLabel_->setGeometry(kOriginLeft, 0, 1200 - kOriginLeft, kTitleBannerHeight);
    tabs_ = new CTabSheet(this);
    baseConfig_ = new CBaseConfig(engine, devices);
    adminPage_ = new CAdminNoDlg(engine, devices);
    authorizePage_ = new CLrmNoDlg(engine, devices);
    backupPage_ = new CBackNoDlg(engine, devices);
    tabs_->AddPage(QStringLiteral("基本信息配置"), baseConfig_, 137);
    tabs_->AddPage(QStringLiteral("管理号码设置"), adminPage_, 134);
    tabs_->AddPage(QStringLiteral("授权号码设置"), authorizePage_, 136);
    tabs_->AddPage(QStringLiteral("备份号码设置"), backupPage_, 135);
    tabs_->setGeometry(0, kPagesTop, 1180, 560);
    tabs_->ShowPages();
    engine.SetSettingsGrid(baseConfig_);
}

CNumberListPage* CDeviceConfigDlg::NumberPage(int listKind) const {
    switch (listKind) {
        case 1:
            return adminPage_;
        case 2:
            return authorizePage_;
        case 3:
            return backupPage_;
        default:
            return nullptr;
    }
}

QString CDeviceConfigDlg::DescribeOrigin(const std::optional<SettingsOrigin>& origin) {
    if (!origin) return QStringLiteral("尚未回读任何设备的参数  ");
    const QString when = QDateTime::fromSecsSinceEpoch(origin->readAt)
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QString text = QStringLiteral("当前显示: 设备 %1 的参数, 回读于 %2")
                       .arg(QString::fromStdString(DeviceIdText(origin->deviceId)), when);
    if (!origin->complete) text += QStringLiteral(" (报告不完整)");
    return text + QStringLiteral("  ");
}

QString CDeviceConfigDlg::OriginText() const {
    return originLabel_->text().trimmed();
}

void CDeviceConfigDlg::FillPagesFromSettings() {
    // The lists are emptied first, then everything is read under the lock.
    for (int kind = 1; kind <= 3; ++kind) NumberPage(kind)->FillNumberList({});
    originLabel_->setText(DescribeOrigin(engine_.Origin()));
    auto lock = engine_.LockSettings();
    const AlarmSettings& settings = engine_.Settings();
    adminPage_->FillNumberList(settings.adminNumbers);
    authorizePage_->FillNumberList(settings.authorizeNumbers);
    backupPage_->FillNumberList(settings.backupNumbers);
    baseConfig_->FillFromSettings(settings);
}

// A notice that arrives after another terminal's read-back replaced the
// record belongs to lists no longer shown.
void CDeviceConfigDlg::OnNumbersAdded(const ListChangeNotice& notice) {
    if (!engine_.PagesHold(notice.deviceId)) return;
    if (CNumberListPage* page = NumberPage(notice.listKind)) page->OnNumbersAdded(notice);
}

void CDeviceConfigDlg::OnNumbersDeleted(const ListChangeNotice& notice) {
    if (!engine_.PagesHold(notice.deviceId)) return;
    if (CNumberListPage* page = NumberPage(notice.listKind)) page->OnNumbersDeleted(notice);
}

void CDeviceConfigDlg::OnNumbersReset(const ListChangeNotice& notice) {
    if (!engine_.PagesHold(notice.deviceId)) return;
    if (CNumberListPage* page = NumberPage(notice.listKind)) page->OnNumbersReset(notice);
}

void CDeviceConfigDlg::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    tabs_->setGeometry(0, kPagesTop, std::max(0, width() - 20),
                       std::max(0, height() - kPagesTop - 10));
    originLabel_->setGeometry(kOriginLeft, 0, std::max(0, std::min(width(), 1200) - kOriginLeft),
                              kTitleBannerHeight);
}

}  // namespace pelmora
