// The dark title strip across the top of a pane or panel.
#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace pelmora {

inline constexpr int kTitleBannerHeight = 22;

// A banner of kTitleBannerHeight pixels showing `title`, child of `parent`.
QLabel* MakeTitleBanner(const QString& title, QWidget* parent);

}  // namespace pelmora
