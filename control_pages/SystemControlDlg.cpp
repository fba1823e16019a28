#include "SystemControlDlg.h"

#include <QLabel>
#include <QResizeEvent>

#include <algorithm>

#include "Mp3Control.h"
#include "TabSheet.h"
#include "UpgradeControl.h"

namespace pelmora {

namespace {
constexpr int kBannerHeight = 24;
}

CSystemControlDlg::CSystemControlDlg(CommandEngine& engine, const IDeviceList& devices,
                                     QWidget* parent)
    : QWidget(parent) {
    auto* banner = new QLabel(QStringLiteral("  远程控制"), this);
    banner->setObjectName("controlBanner");
    banner->setStyleSheet(
        "QLabel#controlBanner { background: #1f4e79; color: white; font-weight: bold; }");
    banner->setGeometry(0, 0, 1200, kBannerHeight - 2);
    tabs_ = new CTabSheet(this);
    mp3Page_ = new CMp3Control(engine, devices);
    upgradePage_ = new CUpgradeControl(engine, devices);
    tabs_->AddPage(QStringLiteral("系统控制"), mp3Page_, 143);
    tabs_->AddPage(QStringLiteral("升级控制"), upgradePage_, 144);
    tabs_->setGeometry(0, kBannerHeight, 1180, 560);
    tabs_->ShowPages();
}

void CSystemControlDlg::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    tabs_->setGeometry(0, kBannerHeight, std::max(0, width() - 20),
                       std::max(0, height() - kBannerHeight - 10));
}

}  // namespace pelmora
