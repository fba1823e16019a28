#include "SystemControlDlg.h"

#include <QLabel>

#include <QResizeEvent>
#include "TitleBanner.h"

#include <algorithm>

#include "Mp3Control.h"
#include "TabSheet.h"
#include "UpgradeControl.h"

namespace pelmora {

namespace {
// The pages start just below the banner.
constexpr int kPagesTop = kTitleBannerHeight + 2;
}  // namespace

CSystemControlDlg::CSystemControlDlg(CommandEngine& engine, const IDeviceList& devices,
                                     QWidget* parent)
    : QWidget(parent) {
    MakeTitleBanner(QStringLiteral("远程控制"), this)->setGeometry(0, 0, 1200, kTitleBannerHeight);
    tabs_ = new CTabSheet(this);
    mp3Page_ = new CMp3Control(engine, devices);
    upgradePage_ = new CUpgradeControl(engine, devices);
    tabs_->AddPage(QStringLiteral("系统控制"), mp3Page_, 143);
    tabs_->AddPage(QStringLiteral("升级控制"), upgradePage_, 144);
    tabs_->setGeometry(0, kPagesTop, 1180, 560);
    tabs_->ShowPages();
}

void CSystemControlDlg::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    tabs_->setGeometry(0, kPagesTop, std::max(0, width() - 20),
                       std::max(0, height() - kPagesTop - 10));
}

}  // namespace pelmora
