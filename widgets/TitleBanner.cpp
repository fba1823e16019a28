#include "TitleBanner.h"

#include <QLabel>

namespace pelmora {

QLabel* MakeTitleBanner(const QString& title, QWidget* parent) {
    auto* banner = new QLabel(QStringLiteral("  ") + title, parent);
    banner->setObjectName("titleBanner");
    banner->setStyleSheet(
        "QLabel#titleBanner { background: #1f4e79; color: white; font-weight: bold; }");
    banner->setFixedHeight(kTitleBannerHeight);
    return banner;
}

}  // namespace pelmora
